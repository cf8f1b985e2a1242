// Run-time binding of the Firebird client library: one shared, reference
// counted binding per library file name, handed out by a process-wide
// registry. Entry operations forward their arguments unchanged, with the
// widths of the published API (ibase.h).
#pragma once

#include <ibase.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fib {

// The platform's client library file name ("gds32.dll" on Windows,
// "libfbclient.so.2" elsewhere).
extern const std::string DefaultLibraryName;

// The InterBase batch calls; the Firebird client does not export them, so
// their operations normally raise the missing-procedure error.
using ISC_BATCH_ULONG = unsigned long;

// Most events one isc_event_block call takes (the client's own limit).
inline constexpr int MaxEventNames = 15;

// The entry points of the client library, one line each, in the order the
// binding resolves them when it loads a library:
//   X(result, name, (parameters), (arguments), load rule, call kind)
// Load rules: Required (the load fails without it), Optional (may be missing),
// RequiredV6 (required, looked up only when the library has
// isc_rollback_retaining: a version 6 client with the services API and the SQL
// dates), RequiredVersioned and OptionalVersioned (looked up only when the
// library has isc_get_client_version).
// Call kinds: Busy (the operation sets InClientCall around the call), Quiet
// (it leaves the flag alone), Attach (as Busy; afterwards the program's own
// handlers of the requests to end it are put back, as the library installs
// its own at the first attach of the process), Own (the operation is written
// out by hand).
// Every operation raises the missing-procedure error when its entry is not
// resolved. Parameters keep the published widths: lengths the published
// signature declares as unsigned 16-bit stay 16-bit.
// clang-format off
#define SLV_CLIENT_ENTRY_POINTS(X)                                                                 \
    X(int, BLOB_get, (FB_BLOB_STREAM stream), (stream), Required, Quiet)                           \
    X(int, BLOB_put, (ISC_SCHAR c, FB_BLOB_STREAM stream), (c, stream), Required, Quiet)           \
    X(ISC_LONG, isc_sqlcode, (const ISC_STATUS* status), (status), Required, Busy)                 \
    X(void, isc_sql_interprete, (short sqlCode, ISC_SCHAR* buffer, short length),                  \
      (sqlCode, buffer, length), Required, Busy)                                                   \
    X(ISC_LONG, isc_interprete, (ISC_SCHAR* buffer, ISC_STATUS** status), (buffer, status),        \
      Required, Busy)                                                                              \
    /* Falls back to isc_interprete (without the length) when the library lacks it. */             \
    X(ISC_LONG, fb_interpret, (ISC_SCHAR* buffer, unsigned int length, const ISC_STATUS** status), \
      (buffer, length, status), Optional, Own)                                                     \
    X(ISC_LONG, isc_vax_integer, (const ISC_SCHAR* bytes, short length), (bytes, length),          \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_blob_info, (ISC_STATUS* status, isc_blob_handle* blob, short itemsLength,    \
      const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer),                              \
      (status, blob, itemsLength, items, bufferLength, buffer), Required, Busy)                    \
    X(ISC_STATUS, isc_open_blob2, (ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,       \
      isc_blob_handle* blob, ISC_QUAD* blobId, ISC_USHORT bpbLength, const ISC_UCHAR* bpb),        \
      (status, db, tr, blob, blobId, bpbLength, bpb), Required, Busy)                              \
    X(ISC_STATUS, isc_close_blob, (ISC_STATUS* status, isc_blob_handle* blob), (status, blob),     \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_get_segment, (ISC_STATUS* status, isc_blob_handle* blob,                     \
      unsigned short* actualLength, unsigned short bufferLength, ISC_SCHAR* buffer),               \
      (status, blob, actualLength, bufferLength, buffer), Required, Busy)                          \
    X(ISC_STATUS, isc_put_segment, (ISC_STATUS* status, isc_blob_handle* blob,                     \
      unsigned short length, const ISC_SCHAR* buffer), (status, blob, length, buffer), Required,   \
      Busy)                                                                                        \
    X(ISC_STATUS, isc_create_blob2, (ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,     \
      isc_blob_handle* blob, ISC_QUAD* blobId, short bpbLength, const ISC_SCHAR* bpb),             \
      (status, db, tr, blob, blobId, bpbLength, bpb), Required, Busy)                              \
    X(void, isc_decode_date, (const ISC_QUAD* date, void* tmDate), (date, tmDate), Required, Busy) \
    X(void, isc_encode_date, (const void* tmDate, ISC_QUAD* date), (tmDate, date), Required, Busy) \
    X(ISC_STATUS, isc_dsql_free_statement, (ISC_STATUS* status, isc_stmt_handle* stmt,             \
      unsigned short option), (status, stmt, option), Required, Busy)                              \
    X(ISC_STATUS, isc_dsql_execute2, (ISC_STATUS* status, isc_tr_handle* tr,                       \
      isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* inSqlda,                        \
      const XSQLDA* outSqlda), (status, tr, stmt, dialect, inSqlda, outSqlda), Required, Busy)     \
    X(ISC_STATUS, isc_dsql_execute, (ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, \
      unsigned short dialect, const XSQLDA* inSqlda), (status, tr, stmt, dialect, inSqlda),        \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_dsql_set_cursor_name, (ISC_STATUS* status, isc_stmt_handle* stmt,            \
      const ISC_SCHAR* cursorName, unsigned short type), (status, stmt, cursorName, type),         \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_dsql_fetch, (ISC_STATUS* status, isc_stmt_handle* stmt,                      \
      unsigned short dialect, const XSQLDA* sqlda), (status, stmt, dialect, sqlda), Required,      \
      Busy)                                                                                        \
    X(ISC_STATUS, isc_dsql_sql_info, (ISC_STATUS* status, isc_stmt_handle* stmt,                   \
      short itemsLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer),           \
      (status, stmt, itemsLength, items, bufferLength, buffer), Required, Busy)                    \
    X(ISC_STATUS, isc_dsql_alloc_statement2, (ISC_STATUS* status, isc_db_handle* db,               \
      isc_stmt_handle* stmt), (status, db, stmt), Required, Busy)                                  \
    X(ISC_STATUS, isc_dsql_prepare, (ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, \
      unsigned short length, const ISC_SCHAR* statement, unsigned short dialect, XSQLDA* sqlda),   \
      (status, tr, stmt, length, statement, dialect, sqlda), Required, Busy)                       \
    X(ISC_STATUS, isc_dsql_describe_bind, (ISC_STATUS* status, isc_stmt_handle* stmt,              \
      unsigned short dialect, XSQLDA* sqlda), (status, stmt, dialect, sqlda), Required, Busy)      \
    X(ISC_STATUS, isc_dsql_describe, (ISC_STATUS* status, isc_stmt_handle* stmt,                   \
      unsigned short dialect, XSQLDA* sqlda), (status, stmt, dialect, sqlda), Required, Busy)      \
    X(ISC_STATUS, isc_dsql_execute_immediate, (ISC_STATUS* status, isc_db_handle* db,              \
      isc_tr_handle* tr, unsigned short length, const ISC_SCHAR* statement,                        \
      unsigned short dialect, const XSQLDA* sqlda),                                                \
      (status, db, tr, length, statement, dialect, sqlda), Required, Busy)                         \
    X(ISC_STATUS, isc_dsql_exec_immed2, (ISC_STATUS* status, isc_db_handle* db,                    \
      isc_tr_handle* tr, unsigned short length, const ISC_SCHAR* statement,                        \
      unsigned short dialect, const XSQLDA* inSqlda, const XSQLDA* outSqlda),                      \
      (status, db, tr, length, statement, dialect, inSqlda, outSqlda), Required, Busy)             \
    X(ISC_STATUS, isc_drop_database, (ISC_STATUS* status, isc_db_handle* db), (status, db),        \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_detach_database, (ISC_STATUS* status, isc_db_handle* db), (status, db),      \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_attach_database, (ISC_STATUS* status, short nameLength,                      \
      const ISC_SCHAR* name, isc_db_handle* db, short dpbLength, const ISC_SCHAR* dpb),            \
      (status, nameLength, name, db, dpbLength, dpb), Required, Attach)                            \
    X(ISC_STATUS, isc_database_info, (ISC_STATUS* status, isc_db_handle* db, short itemsLength,    \
      const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer),                              \
      (status, db, itemsLength, items, bufferLength, buffer), Required, Busy)                      \
    X(ISC_STATUS, isc_start_multiple, (ISC_STATUS* status, isc_tr_handle* tr, short count,         \
      void* teb), (status, tr, count, teb), Required, Busy)                                        \
    X(ISC_STATUS, isc_commit_transaction, (ISC_STATUS* status, isc_tr_handle* tr), (status, tr),  \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_commit_retaining, (ISC_STATUS* status, isc_tr_handle* tr), (status, tr),    \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_rollback_transaction, (ISC_STATUS* status, isc_tr_handle* tr),              \
      (status, tr), Required, Busy)                                                                \
    X(ISC_STATUS, isc_cancel_events, (ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId),   \
      (status, db, eventId), Required, Busy)                                                       \
    X(ISC_STATUS, isc_que_events, (ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId,       \
      short length, const ISC_UCHAR* eventBuffer, ISC_EVENT_CALLBACK callback,                     \
      void* callbackArg), (status, db, eventId, length, eventBuffer, callback, callbackArg),       \
      Required, Busy)                                                                              \
    X(void, isc_event_counts, (ISC_ULONG* counts, short bufferLength, ISC_UCHAR* eventBuffer,      \
      const ISC_UCHAR* resultBuffer), (counts, bufferLength, eventBuffer, resultBuffer), Required, \
      Busy)                                                                                        \
    /* The published call takes the event names as variable arguments; here they come as an   */ \
    /* array of `count` names (at most MaxEventNames).                                          */ \
    X(ISC_LONG, isc_event_block, (ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer,               \
      ISC_USHORT count, const char* const* names), (), Required, Own)                              \
    X(ISC_LONG, isc_free, (ISC_SCHAR* block), (block), Required, Busy)                             \
    X(ISC_STATUS, isc_array_lookup_bounds, (ISC_STATUS* status, isc_db_handle* db,                 \
      isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC* desc), \
      (status, db, tr, relation, field, desc), Required, Quiet)                                    \
    X(ISC_STATUS, isc_array_get_slice, (ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,  \
      ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength),          \
      (status, db, tr, arrayId, desc, slice, sliceLength), Required, Quiet)                        \
    X(ISC_STATUS, isc_array_put_slice, (ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,  \
      ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength),          \
      (status, db, tr, arrayId, desc, slice, sliceLength), Required, Quiet)                        \
    X(ISC_STATUS, isc_wait_for_event, (ISC_STATUS* status, isc_db_handle* db, short length,        \
      const ISC_UCHAR* eventBuffer, ISC_UCHAR* resultBuffer),                                      \
      (status, db, length, eventBuffer, resultBuffer), Required, Busy)                             \
    X(ISC_STATUS, isc_transaction_info, (ISC_STATUS* status, isc_tr_handle* tr,                    \
      short itemsLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer),           \
      (status, tr, itemsLength, items, bufferLength, buffer), Required, Busy)                      \
    X(ISC_STATUS, isc_prepare_transaction, (ISC_STATUS* status, isc_tr_handle* tr), (status, tr),  \
      Required, Busy)                                                                              \
    X(ISC_STATUS, isc_prepare_transaction2, (ISC_STATUS* status, isc_tr_handle* tr,                \
      ISC_USHORT length, const ISC_UCHAR* message), (status, tr, length, message), Required, Busy) \
    X(ISC_STATUS, isc_array_lookup_desc, (ISC_STATUS* status, isc_db_handle* db,                   \
      isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC* desc), \
      (status, db, tr, relation, field, desc), Optional, Quiet)                                    \
    X(ISC_STATUS, isc_array_set_desc, (ISC_STATUS* status, const ISC_SCHAR* relation,              \
      const ISC_SCHAR* field, const short* sqlDType, const short* sqlLength,                       \
      const short* dimensions, ISC_ARRAY_DESC* desc),                                              \
      (status, relation, field, sqlDType, sqlLength, dimensions, desc), Optional, Quiet)           \
    X(ISC_STATUS, isc_rollback_retaining, (ISC_STATUS* status, isc_tr_handle* tr), (status, tr),   \
      Optional, Busy)                                                                              \
    X(ISC_STATUS, isc_service_attach, (ISC_STATUS* status, unsigned short nameLength,              \
      const ISC_SCHAR* name, isc_svc_handle* handle, unsigned short spbLength,                     \
      const ISC_SCHAR* spb), (status, nameLength, name, handle, spbLength, spb), RequiredV6,       \
      Attach)                                                                                      \
    X(ISC_STATUS, isc_service_detach, (ISC_STATUS* status, isc_svc_handle* handle),                \
      (status, handle), RequiredV6, Busy)                                                          \
    X(ISC_STATUS, isc_service_query, (ISC_STATUS* status, isc_svc_handle* handle,                  \
      isc_resv_handle* reserved, unsigned short sendLength, const ISC_SCHAR* sendItems,            \
      unsigned short requestLength, const ISC_SCHAR* requestItems, unsigned short bufferLength,    \
      ISC_SCHAR* buffer), (status, handle, reserved, sendLength, sendItems, requestLength,         \
      requestItems, bufferLength, buffer), RequiredV6, Busy)                                       \
    X(ISC_STATUS, isc_service_start, (ISC_STATUS* status, isc_svc_handle* handle,                  \
      isc_resv_handle* reserved, unsigned short spbLength, const ISC_SCHAR* spb),                  \
      (status, handle, reserved, spbLength, spb), RequiredV6, Busy)                                \
    X(void, isc_decode_sql_date, (const ISC_DATE* date, void* tmDate), (date, tmDate),             \
      RequiredV6, Busy)                                                                            \
    X(void, isc_decode_sql_time, (const ISC_TIME* time, void* tmTime), (time, tmTime),             \
      RequiredV6, Busy)                                                                            \
    X(void, isc_decode_timestamp, (const ISC_TIMESTAMP* timestamp, void* tmDate),                  \
      (timestamp, tmDate), RequiredV6, Busy)                                                       \
    X(void, isc_encode_sql_date, (const void* tmDate, ISC_DATE* date), (tmDate, date),             \
      RequiredV6, Busy)                                                                            \
    X(void, isc_encode_sql_time, (const void* tmTime, ISC_TIME* time), (tmTime, time),             \
      RequiredV6, Busy)                                                                            \
    X(void, isc_encode_timestamp, (const void* tmDate, ISC_TIMESTAMP* timestamp),                  \
      (tmDate, timestamp), RequiredV6, Busy)                                                       \
    X(ISC_INT64, isc_portable_integer, (const ISC_UCHAR* bytes, short length), (bytes, length),    \
      RequiredV6, Busy)                                                                            \
    X(void, isc_get_client_version, (ISC_SCHAR* buffer), (buffer), Optional, Busy)                 \
    X(int, isc_get_client_major_version, (), (), RequiredVersioned, Busy)                          \
    X(int, isc_get_client_minor_version, (), (), RequiredVersioned, Busy)                          \
    X(ISC_STATUS, isc_dsql_batch_execute_immed, (ISC_STATUS* status, isc_db_handle* db,            \
      isc_tr_handle* tr, unsigned short dialect, ISC_BATCH_ULONG count, char** statements,         \
      ISC_BATCH_ULONG* rowsAffected), (status, db, tr, dialect, count, statements, rowsAffected),  \
      OptionalVersioned, Busy)                                                                     \
    X(ISC_STATUS, isc_dsql_batch_execute, (ISC_STATUS* status, isc_tr_handle* tr,                  \
      isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* inSqlda, unsigned short rowCount,     \
      XSQLVAR** batchVars, ISC_BATCH_ULONG* rowsAffected),                                         \
      (status, tr, stmt, dialect, inSqlda, rowCount, batchVars, rowsAffected), OptionalVersioned,  \
      Busy)                                                                                        \
    /* Meant to be called from another thread while a call runs. */                              \
    X(ISC_STATUS, fb_cancel_operation, (ISC_STATUS* status, isc_db_handle* db, ISC_USHORT option), \
      (status, db, option), OptionalVersioned, Quiet)
// clang-format on

class IIBClientLibrary {
public:
    virtual ~IIBClientLibrary() = default;

    virtual std::string LibraryFileName() const = 0;
    virtual int32_t ClientVersionMajor() const = 0;
    virtual int32_t ClientVersionMinor() const = 0;
    virtual bool InClientCall() const = 0;

    // One operation per entry point: it forwards its arguments unchanged and
    // returns the entry's result unchanged.
#define SLV_DECLARE_ENTRY(result, name, params, args, load, call) virtual result name params = 0;
    SLV_CLIENT_ENTRY_POINTS(SLV_DECLARE_ENTRY)
#undef SLV_DECLARE_ENTRY

    virtual void Unload() = 0;
    virtual void Load() = 0;
    virtual bool IsLoaded() const = 0;
};

using IIBClientLibraryPtr = std::shared_ptr<IIBClientLibrary>;

// The shared, loaded binding for a library file name (compared exactly),
// created and loaded on first request. Raises rtl::EOSError when the library
// cannot be loaded or lacks a required entry; nothing is registered then, and
// the next request for that name tries again. Thread-safe: one process-wide
// lock is held for the whole request, a load included.
IIBClientLibraryPtr AcquireClientLibrary(const std::string& libraryName);

// Every binding created so far, in creation order (the registry keeps one
// reference to each until the process ends).
std::vector<IIBClientLibraryPtr> RegisteredClientLibraries();

struct TIBClientLibraryEntries;

// The binding itself. Construction loads the library (and raises as
// AcquireClientLibrary does); destruction unloads it. Normally reached only
// through AcquireClientLibrary; a binding constructed directly is not shared.
class TIBClientLibrary final : public IIBClientLibrary {
public:
    explicit TIBClientLibrary(const std::string& libraryName);
    ~TIBClientLibrary() override;
    TIBClientLibrary(const TIBClientLibrary&) = delete;
    TIBClientLibrary& operator=(const TIBClientLibrary&) = delete;

    std::string LibraryFileName() const override;
    int32_t ClientVersionMajor() const override;
    int32_t ClientVersionMinor() const override;
    bool InClientCall() const override;

#define SLV_OVERRIDE_ENTRY(result, name, params, args, load, call) result name params override;
    SLV_CLIENT_ENTRY_POINTS(SLV_OVERRIDE_ENTRY)
#undef SLV_OVERRIDE_ENTRY

    void Unload() override;
    void Load() override;
    bool IsLoaded() const override;

private:
    [[noreturn]] void RaiseMissing(const char* entryName) const;

    void* FHandle = nullptr;
    const std::string FLibraryName;
    int32_t FClientVersionMajor = 0;
    int32_t FClientVersionMinor = 0;
    std::unique_ptr<TIBClientLibraryEntries> FEntries;
    std::atomic<bool> FBusy{false};
};

} // namespace fib
