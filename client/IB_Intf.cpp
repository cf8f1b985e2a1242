#include "client/IB_Intf.h"

#include <mutex>
#include <type_traits>

#include "rtl/Rtl.h"
#include "platform/ModuleLoader.h"
#include "platform/Signals.h"

// The InterBase batch calls are not in the Firebird header; declared here only
// to type their entry pointers.
extern "C" {
ISC_STATUS ISC_EXPORT isc_dsql_batch_execute_immed(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                   unsigned short, fib::ISC_BATCH_ULONG, char**,
                                                   fib::ISC_BATCH_ULONG*);
ISC_STATUS ISC_EXPORT isc_dsql_batch_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                             unsigned short, XSQLDA*, unsigned short, XSQLVAR**,
                                             fib::ISC_BATCH_ULONG*);
}

namespace fib {

#if defined(_WIN32)
const std::string DefaultLibraryName = "gds32.dll";
#else
const std::string DefaultLibraryName = "libfbclient.so.2";
#endif

// One pointer per entry point, typed as the published declaration. (The
// header marks isc_interprete deprecated, but it is the only walk an old
// client has.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TIBClientLibraryEntries {
#define SLV_ENTRY_POINTER(result, name, params, args, load, call) decltype(&::name) name = nullptr;
    SLV_CLIENT_ENTRY_POINTS(SLV_ENTRY_POINTER)
#undef SLV_ENTRY_POINTER
};
#pragma GCC diagnostic pop

namespace {

// Sets the busy flag for the duration of one call into the library, also
// when the call raises.
class BusyScope {
public:
    explicit BusyScope(std::atomic<bool>& flag) : FFlag(flag) {
        FFlag.store(true, std::memory_order_relaxed);
    }
    ~BusyScope() { FFlag.store(false, std::memory_order_relaxed); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    std::atomic<bool>& FFlag;
};

// How the loader treats an entry point (see SLV_CLIENT_ENTRY_POINTS).
enum class LoadRule { Required, Optional, RequiredV6, RequiredVersioned, OptionalVersioned };

bool IsRequired(LoadRule rule) {
    return rule == LoadRule::Required || rule == LoadRule::RequiredV6 ||
           rule == LoadRule::RequiredVersioned;
}

template <typename Fn> void StoreEntry(Fn& slot, void* address) {
    static_assert(std::is_pointer_v<Fn>);
    slot = reinterpret_cast<Fn>(address);
}

struct Registry {
    std::mutex Lock;
    std::vector<std::shared_ptr<TIBClientLibrary>> Bindings;
    Registry() = default;
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    // The list goes at process end: every binding no component still holds
    // is destroyed, which unloads its library.
    ~Registry() {
        std::lock_guard<std::mutex> guard(Lock);
        Bindings.clear();
    }
};

Registry& ClientLibraryRegistry() {
    static Registry registry;
    return registry;
}

// Created when the module initialises, so the registry exists before any
// component can run and goes after everything created later.
[[maybe_unused]] const bool RegistryReady = (ClientLibraryRegistry(), true);

} // namespace

IIBClientLibraryPtr AcquireClientLibrary(const std::string& libraryName) {
    Registry& registry = ClientLibraryRegistry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    for (const auto& binding : registry.Bindings) {
        if (binding->LibraryFileName() == libraryName) {
            if (!binding->IsLoaded()) {
                binding->Load();
            }
            return binding;
        }
    }
    auto binding = std::make_shared<TIBClientLibrary>(libraryName);
    registry.Bindings.push_back(binding);
    return binding;
}

std::vector<IIBClientLibraryPtr> RegisteredClientLibraries() {
    Registry& registry = ClientLibraryRegistry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    return {registry.Bindings.begin(), registry.Bindings.end()};
}

TIBClientLibrary::TIBClientLibrary(const std::string& libraryName)
    : FLibraryName(libraryName), FEntries(std::make_unique<TIBClientLibraryEntries>()) {
    // Load releases the module itself when it raises.
    Load();
}

TIBClientLibrary::~TIBClientLibrary() {
    Unload();
}

std::string TIBClientLibrary::LibraryFileName() const {
    return FLibraryName;
}
int32_t TIBClientLibrary::ClientVersionMajor() const {
    return FClientVersionMajor;
}
int32_t TIBClientLibrary::ClientVersionMinor() const {
    return FClientVersionMinor;
}
bool TIBClientLibrary::InClientCall() const {
    return FBusy.load(std::memory_order_relaxed);
}
bool TIBClientLibrary::IsLoaded() const {
    return FHandle != nullptr;
}

void TIBClientLibrary::Unload() {
    if (FHandle == nullptr) {
        return;
    }
    // A module the loader refuses to release stays mapped; the binding
    // forgets it all the same, as nothing could use it any more.
    static_cast<void>(platform::FreeModule(FHandle));
    FHandle = nullptr;
    // The addresses point into the released module: forget them, so a call
    // before the next Load raises instead of jumping into unmapped code.
    *FEntries = TIBClientLibraryEntries();
}

void TIBClientLibrary::Load() {
    if (FHandle != nullptr) {
        return;
    }
    void* handle = platform::LoadModule(FLibraryName);
    if (handle == nullptr) {
        throw rtl::EOSError(platform::LastModuleErrorCode(), platform::LastModuleErrorText());
    }
    FHandle = handle;
    TIBClientLibraryEntries entries;
    // The services, the SQL dates and the version calls are looked up only
    // in a library that has the entry that marks their client version.
    const auto wanted = [&entries](LoadRule rule) {
        switch (rule) {
        case LoadRule::RequiredV6:
            return entries.isc_rollback_retaining != nullptr;
        case LoadRule::RequiredVersioned:
        case LoadRule::OptionalVersioned:
            return entries.isc_get_client_version != nullptr;
        case LoadRule::Required:
        case LoadRule::Optional:
            break;
        }
        return true;
    };
    const auto resolve = [this, handle](auto& slot, const char* name, LoadRule rule) {
        StoreEntry(slot, platform::ModuleSymbol(handle, name));
        if (slot == nullptr && IsRequired(rule)) {
            const int code = platform::LastModuleErrorCode();
            const std::string text = platform::LastModuleErrorText();
            Unload();
            throw rtl::EOSError(code, text);
        }
    };
#define SLV_RESOLVE_ENTRY(result, name, params, args, load, call)                                  \
    if (wanted(LoadRule::load)) {                                                                  \
        resolve(entries.name, #name, LoadRule::load);                                              \
    }
    SLV_CLIENT_ENTRY_POINTS(SLV_RESOLVE_ENTRY)
#undef SLV_RESOLVE_ENTRY
    // A version 6 client has the services API and the SQL dates; a library
    // that tells its version says it itself.
    int32_t major = entries.isc_rollback_retaining != nullptr ? 6 : 5;
    int32_t minor = 0;
    if (entries.isc_get_client_version != nullptr) {
        major = entries.isc_get_client_major_version();
        minor = entries.isc_get_client_minor_version();
    }
    *FEntries = entries;
    FClientVersionMajor = major;
    FClientVersionMinor = minor;
#if defined(__i386__)
    // The x87 unit computes in extended precision, as the library expects.
    unsigned short control = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>(control | 0x0300);
    __asm__ volatile("fldcw %0" : : "m"(control));
#endif
}

void TIBClientLibrary::RaiseMissing(const char* entryName) const {
    throw rtl::Exception("Can't find procedure " + std::string(entryName) + " in " + FLibraryName);
}

// The operations of the entry points: each raises the missing-procedure error
// when its entry is unresolved (an optional entry the library lacks, or any
// entry while the library is unloaded), then calls it, with the busy flag set
// around the call (Busy) or left alone (Quiet); after an attach call (Attach)
// the program's own termination handlers are put back. The Own ones follow
// by hand.
#define SLV_FORWARD_Busy(name, args)                                                               \
    if (FEntries->name == nullptr) {                                                               \
        RaiseMissing(#name);                                                                       \
    }                                                                                              \
    BusyScope busy(FBusy);                                                                         \
    return FEntries->name args;
#define SLV_FORWARD_Quiet(name, args)                                                              \
    if (FEntries->name == nullptr) {                                                               \
        RaiseMissing(#name);                                                                       \
    }                                                                                              \
    return FEntries->name args;
#define SLV_DEFINE_Busy(result, name, params, args)                                                \
    result TIBClientLibrary::name params {                                                         \
        SLV_FORWARD_Busy(name, args)                                                               \
    }
#define SLV_DEFINE_Quiet(result, name, params, args)                                               \
    result TIBClientLibrary::name params {                                                         \
        SLV_FORWARD_Quiet(name, args)                                                              \
    }
#define SLV_DEFINE_Attach(result, name, params, args)                                              \
    result TIBClientLibrary::name params {                                                         \
        const result slvResult = [&]() -> result { SLV_FORWARD_Busy(name, args) }();               \
        platform::ReclaimTerminationSignals();                                                     \
        return slvResult;                                                                          \
    }
#define SLV_DEFINE_Own(result, name, params, args)
#define SLV_DEFINE_ENTRY(result, name, params, args, load, call)                                   \
    SLV_DEFINE_##call(result, name, params, args)
SLV_CLIENT_ENTRY_POINTS(SLV_DEFINE_ENTRY)
#undef SLV_DEFINE_ENTRY
#undef SLV_DEFINE_Busy
#undef SLV_DEFINE_Quiet
#undef SLV_DEFINE_Attach
#undef SLV_DEFINE_Own

ISC_LONG TIBClientLibrary::isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer,
                                           ISC_USHORT count, const char* const* names) {
    if (count > MaxEventNames) {
        throw rtl::Exception("isc_event_block takes at most " + std::to_string(MaxEventNames) +
                             " event names");
    }
    const char* n[MaxEventNames] = {};
    for (int i = 0; i < count; ++i) {
        n[i] = names[i];
    }
    // The library reads only the first `count` of the variable arguments.
    SLV_FORWARD_Busy(isc_event_block,
                     (eventBuffer, resultBuffer, count, n[0], n[1], n[2], n[3], n[4], n[5], n[6],
                      n[7], n[8], n[9], n[10], n[11], n[12], n[13], n[14]))
}

ISC_LONG TIBClientLibrary::fb_interpret(ISC_SCHAR* buffer, unsigned int length,
                                        const ISC_STATUS** status) {
    if (FEntries->fb_interpret == nullptr) {
        // An old client: the same walk without a buffer length.
        return isc_interprete(buffer, const_cast<ISC_STATUS**>(status));
    }
    SLV_FORWARD_Busy(fb_interpret, (buffer, length, status))
}

#undef SLV_FORWARD_Busy
#undef SLV_FORWARD_Quiet

} // namespace fib
