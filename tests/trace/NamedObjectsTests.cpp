#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "TraceTestUtil.h"
#include "platform/NamedObjects.h"

using platform::NamedEvent;
using platform::NamedMutex;
using platform::NamedObjectError;
using platform::SharedMemoryBlock;
using tracetest::UniquePrefix;

namespace {

// Puts a plain shared memory object of `size` bytes under the name.
void MakeForeignObject(const std::string& name, off_t size) {
    const std::string path = "/" + name;
    const int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

mode_t ObjectMode(const std::string& name) {
    struct stat st {};
    if (stat(("/dev/shm/" + name).c_str(), &st) != 0) {
        return 0;
    }
    return st.st_mode & 0777;
}

} // namespace

TEST(NamedObjects, BlockIsCreatedOnceAndSharedByEveryOpener) {
    UniquePrefix prefix;
    bool existed = true;
    auto first = SharedMemoryBlock::Create(prefix.Name("Block"), 2048, &existed);
    EXPECT_FALSE(existed);
    ASSERT_EQ(first->Size(), 2048u);
    auto* bytes = static_cast<unsigned char*>(first->Data());
    for (size_t i = 0; i < 2048; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
    bytes[100] = 42;

    auto second = SharedMemoryBlock::Create(prefix.Name("Block"), 2048, &existed);
    EXPECT_TRUE(existed);
    EXPECT_EQ(static_cast<unsigned char*>(second->Data())[100], 42);
    auto third = SharedMemoryBlock::Open(prefix.Name("Block"), 2048);
    EXPECT_EQ(static_cast<unsigned char*>(third->Data())[100], 42);
}

TEST(NamedObjects, ObjectsAreOpenToEveryAccountWhateverTheUmask) {
    UniquePrefix prefix;
    const mode_t old = umask(077);
    bool existed = false;
    auto block = SharedMemoryBlock::Create(prefix.Name("Block"), 64, &existed);
    auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
    auto event = NamedEvent::Create(prefix.Name("Event"), false);
    umask(old);
    EXPECT_EQ(ObjectMode(prefix.Name("Block")), 0666u);
    EXPECT_EQ(ObjectMode(prefix.Name("Mutex")), 0666u);
    EXPECT_EQ(ObjectMode(prefix.Name("Event")), 0666u);
}

TEST(NamedObjects, BlockOfAnotherSizeUnderTheNameIsRefused) {
    UniquePrefix prefix;
    MakeForeignObject(prefix.Name("Block"), 100);
    bool existed = false;
    try {
        SharedMemoryBlock::Create(prefix.Name("Block"), 2048, &existed);
        FAIL() << "a 100-byte object was accepted";
    } catch (const NamedObjectError& e) {
        EXPECT_EQ(e.Code(), EEXIST);
    }
}

TEST(NamedObjects, OpeningAMissingBlockFails) {
    UniquePrefix prefix;
    try {
        SharedMemoryBlock::Open(prefix.Name("Nothing"), 2048);
        FAIL() << "opened an object that does not exist";
    } catch (const NamedObjectError& e) {
        EXPECT_EQ(e.Code(), ENOENT);
    }
}

TEST(NamedObjects, ObjectOfAnotherKindUnderAMutexNameIsRefused) {
    UniquePrefix prefix;
    auto event = NamedEvent::Create(prefix.Name("Thing"), false);
    // Same size would not help: the header says it is an event.
    EXPECT_THROW(NamedMutex::Open(prefix.Name("Thing")), NamedObjectError);
    EXPECT_THROW(NamedMutex::Create(prefix.Name("Thing")), NamedObjectError);

    MakeForeignObject(prefix.Name("Plain"), 100);
    try {
        NamedEvent::Open(prefix.Name("Plain"));
        FAIL() << "a plain object was accepted as an event";
    } catch (const NamedObjectError& e) {
        EXPECT_EQ(e.Code(), EEXIST);
    }
}

TEST(NamedObjects, MutexOwnershipIsRecursiveAndPerThread) {
    UniquePrefix prefix;
    auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
    auto other = NamedMutex::Open(prefix.Name("Mutex"));
    ASSERT_EQ(mutex->Lock(), NamedMutex::LockResult::Locked);
    ASSERT_EQ(mutex->Lock(0), NamedMutex::LockResult::Locked);

    NamedMutex::LockResult seen{};
    std::thread([&] { seen = other->Lock(50); }).join();
    EXPECT_EQ(seen, NamedMutex::LockResult::Timeout);

    EXPECT_TRUE(mutex->Unlock());
    std::thread([&] { seen = other->Lock(50); }).join();
    EXPECT_EQ(seen, NamedMutex::LockResult::Timeout) << "one hold is still there";

    EXPECT_TRUE(mutex->Unlock());
    bool unlocked = false;
    std::thread([&] {
        seen = other->Lock(1000);
        unlocked = other->Unlock();
    }).join();
    EXPECT_EQ(seen, NamedMutex::LockResult::Locked);
    EXPECT_TRUE(unlocked);
    EXPECT_FALSE(mutex->Unlock()) << "not owned any more";
}

TEST(NamedObjects, MutexOfADeadOwnerGoesToTheNextLocker) {
    UniquePrefix prefix;
    auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
    std::thread([&] { ASSERT_EQ(mutex->Lock(), NamedMutex::LockResult::Locked); }).join();
    EXPECT_EQ(mutex->Lock(2000), NamedMutex::LockResult::OwnerDied);
    EXPECT_TRUE(mutex->Unlock());
    EXPECT_EQ(mutex->Lock(0), NamedMutex::LockResult::Locked) << "usable again";
    EXPECT_TRUE(mutex->Unlock());
}

TEST(NamedObjects, MutexOfAProcessThatDiedHoldingItIsRecovered) {
    UniquePrefix prefix;
    auto mutex = NamedMutex::Create(prefix.Name("Mutex"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto inChild = NamedMutex::Open(prefix.Name("Mutex"));
        inChild->Lock();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(mutex->Lock(2000), NamedMutex::LockResult::OwnerDied);
    EXPECT_TRUE(mutex->Unlock());
}

TEST(NamedObjects, EventsStartInTheirStateAndStaySetUntilReset) {
    UniquePrefix prefix;
    auto off = NamedEvent::Create(prefix.Name("Off"), false);
    auto on = NamedEvent::Create(prefix.Name("On"), true);
    EXPECT_FALSE(off->IsSet());
    EXPECT_TRUE(on->IsSet());
    EXPECT_FALSE(off->Wait(20));
    EXPECT_TRUE(on->Wait(0));
    EXPECT_TRUE(on->Wait(0)) << "manual reset: waiting does not clear it";

    // Creating again opens the existing one and keeps its state.
    auto again = NamedEvent::Create(prefix.Name("Off"), true);
    EXPECT_FALSE(again->IsSet());

    again->Set();
    EXPECT_TRUE(off->IsSet());
    off->Reset();
    EXPECT_FALSE(again->IsSet());
}

TEST(NamedObjects, SettingAnEventWakesEveryWaiter) {
    UniquePrefix prefix;
    auto event = NamedEvent::Create(prefix.Name("Event"), false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            auto mine = NamedEvent::Open(prefix.Name("Event"));
            if (mine->Wait(10000)) {
                ++woken;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    event->Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken.load(), 3);
}

TEST(NamedObjects, RemovingANameLeavesOpenObjectsUsable) {
    UniquePrefix prefix;
    auto event = NamedEvent::Create(prefix.Name("Event"), false);
    EXPECT_TRUE(platform::RemoveNamedObject(prefix.Name("Event")));
    EXPECT_FALSE(platform::RemoveNamedObject(prefix.Name("Event")));
    event->Set();
    EXPECT_TRUE(event->IsSet());
    EXPECT_THROW(NamedEvent::Open(prefix.Name("Event")), NamedObjectError);
}
