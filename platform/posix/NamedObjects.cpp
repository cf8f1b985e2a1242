#include "platform/NamedObjects.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

namespace platform {

NamedObjectError::NamedObjectError(int code, const std::string& what)
    : std::runtime_error(what + ": " + std::strerror(code)), FCode(code) {}

namespace {

using Clock = std::chrono::steady_clock;

// How long an opener waits for another process to finish creating an object
// it has already put under the name.
constexpr auto InitialisationWait = std::chrono::seconds(2);
constexpr auto RetryPause = std::chrono::milliseconds(1);

constexpr uint32_t ObjectMagic = 0x534C5654; // "SLVT"
constexpr uint32_t KindMutex = 1;
constexpr uint32_t KindEvent = 2;

// Starts every mutex and event object. `Ready` is written last, once the rest
// is initialised.
struct ObjectHeader {
    uint32_t Magic;
    uint32_t Kind;
    uint32_t Ready;
    uint32_t Reserved;
};

[[noreturn]] void Fail(int code, const std::string& what, const std::string& name) {
    throw NamedObjectError(code, what + " \"" + name + "\"");
}

// Never follows a symbolic link (O_NOFOLLOW), never waits for the other end
// of a FIFO (O_NONBLOCK).
int OpenObject(const std::string& name, int flags, mode_t mode) {
    return shm_open(NamedObjectSystemName(name).c_str(),
                    flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
}

// Fails at once unless the open object is a regular file with one name,
// owned by the effective user and closed to group and others: anything else
// was put under the name by someone who must not reach this account's
// objects. Closes the descriptor when it fails. Returns the object's size.
off_t CheckPrivate(int fd, const std::string& name) {
    struct stat st {};
    int code = 0;
    const char* problem = nullptr;
    if (fstat(fd, &st) != 0) {
        code = errno;
        problem = "cannot inspect shared object";
    } else if (!S_ISREG(st.st_mode)) {
        code = EEXIST;
        problem = "the name is taken by another kind of object";
    } else if (st.st_uid != geteuid() || (st.st_mode & 077) != 0 || st.st_nlink != 1) {
        code = EACCES;
        problem = "the name is taken by an object that is not private to this account";
    }
    if (problem != nullptr) {
        close(fd);
        Fail(code, problem, name);
    }
    return st.st_size;
}

// Creates a new object of `size` bytes with O_EXCL; returns -1 with errno
// EEXIST when the name is taken.
int CreateExclusive(const std::string& name, size_t size) {
    const int fd = OpenObject(name, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        return -1;
    }
    // shm_open applies the umask, which may take the owner's own bits away.
    // The pages are reserved now: on a full /dev/shm a write to a mapped page
    // that has none would end the process with SIGBUS.
    const int code =
        fchmod(fd, 0600) != 0 ? errno : posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (code != 0) {
        close(fd);
        shm_unlink(NamedObjectSystemName(name).c_str());
        errno = code;
        return -1;
    }
    CheckPrivate(fd, name);
    return fd;
}

// Opens an existing object of this account and waits until its creator has
// given it its size. Fails with EEXIST when the size is not the expected one.
int OpenExisting(const std::string& name, size_t size, bool waitForName) {
    const auto deadline = Clock::now() + InitialisationWait;
    int fd;
    for (;;) {
        fd = OpenObject(name, O_RDWR, 0);
        if (fd >= 0) {
            break;
        }
        if (errno != ENOENT || !waitForName || Clock::now() >= deadline) {
            Fail(errno, "cannot open shared object", name);
        }
        std::this_thread::sleep_for(RetryPause);
    }
    for (;;) {
        const off_t actual = CheckPrivate(fd, name);
        if (actual == static_cast<off_t>(size)) {
            return fd;
        }
        // A size of 0 is an object whose creator has not sized it yet.
        if (actual != 0) {
            close(fd);
            Fail(EEXIST, "the name is taken by another kind of object", name);
        }
        if (Clock::now() >= deadline) {
            close(fd);
            Fail(ETIMEDOUT, "shared object was not initialised in time", name);
        }
        std::this_thread::sleep_for(RetryPause);
    }
}

void* MapObject(int fd, size_t size, const std::string& name) {
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int code = errno;
    close(fd);
    if (data == MAP_FAILED) {
        Fail(code, "cannot map shared object", name);
    }
    return data;
}

// Creates (or, when allowed, opens) a mutex or event object. `init` fills a
// freshly created object; the header's Ready marker is written after it.
template <class T, class Init>
T* CreateOrOpenSynchronisation(const std::string& name, uint32_t kind, bool create, Init init) {
    static_assert(offsetof(T, Header) == 0);
    if (create) {
        const int fd = CreateExclusive(name, sizeof(T));
        if (fd >= 0) {
            auto* object = static_cast<T*>(MapObject(fd, sizeof(T), name));
            object->Header.Magic = ObjectMagic;
            object->Header.Kind = kind;
            init(*object);
            std::atomic_ref<uint32_t>(object->Header.Ready).store(1, std::memory_order_release);
            return object;
        }
        if (errno != EEXIST) {
            Fail(errno, "cannot create shared object", name);
        }
    }
    // A name that vanished between the failed create and the open is one
    // being created again by another process of the account: wait for it.
    const int fd = OpenExisting(name, sizeof(T), create);
    auto* object = static_cast<T*>(MapObject(fd, sizeof(T), name));
    const auto deadline = Clock::now() + InitialisationWait;
    while (std::atomic_ref<uint32_t>(object->Header.Ready).load(std::memory_order_acquire) == 0) {
        if (Clock::now() >= deadline) {
            munmap(object, sizeof(T));
            Fail(ETIMEDOUT, "shared object was not initialised in time", name);
        }
        std::this_thread::sleep_for(RetryPause);
    }
    if (object->Header.Magic != ObjectMagic || object->Header.Kind != kind) {
        munmap(object, sizeof(T));
        Fail(EEXIST, "the name is taken by another kind of object", name);
    }
    return object;
}

timespec ToTimespec(std::chrono::nanoseconds duration) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(duration.count() / 1000000000);
    ts.tv_nsec = static_cast<long>(duration.count() % 1000000000);
    return ts;
}

// The moment `timeoutMs` milliseconds (none when negative) from now on the
// clock.
timespec DeadlineAfter(clockid_t clock, int timeoutMs) {
    timespec now{};
    clock_gettime(clock, &now);
    return ToTimespec(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) +
                      std::chrono::milliseconds(std::max(timeoutMs, 0)));
}

} // namespace

// ---------------------------------------------------------------------------
// SharedMemoryBlock

SharedMemoryBlock::SharedMemoryBlock(std::string name, void* data, size_t size)
    : FName(std::move(name)), FData(data), FSize(size) {}

SharedMemoryBlock::~SharedMemoryBlock() {
    munmap(FData, FSize);
}

std::unique_ptr<SharedMemoryBlock> SharedMemoryBlock::Create(const std::string& name, size_t size,
                                                             bool* alreadyExisted) {
    bool existed = false;
    int fd = CreateExclusive(name, size);
    if (fd < 0) {
        if (errno != EEXIST) {
            Fail(errno, "cannot create shared memory", name);
        }
        existed = true;
        fd = OpenExisting(name, size, false);
    }
    void* data = MapObject(fd, size, name);
    if (alreadyExisted != nullptr) {
        *alreadyExisted = existed;
    }
    return std::unique_ptr<SharedMemoryBlock>(new SharedMemoryBlock(name, data, size));
}

std::unique_ptr<SharedMemoryBlock> SharedMemoryBlock::Open(const std::string& name, size_t size) {
    const int fd = OpenExisting(name, size, false);
    void* data = MapObject(fd, size, name);
    return std::unique_ptr<SharedMemoryBlock>(new SharedMemoryBlock(name, data, size));
}

// ---------------------------------------------------------------------------
// NamedMutex

struct NamedMutex::Shared {
    ObjectHeader Header;
    pthread_mutex_t Mutex;
};

NamedMutex::NamedMutex(std::string name, Shared* shared)
    : FName(std::move(name)), FShared(shared) {}

NamedMutex::~NamedMutex() {
    munmap(FShared, sizeof(Shared));
}

namespace {

void InitialiseMutex(pthread_mutex_t& mutex, const std::string& name) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        Fail(rc, "cannot initialise mutex", name);
    }
}

} // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
    Shared* shared = CreateOrOpenSynchronisation<Shared>(
        name, KindMutex, true, [&](Shared& s) { InitialiseMutex(s.Mutex, name); });
    return std::unique_ptr<NamedMutex>(new NamedMutex(name, shared));
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
    Shared* shared = CreateOrOpenSynchronisation<Shared>(name, KindMutex, false, [](Shared&) {});
    return std::unique_ptr<NamedMutex>(new NamedMutex(name, shared));
}

NamedMutex::LockResult NamedMutex::Lock(int timeoutMs) {
    int rc;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 30))
    const timespec deadline = DeadlineAfter(CLOCK_MONOTONIC, timeoutMs);
    rc = pthread_mutex_clocklock(&FShared->Mutex, CLOCK_MONOTONIC, &deadline);
#else
    const timespec deadline = DeadlineAfter(CLOCK_REALTIME, timeoutMs);
    rc = pthread_mutex_timedlock(&FShared->Mutex, &deadline);
#endif
    switch (rc) {
    case 0:
        return LockResult::Locked;
    case EOWNERDEAD:
        // The previous owner ended while holding it; the mutex is ours now.
        pthread_mutex_consistent(&FShared->Mutex);
        return LockResult::OwnerDied;
    case ETIMEDOUT:
        return LockResult::Timeout;
    default:
        Fail(rc, "cannot lock mutex", FName);
    }
}

bool NamedMutex::Unlock() {
    return pthread_mutex_unlock(&FShared->Mutex) == 0;
}

// ---------------------------------------------------------------------------
// NamedEvent

// The state word is waited on with a futex where the system has them (no
// lock is held by a waiter, so a waiter that dies leaves nothing behind) and
// polled elsewhere.
struct NamedEvent::Shared {
    ObjectHeader Header;
    uint32_t State;
};

NamedEvent::NamedEvent(std::string name, Shared* shared)
    : FName(std::move(name)), FShared(shared) {}

NamedEvent::~NamedEvent() {
    munmap(FShared, sizeof(Shared));
}

std::unique_ptr<NamedEvent> NamedEvent::Create(const std::string& name, bool initiallySet) {
    Shared* shared = CreateOrOpenSynchronisation<Shared>(
        name, KindEvent, true, [&](Shared& s) { s.State = initiallySet ? 1 : 0; });
    return std::unique_ptr<NamedEvent>(new NamedEvent(name, shared));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const std::string& name) {
    Shared* shared = CreateOrOpenSynchronisation<Shared>(name, KindEvent, false, [](Shared&) {});
    return std::unique_ptr<NamedEvent>(new NamedEvent(name, shared));
}

void NamedEvent::Set() {
    std::atomic_ref<uint32_t>(FShared->State).store(1);
#if defined(__linux__)
    syscall(SYS_futex, &FShared->State, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
#endif
}

void NamedEvent::Reset() {
    std::atomic_ref<uint32_t>(FShared->State).store(0);
}

bool NamedEvent::IsSet() const {
    return std::atomic_ref<uint32_t>(FShared->State).load() != 0;
}

bool NamedEvent::Wait(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (IsSet()) {
            return true;
        }
        const std::chrono::nanoseconds remaining = deadline - Clock::now();
        if (remaining.count() <= 0) {
            return false;
        }
#if defined(__linux__)
        // Sleeps only while the word is still 0; a Set in between wakes it
        // or makes the call return at once.
        const timespec ts = ToTimespec(remaining);
        syscall(SYS_futex, &FShared->State, FUTEX_WAIT, 0, &ts, nullptr, 0);
#else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
    }
}

// ---------------------------------------------------------------------------

std::string NamedObjectSystemName(const std::string& name) {
    return "/" + name + ".uid" + std::to_string(geteuid());
}

bool RemoveNamedObject(const std::string& name) {
    return shm_unlink(NamedObjectSystemName(name).c_str()) == 0;
}

} // namespace platform
