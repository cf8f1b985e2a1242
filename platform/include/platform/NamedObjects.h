// Named objects shared between the processes of one account: a shared memory
// block, a mutex with recursive ownership that survives a dead owner, and
// manual-reset events. Every process of the account that uses the same name
// reaches the same object; other accounts never do.
//
// POSIX implementation: each object is a POSIX shared memory object (it lives
// in /dev/shm on Linux) whose system name is "/" + name + ".uid" + the
// effective user id (NamedObjectSystemName), created with mode 0600 whatever
// the umask, with its pages reserved up front so that a full /dev/shm cannot
// fault a later write. Opening never follows a symbolic link and never waits
// on a FIFO; after every open the object must be a regular file with a single
// name, owned by the effective user and with no group or other permission
// bits, else the open fails at once. The name is predictable, so another
// account may take it first: the object is then refused, never used.
// The objects stay in the system until RemoveNamedObject (or a reboot)
// removes them; a later process opens them again. A mutex or event object
// starts with a small header (magic number, kind, "initialised" marker
// written last) so that a half-initialised object of the account is waited
// for (at most 2 s) and an object of another kind under the same name is
// refused. The shared memory block has no header: its whole size belongs to
// the caller, and a block of another size under the name is refused.
//
// (On Windows the same interface sits on named kernel objects in the login
// session's namespace with the default security.)
//
// Failures raise NamedObjectError with the errno of the failed call; EEXIST
// when the name is taken by an object that is not of the asked kind or size,
// EACCES when it is taken by an object that is not private to this account,
// ELOOP for a symbolic link, ETIMEDOUT when another process of the account
// did not finish creating the object in time.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

class NamedObjectError : public std::runtime_error {
public:
    NamedObjectError(int code, const std::string& what);
    int Code() const noexcept { return FCode; }

private:
    int FCode;
};

// A block of shared memory, mapped read/write for the lifetime of the object.
class SharedMemoryBlock {
public:
    // Creates the block (zero-filled) when no object has the name; otherwise
    // opens the existing one. *alreadyExisted tells which happened.
    [[nodiscard]] static std::unique_ptr<SharedMemoryBlock>
    Create(const std::string& name, size_t size, bool* alreadyExisted);
    // Opens an existing block; fails with ENOENT when there is none.
    [[nodiscard]] static std::unique_ptr<SharedMemoryBlock> Open(const std::string& name,
                                                                 size_t size);

    ~SharedMemoryBlock();
    SharedMemoryBlock(const SharedMemoryBlock&) = delete;
    SharedMemoryBlock& operator=(const SharedMemoryBlock&) = delete;

    void* Data() const noexcept { return FData; }
    size_t Size() const noexcept { return FSize; }
    const std::string& Name() const noexcept { return FName; }

private:
    SharedMemoryBlock(std::string name, void* data, size_t size);
    std::string FName;
    void* FData;
    size_t FSize;
    // Windows: the mapping's handle, which keeps the name in the system
    // while the block lives (a name goes with the last handle, whatever
    // views remain). Unused elsewhere.
    void* FHandle = nullptr;
};

// A mutex shared between processes. Ownership is per thread and recursive:
// the owner may lock again and must unlock as often. When an owner ends
// without unlocking, the next locker gets the mutex (OwnerDied).
class NamedMutex {
public:
    enum class LockResult { Locked, OwnerDied, Timeout };

    // Creates the mutex (not owned) or opens the existing one.
    [[nodiscard]] static std::unique_ptr<NamedMutex> Create(const std::string& name);
    [[nodiscard]] static std::unique_ptr<NamedMutex> Open(const std::string& name);

    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Waits at most timeoutMs milliseconds (0 or less: only tries). There is
    // no wait without a limit: a holder in another process is not to be
    // trusted to let go. With OwnerDied the caller owns the mutex and the
    // data it guards may be half written. Raises NamedObjectError when the
    // mutex is unusable.
    [[nodiscard]] LockResult Lock(int timeoutMs);
    // Gives back one hold; false when the calling thread does not own it.
    [[nodiscard]] bool Unlock();

    const std::string& Name() const noexcept { return FName; }

private:
    struct Shared;
    NamedMutex(std::string name, Shared* shared);
    std::string FName;
    Shared* FShared;
};

// A manual-reset event shared between processes: once set it stays set, and
// wakes every waiter, until it is reset. A waiter that dies while waiting
// leaves nothing behind.
class NamedEvent {
public:
    // Creates the event in the given state, or opens the existing one (whose
    // state is then left as it is).
    [[nodiscard]] static std::unique_ptr<NamedEvent> Create(const std::string& name,
                                                            bool initiallySet);
    [[nodiscard]] static std::unique_ptr<NamedEvent> Open(const std::string& name);

    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    void Set();
    void Reset();
    [[nodiscard]] bool IsSet() const;
    // Waits at most timeoutMs milliseconds (0 or less: only looks) for the
    // event to be set; true when it is set.
    [[nodiscard]] bool Wait(int timeoutMs);

    const std::string& Name() const noexcept { return FName; }

private:
    struct Shared;
    NamedEvent(std::string name, Shared* shared);
    std::string FName;
    Shared* FShared;
};

// The name under which the system keeps the object of the given name for the
// calling account (POSIX: "/" + name + ".uid" + effective user id; on Linux
// the file of that name in /dev/shm).
[[nodiscard]] std::string NamedObjectSystemName(const std::string& name);

// Removes the name from the system; processes that have the object open keep
// using it. False when no object had the name.
[[nodiscard]] bool RemoveNamedObject(const std::string& name);

} // namespace platform
