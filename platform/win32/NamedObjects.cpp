// Named kernel objects in the login session's namespace with the default
// security: a paging-file backed file mapping, a mutex (recursive, and
// "abandoned" when its owner ends) and manual-reset events. The objects
// live while any process has them open.
#include "platform/NamedObjects.h"

#include <windows.h>

#include "platform/win32/Text.h"

namespace platform {

NamedObjectError::NamedObjectError(int code, const std::string& what)
    : std::runtime_error(what + ": " + win32::ErrorText(static_cast<unsigned long>(code))),
      FCode(code) {}

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& name) {
    throw NamedObjectError(static_cast<int>(GetLastError()), what + " \"" + name + "\"");
}

std::wstring SystemName(const std::string& name) {
    return win32::Widen(NamedObjectSystemName(name));
}

// The handle a create or open call gave, or the failure of that call.
HANDLE Checked(HANDLE handle, const std::string& what, const std::string& name) {
    if (handle == nullptr) {
        Fail(what, name);
    }
    return handle;
}

} // namespace

// ---------------------------------------------------------------------------
// SharedMemoryBlock

namespace {

void* MapBlock(HANDLE mapping, size_t size, const std::string& name) {
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (view == nullptr) {
        const DWORD code = GetLastError();
        CloseHandle(mapping);
        SetLastError(code);
        Fail("cannot map shared memory", name);
    }
    return view;
}

} // namespace

SharedMemoryBlock::SharedMemoryBlock(std::string name, void* data, size_t size)
    : FName(std::move(name)), FData(data), FSize(size) {}

SharedMemoryBlock::~SharedMemoryBlock() {
    UnmapViewOfFile(FData);
    CloseHandle(FHandle);
}

std::unique_ptr<SharedMemoryBlock> SharedMemoryBlock::Create(const std::string& name, size_t size,
                                                             bool* alreadyExisted) {
    const HANDLE mapping =
        Checked(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                   static_cast<DWORD>(size), SystemName(name).c_str()),
                "cannot create shared memory", name);
    // (Checked leaves the last error alone on success.)
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    void* data = MapBlock(mapping, size, name);
    if (alreadyExisted != nullptr) {
        *alreadyExisted = existed;
    }
    std::unique_ptr<SharedMemoryBlock> block(new SharedMemoryBlock(name, data, size));
    block->FHandle = mapping;
    return block;
}

std::unique_ptr<SharedMemoryBlock> SharedMemoryBlock::Open(const std::string& name, size_t size) {
    const HANDLE mapping =
        Checked(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, SystemName(name).c_str()),
                "cannot open shared memory", name);
    void* data = MapBlock(mapping, size, name);
    std::unique_ptr<SharedMemoryBlock> block(new SharedMemoryBlock(name, data, size));
    block->FHandle = mapping;
    return block;
}

// ---------------------------------------------------------------------------
// NamedMutex

struct NamedMutex::Shared {
    HANDLE Handle = nullptr;
};

NamedMutex::NamedMutex(std::string name, Shared* shared)
    : FName(std::move(name)), FShared(shared) {}

NamedMutex::~NamedMutex() {
    CloseHandle(FShared->Handle);
    delete FShared;
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
    const HANDLE handle = Checked(CreateMutexW(nullptr, FALSE, SystemName(name).c_str()),
                                  "cannot create mutex", name);
    return std::unique_ptr<NamedMutex>(new NamedMutex(name, new Shared{handle}));
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
    const HANDLE handle =
        Checked(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, SystemName(name).c_str()),
                "cannot open mutex", name);
    return std::unique_ptr<NamedMutex>(new NamedMutex(name, new Shared{handle}));
}

NamedMutex::LockResult NamedMutex::Lock(int timeoutMs) {
    const DWORD wait = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    switch (WaitForSingleObject(FShared->Handle, wait)) {
    case WAIT_OBJECT_0:
        return LockResult::Locked;
    case WAIT_ABANDONED:
        return LockResult::OwnerDied;
    case WAIT_TIMEOUT:
        return LockResult::Timeout;
    default:
        Fail("cannot lock mutex", FName);
    }
}

bool NamedMutex::Unlock() {
    return ReleaseMutex(FShared->Handle) != 0;
}

// ---------------------------------------------------------------------------
// NamedEvent

struct NamedEvent::Shared {
    HANDLE Handle = nullptr;
};

NamedEvent::NamedEvent(std::string name, Shared* shared)
    : FName(std::move(name)), FShared(shared) {}

NamedEvent::~NamedEvent() {
    CloseHandle(FShared->Handle);
    delete FShared;
}

std::unique_ptr<NamedEvent> NamedEvent::Create(const std::string& name, bool initiallySet) {
    const HANDLE handle =
        Checked(CreateEventW(nullptr, TRUE, initiallySet ? TRUE : FALSE, SystemName(name).c_str()),
                "cannot create event", name);
    return std::unique_ptr<NamedEvent>(new NamedEvent(name, new Shared{handle}));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const std::string& name) {
    const HANDLE handle =
        Checked(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, SystemName(name).c_str()),
                "cannot open event", name);
    return std::unique_ptr<NamedEvent>(new NamedEvent(name, new Shared{handle}));
}

void NamedEvent::Set() {
    SetEvent(FShared->Handle);
}

void NamedEvent::Reset() {
    ResetEvent(FShared->Handle);
}

bool NamedEvent::IsSet() const {
    return WaitForSingleObject(FShared->Handle, 0) == WAIT_OBJECT_0;
}

bool NamedEvent::Wait(int timeoutMs) {
    const DWORD wait = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    return WaitForSingleObject(FShared->Handle, wait) == WAIT_OBJECT_0;
}

// ---------------------------------------------------------------------------

std::string NamedObjectSystemName(const std::string& name) {
    // Plain names: the session's own namespace, as every program of the
    // suite's platform uses them.
    return name;
}

bool RemoveNamedObject(const std::string& /*name*/) {
    // A kernel object has no name to remove: it goes with its last handle.
    return false;
}

} // namespace platform
