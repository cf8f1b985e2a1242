#include "client/IB_Intf.h"

#include <mutex>
#include <type_traits>

#include "rtl/Rtl.h"
#include "platform/ModuleLoader.h"

namespace fib {

const std::string DefaultLibraryName = "libfbclient.so.2";

namespace {

// The InterBase batch calls are not in the Firebird header.
using BatchExecuteImmedFn = ISC_STATUS(ISC_EXPORT*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                    unsigned short, ISC_BATCH_ULONG, char**,
                                                    ISC_BATCH_ULONG*);
using BatchExecuteFn = ISC_STATUS(ISC_EXPORT*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                               unsigned short, XSQLDA*, unsigned short, XSQLVAR**,
                                               ISC_BATCH_ULONG*);
// Declared deprecated in the header, but it is the only walk an old client has.
using InterpreteFn = ISC_LONG(ISC_EXPORT*)(ISC_SCHAR*, ISC_STATUS**);

} // namespace

// One pointer per entry point, typed as the published declaration.
struct TIBClientLibraryEntries {
#define SLV_ENTRY(name) decltype(&::name) name = nullptr
    SLV_ENTRY(BLOB_get);
    SLV_ENTRY(BLOB_put);
    SLV_ENTRY(isc_sqlcode);
    SLV_ENTRY(isc_sql_interprete);
    InterpreteFn isc_interprete = nullptr;
    SLV_ENTRY(fb_interpret);
    SLV_ENTRY(isc_vax_integer);
    SLV_ENTRY(isc_blob_info);
    SLV_ENTRY(isc_open_blob2);
    SLV_ENTRY(isc_close_blob);
    SLV_ENTRY(isc_get_segment);
    SLV_ENTRY(isc_put_segment);
    SLV_ENTRY(isc_create_blob2);
    SLV_ENTRY(isc_decode_date);
    SLV_ENTRY(isc_encode_date);
    SLV_ENTRY(isc_dsql_free_statement);
    SLV_ENTRY(isc_dsql_execute2);
    SLV_ENTRY(isc_dsql_execute);
    SLV_ENTRY(isc_dsql_set_cursor_name);
    SLV_ENTRY(isc_dsql_fetch);
    SLV_ENTRY(isc_dsql_sql_info);
    SLV_ENTRY(isc_dsql_alloc_statement2);
    SLV_ENTRY(isc_dsql_prepare);
    SLV_ENTRY(isc_dsql_describe_bind);
    SLV_ENTRY(isc_dsql_describe);
    SLV_ENTRY(isc_dsql_execute_immediate);
    SLV_ENTRY(isc_dsql_exec_immed2);
    SLV_ENTRY(isc_drop_database);
    SLV_ENTRY(isc_detach_database);
    SLV_ENTRY(isc_attach_database);
    SLV_ENTRY(isc_database_info);
    SLV_ENTRY(isc_start_multiple);
    SLV_ENTRY(isc_commit_transaction);
    SLV_ENTRY(isc_commit_retaining);
    SLV_ENTRY(isc_rollback_transaction);
    SLV_ENTRY(isc_cancel_events);
    SLV_ENTRY(isc_que_events);
    SLV_ENTRY(isc_event_counts);
    SLV_ENTRY(isc_event_block);
    SLV_ENTRY(isc_free);
    SLV_ENTRY(isc_array_lookup_bounds);
    SLV_ENTRY(isc_array_get_slice);
    SLV_ENTRY(isc_array_put_slice);
    SLV_ENTRY(isc_array_lookup_desc);
    SLV_ENTRY(isc_array_set_desc);
    SLV_ENTRY(isc_wait_for_event);
    SLV_ENTRY(isc_transaction_info);
    SLV_ENTRY(isc_prepare_transaction);
    SLV_ENTRY(isc_prepare_transaction2);
    SLV_ENTRY(isc_rollback_retaining);
    SLV_ENTRY(isc_service_attach);
    SLV_ENTRY(isc_service_detach);
    SLV_ENTRY(isc_service_query);
    SLV_ENTRY(isc_service_start);
    SLV_ENTRY(isc_decode_sql_date);
    SLV_ENTRY(isc_decode_sql_time);
    SLV_ENTRY(isc_decode_timestamp);
    SLV_ENTRY(isc_encode_sql_date);
    SLV_ENTRY(isc_encode_sql_time);
    SLV_ENTRY(isc_encode_timestamp);
    SLV_ENTRY(isc_portable_integer);
    SLV_ENTRY(isc_get_client_version);
    SLV_ENTRY(isc_get_client_major_version);
    SLV_ENTRY(isc_get_client_minor_version);
#undef SLV_ENTRY
    BatchExecuteImmedFn isc_dsql_batch_execute_immed = nullptr;
    BatchExecuteFn isc_dsql_batch_execute = nullptr;
    decltype(&::fb_cancel_operation) fb_cancel_operation = nullptr;
};

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
    auto optional = [handle](auto& slot, const char* name) {
        StoreEntry(slot, platform::ModuleSymbol(handle, name));
        return slot != nullptr;
    };
    auto required = [this, handle](auto& slot, const char* name) {
        StoreEntry(slot, platform::ModuleSymbol(handle, name));
        if (slot == nullptr) {
            const int code = platform::LastModuleErrorCode();
            const std::string text = platform::LastModuleErrorText();
            Unload();
            throw rtl::EOSError(code, text);
        }
    };
#define SLV_REQUIRED(name) required(entries.name, #name)
#define SLV_OPTIONAL(name) optional(entries.name, #name)
    SLV_REQUIRED(BLOB_get);
    SLV_REQUIRED(BLOB_put);
    SLV_REQUIRED(isc_sqlcode);
    SLV_REQUIRED(isc_sql_interprete);
    SLV_REQUIRED(isc_interprete);
    SLV_OPTIONAL(fb_interpret);
    SLV_REQUIRED(isc_vax_integer);
    SLV_REQUIRED(isc_blob_info);
    SLV_REQUIRED(isc_open_blob2);
    SLV_REQUIRED(isc_close_blob);
    SLV_REQUIRED(isc_get_segment);
    SLV_REQUIRED(isc_put_segment);
    SLV_REQUIRED(isc_create_blob2);
    SLV_REQUIRED(isc_decode_date);
    SLV_REQUIRED(isc_encode_date);
    SLV_REQUIRED(isc_dsql_free_statement);
    SLV_REQUIRED(isc_dsql_execute2);
    SLV_REQUIRED(isc_dsql_execute);
    SLV_REQUIRED(isc_dsql_set_cursor_name);
    SLV_REQUIRED(isc_dsql_fetch);
    SLV_REQUIRED(isc_dsql_sql_info);
    SLV_REQUIRED(isc_dsql_alloc_statement2);
    SLV_REQUIRED(isc_dsql_prepare);
    SLV_REQUIRED(isc_dsql_describe_bind);
    SLV_REQUIRED(isc_dsql_describe);
    SLV_REQUIRED(isc_dsql_execute_immediate);
    SLV_REQUIRED(isc_dsql_exec_immed2);
    SLV_REQUIRED(isc_drop_database);
    SLV_REQUIRED(isc_detach_database);
    SLV_REQUIRED(isc_attach_database);
    SLV_REQUIRED(isc_database_info);
    SLV_REQUIRED(isc_start_multiple);
    SLV_REQUIRED(isc_commit_transaction);
    SLV_REQUIRED(isc_commit_retaining);
    SLV_REQUIRED(isc_rollback_transaction);
    SLV_REQUIRED(isc_cancel_events);
    SLV_REQUIRED(isc_que_events);
    SLV_REQUIRED(isc_event_counts);
    SLV_REQUIRED(isc_event_block);
    SLV_REQUIRED(isc_free);
    SLV_REQUIRED(isc_array_lookup_bounds);
    SLV_REQUIRED(isc_array_get_slice);
    SLV_REQUIRED(isc_array_put_slice);
    SLV_REQUIRED(isc_wait_for_event);
    SLV_REQUIRED(isc_transaction_info);
    SLV_REQUIRED(isc_prepare_transaction);
    SLV_REQUIRED(isc_prepare_transaction2);
    // Not needed to load; their operations raise when the library lacks them.
    SLV_OPTIONAL(isc_array_lookup_desc);
    SLV_OPTIONAL(isc_array_set_desc);
    int32_t major = 5;
    int32_t minor = 0;
    if (SLV_OPTIONAL(isc_rollback_retaining)) {
        // A version 6 client: it has the services API and the SQL dates.
        major = 6;
        SLV_REQUIRED(isc_service_attach);
        SLV_REQUIRED(isc_service_detach);
        SLV_REQUIRED(isc_service_query);
        SLV_REQUIRED(isc_service_start);
        SLV_REQUIRED(isc_decode_sql_date);
        SLV_REQUIRED(isc_decode_sql_time);
        SLV_REQUIRED(isc_decode_timestamp);
        SLV_REQUIRED(isc_encode_sql_date);
        SLV_REQUIRED(isc_encode_sql_time);
        SLV_REQUIRED(isc_encode_timestamp);
        SLV_REQUIRED(isc_portable_integer);
    }
    if (SLV_OPTIONAL(isc_get_client_version)) {
        SLV_REQUIRED(isc_get_client_major_version);
        SLV_REQUIRED(isc_get_client_minor_version);
        major = entries.isc_get_client_major_version();
        minor = entries.isc_get_client_minor_version();
        SLV_OPTIONAL(isc_dsql_batch_execute_immed);
        SLV_OPTIONAL(isc_dsql_batch_execute);
        SLV_OPTIONAL(fb_cancel_operation);
    }
#undef SLV_REQUIRED
#undef SLV_OPTIONAL
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

// A call that sets the busy flag, and one that does not. Both raise the
// missing-procedure error when the entry is unresolved (optional entries the
// library lacks, or any entry while the library is unloaded).
#define SLV_CALL(name, ...)                                                                        \
    do {                                                                                           \
        if (FEntries->name == nullptr) {                                                           \
            RaiseMissing(#name);                                                                   \
        }                                                                                          \
        BusyScope busy(FBusy);                                                                     \
        return FEntries->name(__VA_ARGS__);                                                        \
    } while (0)
#define SLV_CALL_QUIET(name, ...)                                                                  \
    do {                                                                                           \
        if (FEntries->name == nullptr) {                                                           \
            RaiseMissing(#name);                                                                   \
        }                                                                                          \
        return FEntries->name(__VA_ARGS__);                                                        \
    } while (0)

ISC_STATUS TIBClientLibrary::isc_attach_database(ISC_STATUS* status, short nameLength,
                                                 const ISC_SCHAR* name, isc_db_handle* db,
                                                 short dpbLength, const ISC_SCHAR* dpb) {
    SLV_CALL(isc_attach_database, status, nameLength, name, db, dpbLength, dpb);
}

ISC_STATUS TIBClientLibrary::isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db,
                                                 isc_tr_handle* tr, ISC_QUAD* arrayId,
                                                 const ISC_ARRAY_DESC* desc, void* slice,
                                                 ISC_LONG* sliceLength) {
    SLV_CALL_QUIET(isc_array_get_slice, status, db, tr, arrayId, desc, slice, sliceLength);
}

ISC_STATUS TIBClientLibrary::isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db,
                                                     isc_tr_handle* tr, const ISC_SCHAR* relation,
                                                     const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) {
    SLV_CALL_QUIET(isc_array_lookup_bounds, status, db, tr, relation, field, desc);
}

ISC_STATUS TIBClientLibrary::isc_array_lookup_desc(ISC_STATUS* status, isc_db_handle* db,
                                                   isc_tr_handle* tr, const ISC_SCHAR* relation,
                                                   const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) {
    SLV_CALL_QUIET(isc_array_lookup_desc, status, db, tr, relation, field, desc);
}

ISC_STATUS TIBClientLibrary::isc_array_set_desc(ISC_STATUS* status, const ISC_SCHAR* relation,
                                                const ISC_SCHAR* field, const short* sqlDType,
                                                const short* sqlLength, const short* dimensions,
                                                ISC_ARRAY_DESC* desc) {
    SLV_CALL_QUIET(isc_array_set_desc, status, relation, field, sqlDType, sqlLength, dimensions,
                   desc);
}

ISC_STATUS TIBClientLibrary::isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db,
                                                 isc_tr_handle* tr, ISC_QUAD* arrayId,
                                                 const ISC_ARRAY_DESC* desc, void* slice,
                                                 ISC_LONG* sliceLength) {
    SLV_CALL_QUIET(isc_array_put_slice, status, db, tr, arrayId, desc, slice, sliceLength);
}

ISC_STATUS TIBClientLibrary::isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob,
                                           short itemsLength, const ISC_SCHAR* items,
                                           short bufferLength, ISC_SCHAR* buffer) {
    SLV_CALL(isc_blob_info, status, blob, itemsLength, items, bufferLength, buffer);
}

ISC_STATUS TIBClientLibrary::isc_cancel_events(ISC_STATUS* status, isc_db_handle* db,
                                               ISC_LONG* eventId) {
    SLV_CALL(isc_cancel_events, status, db, eventId);
}

ISC_STATUS TIBClientLibrary::isc_que_events(ISC_STATUS* status, isc_db_handle* db,
                                            ISC_LONG* eventId, short length,
                                            const ISC_UCHAR* eventBuffer,
                                            ISC_EVENT_CALLBACK callback, void* callbackArg) {
    SLV_CALL(isc_que_events, status, db, eventId, length, eventBuffer, callback, callbackArg);
}

ISC_STATUS TIBClientLibrary::isc_wait_for_event(ISC_STATUS* status, isc_db_handle* db, short length,
                                                const ISC_UCHAR* eventBuffer,
                                                ISC_UCHAR* resultBuffer) {
    SLV_CALL(isc_wait_for_event, status, db, length, eventBuffer, resultBuffer);
}

ISC_STATUS TIBClientLibrary::isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) {
    SLV_CALL(isc_close_blob, status, blob);
}

ISC_STATUS TIBClientLibrary::isc_create_blob2(ISC_STATUS* status, isc_db_handle* db,
                                              isc_tr_handle* tr, isc_blob_handle* blob,
                                              ISC_QUAD* blobId, short bpbLength,
                                              const ISC_SCHAR* bpb) {
    SLV_CALL(isc_create_blob2, status, db, tr, blob, blobId, bpbLength, bpb);
}

ISC_STATUS TIBClientLibrary::isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) {
    SLV_CALL(isc_commit_retaining, status, tr);
}

ISC_STATUS TIBClientLibrary::isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
    SLV_CALL(isc_commit_transaction, status, tr);
}

ISC_STATUS TIBClientLibrary::isc_transaction_info(ISC_STATUS* status, isc_tr_handle* tr,
                                                  short itemsLength, const ISC_SCHAR* items,
                                                  short bufferLength, ISC_SCHAR* buffer) {
    SLV_CALL(isc_transaction_info, status, tr, itemsLength, items, bufferLength, buffer);
}

ISC_STATUS TIBClientLibrary::isc_database_info(ISC_STATUS* status, isc_db_handle* db,
                                               short itemsLength, const ISC_SCHAR* items,
                                               short bufferLength, ISC_SCHAR* buffer) {
    SLV_CALL(isc_database_info, status, db, itemsLength, items, bufferLength, buffer);
}

void TIBClientLibrary::isc_decode_date(const ISC_QUAD* date, void* tmDate) {
    SLV_CALL(isc_decode_date, date, tmDate);
}

void TIBClientLibrary::isc_decode_sql_date(const ISC_DATE* date, void* tmDate) {
    SLV_CALL(isc_decode_sql_date, date, tmDate);
}

void TIBClientLibrary::isc_decode_sql_time(const ISC_TIME* time, void* tmTime) {
    SLV_CALL(isc_decode_sql_time, time, tmTime);
}

void TIBClientLibrary::isc_decode_timestamp(const ISC_TIMESTAMP* timestamp, void* tmDate) {
    SLV_CALL(isc_decode_timestamp, timestamp, tmDate);
}

ISC_STATUS TIBClientLibrary::isc_detach_database(ISC_STATUS* status, isc_db_handle* db) {
    SLV_CALL(isc_detach_database, status, db);
}

ISC_STATUS TIBClientLibrary::isc_drop_database(ISC_STATUS* status, isc_db_handle* db) {
    SLV_CALL(isc_drop_database, status, db);
}

ISC_STATUS TIBClientLibrary::isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db,
                                                       isc_stmt_handle* stmt) {
    SLV_CALL(isc_dsql_alloc_statement2, status, db, stmt);
}

ISC_STATUS TIBClientLibrary::isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt,
                                               unsigned short dialect, XSQLDA* sqlda) {
    SLV_CALL(isc_dsql_describe, status, stmt, dialect, sqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                    unsigned short dialect, XSQLDA* sqlda) {
    SLV_CALL(isc_dsql_describe_bind, status, stmt, dialect, sqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr,
                                              isc_stmt_handle* stmt, unsigned short dialect,
                                              const XSQLDA* inSqlda) {
    SLV_CALL(isc_dsql_execute, status, tr, stmt, dialect, inSqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr,
                                               isc_stmt_handle* stmt, unsigned short dialect,
                                               const XSQLDA* inSqlda, const XSQLDA* outSqlda) {
    SLV_CALL(isc_dsql_execute2, status, tr, stmt, dialect, inSqlda, outSqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db,
                                                        isc_tr_handle* tr, unsigned short length,
                                                        const ISC_SCHAR* statement,
                                                        unsigned short dialect,
                                                        const XSQLDA* sqlda) {
    SLV_CALL(isc_dsql_execute_immediate, status, db, tr, length, statement, dialect, sqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_exec_immed2(ISC_STATUS* status, isc_db_handle* db,
                                                  isc_tr_handle* tr, unsigned short length,
                                                  const ISC_SCHAR* statement,
                                                  unsigned short dialect, const XSQLDA* inSqlda,
                                                  const XSQLDA* outSqlda) {
    SLV_CALL(isc_dsql_exec_immed2, status, db, tr, length, statement, dialect, inSqlda, outSqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt,
                                            unsigned short dialect, const XSQLDA* sqlda) {
    SLV_CALL(isc_dsql_fetch, status, stmt, dialect, sqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                     unsigned short option) {
    SLV_CALL(isc_dsql_free_statement, status, stmt, option);
}

ISC_STATUS TIBClientLibrary::isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr,
                                              isc_stmt_handle* stmt, unsigned short length,
                                              const ISC_SCHAR* statement, unsigned short dialect,
                                              XSQLDA* sqlda) {
    SLV_CALL(isc_dsql_prepare, status, tr, stmt, length, statement, dialect, sqlda);
}

ISC_STATUS TIBClientLibrary::isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                      const ISC_SCHAR* cursorName,
                                                      unsigned short type) {
    SLV_CALL(isc_dsql_set_cursor_name, status, stmt, cursorName, type);
}

ISC_STATUS TIBClientLibrary::isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt,
                                               short itemsLength, const ISC_SCHAR* items,
                                               short bufferLength, ISC_SCHAR* buffer) {
    SLV_CALL(isc_dsql_sql_info, status, stmt, itemsLength, items, bufferLength, buffer);
}

void TIBClientLibrary::isc_encode_date(const void* tmDate, ISC_QUAD* date) {
    SLV_CALL(isc_encode_date, tmDate, date);
}

void TIBClientLibrary::isc_encode_sql_date(const void* tmDate, ISC_DATE* date) {
    SLV_CALL(isc_encode_sql_date, tmDate, date);
}

void TIBClientLibrary::isc_encode_sql_time(const void* tmTime, ISC_TIME* time) {
    SLV_CALL(isc_encode_sql_time, tmTime, time);
}

void TIBClientLibrary::isc_encode_timestamp(const void* tmDate, ISC_TIMESTAMP* timestamp) {
    SLV_CALL(isc_encode_timestamp, tmDate, timestamp);
}

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
    SLV_CALL(isc_event_block, eventBuffer, resultBuffer, count, n[0], n[1], n[2], n[3], n[4], n[5],
             n[6], n[7], n[8], n[9], n[10], n[11], n[12], n[13], n[14]);
}

void TIBClientLibrary::isc_event_counts(ISC_ULONG* counts, short bufferLength,
                                        ISC_UCHAR* eventBuffer, const ISC_UCHAR* resultBuffer) {
    SLV_CALL(isc_event_counts, counts, bufferLength, eventBuffer, resultBuffer);
}

ISC_LONG TIBClientLibrary::isc_free(ISC_SCHAR* block) {
    SLV_CALL(isc_free, block);
}

ISC_STATUS TIBClientLibrary::isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob,
                                             unsigned short* actualLength,
                                             unsigned short bufferLength, ISC_SCHAR* buffer) {
    SLV_CALL(isc_get_segment, status, blob, actualLength, bufferLength, buffer);
}

ISC_STATUS TIBClientLibrary::isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob,
                                             unsigned short length, const ISC_SCHAR* buffer) {
    SLV_CALL(isc_put_segment, status, blob, length, buffer);
}

ISC_LONG TIBClientLibrary::isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** status) {
    SLV_CALL(isc_interprete, buffer, status);
}

ISC_LONG TIBClientLibrary::fb_interpret(ISC_SCHAR* buffer, unsigned int length,
                                        const ISC_STATUS** status) {
    if (FEntries->fb_interpret == nullptr) {
        // An old client: the same walk without a buffer length.
        return isc_interprete(buffer, const_cast<ISC_STATUS**>(status));
    }
    SLV_CALL(fb_interpret, buffer, length, status);
}

ISC_STATUS TIBClientLibrary::isc_open_blob2(ISC_STATUS* status, isc_db_handle* db,
                                            isc_tr_handle* tr, isc_blob_handle* blob,
                                            ISC_QUAD* blobId, ISC_USHORT bpbLength,
                                            const ISC_UCHAR* bpb) {
    SLV_CALL(isc_open_blob2, status, db, tr, blob, blobId, bpbLength, bpb);
}

ISC_STATUS TIBClientLibrary::isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr,
                                                      ISC_USHORT length, const ISC_UCHAR* message) {
    SLV_CALL(isc_prepare_transaction2, status, tr, length, message);
}

ISC_STATUS TIBClientLibrary::isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) {
    SLV_CALL(isc_rollback_retaining, status, tr);
}

ISC_STATUS TIBClientLibrary::isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
    SLV_CALL(isc_rollback_transaction, status, tr);
}

ISC_STATUS TIBClientLibrary::isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count,
                                                void* teb) {
    SLV_CALL(isc_start_multiple, status, tr, count, teb);
}

ISC_LONG TIBClientLibrary::isc_sqlcode(const ISC_STATUS* status) {
    SLV_CALL(isc_sqlcode, status);
}

void TIBClientLibrary::isc_sql_interprete(short sqlCode, ISC_SCHAR* buffer, short length) {
    SLV_CALL(isc_sql_interprete, sqlCode, buffer, length);
}

ISC_LONG TIBClientLibrary::isc_vax_integer(const ISC_SCHAR* bytes, short length) {
    SLV_CALL(isc_vax_integer, bytes, length);
}

ISC_STATUS TIBClientLibrary::isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
    SLV_CALL(isc_prepare_transaction, status, tr);
}

int TIBClientLibrary::BLOB_put(ISC_SCHAR c, FB_BLOB_STREAM stream) {
    SLV_CALL_QUIET(BLOB_put, c, stream);
}

int TIBClientLibrary::BLOB_get(FB_BLOB_STREAM stream) {
    SLV_CALL_QUIET(BLOB_get, stream);
}

ISC_STATUS TIBClientLibrary::isc_dsql_batch_execute_immed(ISC_STATUS* status, isc_db_handle* db,
                                                          isc_tr_handle* tr, unsigned short dialect,
                                                          ISC_BATCH_ULONG count, char** statements,
                                                          ISC_BATCH_ULONG* rowsAffected) {
    SLV_CALL(isc_dsql_batch_execute_immed, status, db, tr, dialect, count, statements,
             rowsAffected);
}

ISC_STATUS TIBClientLibrary::isc_dsql_batch_execute(ISC_STATUS* status, isc_tr_handle* tr,
                                                    isc_stmt_handle* stmt, unsigned short dialect,
                                                    XSQLDA* inSqlda, unsigned short rowCount,
                                                    XSQLVAR** batchVars,
                                                    ISC_BATCH_ULONG* rowsAffected) {
    SLV_CALL(isc_dsql_batch_execute, status, tr, stmt, dialect, inSqlda, rowCount, batchVars,
             rowsAffected);
}

ISC_STATUS TIBClientLibrary::fb_cancel_operation(ISC_STATUS* status, isc_db_handle* db,
                                                 ISC_USHORT option) {
    // Meant to be called from another thread while a call runs: it leaves
    // the busy flag alone.
    SLV_CALL_QUIET(fb_cancel_operation, status, db, option);
}

ISC_STATUS TIBClientLibrary::isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                                const ISC_SCHAR* name, isc_svc_handle* handle,
                                                unsigned short spbLength, const ISC_SCHAR* spb) {
    SLV_CALL(isc_service_attach, status, nameLength, name, handle, spbLength, spb);
}

ISC_STATUS TIBClientLibrary::isc_service_detach(ISC_STATUS* status, isc_svc_handle* handle) {
    SLV_CALL(isc_service_detach, status, handle);
}

ISC_STATUS TIBClientLibrary::isc_service_query(ISC_STATUS* status, isc_svc_handle* handle,
                                               isc_resv_handle* reserved, unsigned short sendLength,
                                               const ISC_SCHAR* sendItems,
                                               unsigned short requestLength,
                                               const ISC_SCHAR* requestItems,
                                               unsigned short bufferLength, ISC_SCHAR* buffer) {
    SLV_CALL(isc_service_query, status, handle, reserved, sendLength, sendItems, requestLength,
             requestItems, bufferLength, buffer);
}

ISC_STATUS TIBClientLibrary::isc_service_start(ISC_STATUS* status, isc_svc_handle* handle,
                                               isc_resv_handle* reserved, unsigned short spbLength,
                                               const ISC_SCHAR* spb) {
    SLV_CALL(isc_service_start, status, handle, reserved, spbLength, spb);
}

void TIBClientLibrary::isc_get_client_version(ISC_SCHAR* buffer) {
    SLV_CALL(isc_get_client_version, buffer);
}

int TIBClientLibrary::isc_get_client_major_version() {
    SLV_CALL(isc_get_client_major_version);
}

int TIBClientLibrary::isc_get_client_minor_version() {
    SLV_CALL(isc_get_client_minor_version);
}

ISC_INT64 TIBClientLibrary::isc_portable_integer(const ISC_UCHAR* bytes, short length) {
    SLV_CALL(isc_portable_integer, bytes, length);
}

#undef SLV_CALL
#undef SLV_CALL_QUIET

} // namespace fib
