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

// The platform's client library file name ("libfbclient.so.2" here).
extern const std::string DefaultLibraryName;

// The InterBase batch calls; the Firebird client does not export them, so
// their operations normally raise the missing-procedure error.
using ISC_BATCH_ULONG = unsigned long;

// Most events one isc_event_block call takes (the client's own limit).
inline constexpr int MaxEventNames = 15;

class IIBClientLibrary {
public:
    virtual ~IIBClientLibrary() = default;

    virtual std::string LibraryFileName() const = 0;
    virtual int32_t ClientVersionMajor() const = 0;
    virtual int32_t ClientVersionMinor() const = 0;
    virtual bool InClientCall() const = 0;

    // --- entry operations, in the order of the interface
    virtual ISC_STATUS isc_attach_database(ISC_STATUS* status, short nameLength,
                                           const ISC_SCHAR* name, isc_db_handle* db,
                                           short dpbLength, const ISC_SCHAR* dpb) = 0;
    virtual ISC_STATUS isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                           ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc,
                                           void* slice, ISC_LONG* sliceLength) = 0;
    virtual ISC_STATUS isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db,
                                               isc_tr_handle* tr, const ISC_SCHAR* relation,
                                               const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) = 0;
    virtual ISC_STATUS isc_array_lookup_desc(ISC_STATUS* status, isc_db_handle* db,
                                             isc_tr_handle* tr, const ISC_SCHAR* relation,
                                             const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) = 0;
    virtual ISC_STATUS isc_array_set_desc(ISC_STATUS* status, const ISC_SCHAR* relation,
                                          const ISC_SCHAR* field, const short* sqlDType,
                                          const short* sqlLength, const short* dimensions,
                                          ISC_ARRAY_DESC* desc) = 0;
    virtual ISC_STATUS isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                           ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc,
                                           void* slice, ISC_LONG* sliceLength) = 0;
    virtual ISC_STATUS isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob, short itemsLength,
                                     const ISC_SCHAR* items, short bufferLength,
                                     ISC_SCHAR* buffer) = 0;
    virtual ISC_STATUS isc_cancel_events(ISC_STATUS* status, isc_db_handle* db,
                                         ISC_LONG* eventId) = 0;
    virtual ISC_STATUS isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId,
                                      short length, const ISC_UCHAR* eventBuffer,
                                      ISC_EVENT_CALLBACK callback, void* callbackArg) = 0;
    virtual ISC_STATUS isc_wait_for_event(ISC_STATUS* status, isc_db_handle* db, short length,
                                          const ISC_UCHAR* eventBuffer,
                                          ISC_UCHAR* resultBuffer) = 0;
    virtual ISC_STATUS isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) = 0;
    virtual ISC_STATUS isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                        isc_blob_handle* blob, ISC_QUAD* blobId, short bpbLength,
                                        const ISC_SCHAR* bpb) = 0;
    virtual ISC_STATUS isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) = 0;
    virtual ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) = 0;
    virtual ISC_STATUS isc_transaction_info(ISC_STATUS* status, isc_tr_handle* tr,
                                            short itemsLength, const ISC_SCHAR* items,
                                            short bufferLength, ISC_SCHAR* buffer) = 0;
    virtual ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* db, short itemsLength,
                                         const ISC_SCHAR* items, short bufferLength,
                                         ISC_SCHAR* buffer) = 0;
    virtual void isc_decode_date(const ISC_QUAD* date, void* tmDate) = 0;
    virtual void isc_decode_sql_date(const ISC_DATE* date, void* tmDate) = 0;
    virtual void isc_decode_sql_time(const ISC_TIME* time, void* tmTime) = 0;
    virtual void isc_decode_timestamp(const ISC_TIMESTAMP* timestamp, void* tmDate) = 0;
    virtual ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* db) = 0;
    virtual ISC_STATUS isc_drop_database(ISC_STATUS* status, isc_db_handle* db) = 0;
    virtual ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db,
                                                 isc_stmt_handle* stmt) = 0;
    virtual ISC_STATUS isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt,
                                         unsigned short dialect, XSQLDA* sqlda) = 0;
    virtual ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt,
                                              unsigned short dialect, XSQLDA* sqlda) = 0;
    virtual ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr,
                                        isc_stmt_handle* stmt, unsigned short dialect,
                                        const XSQLDA* inSqlda) = 0;
    virtual ISC_STATUS isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr,
                                         isc_stmt_handle* stmt, unsigned short dialect,
                                         const XSQLDA* inSqlda, const XSQLDA* outSqlda) = 0;
    virtual ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db,
                                                  isc_tr_handle* tr, unsigned short length,
                                                  const ISC_SCHAR* statement,
                                                  unsigned short dialect, const XSQLDA* sqlda) = 0;
    virtual ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS* status, isc_db_handle* db,
                                            isc_tr_handle* tr, unsigned short length,
                                            const ISC_SCHAR* statement, unsigned short dialect,
                                            const XSQLDA* inSqlda, const XSQLDA* outSqlda) = 0;
    virtual ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt,
                                      unsigned short dialect, const XSQLDA* sqlda) = 0;
    virtual ISC_STATUS isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt,
                                               unsigned short option) = 0;
    virtual ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr,
                                        isc_stmt_handle* stmt, unsigned short length,
                                        const ISC_SCHAR* statement, unsigned short dialect,
                                        XSQLDA* sqlda) = 0;
    virtual ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                const ISC_SCHAR* cursorName,
                                                unsigned short type) = 0;
    virtual ISC_STATUS isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt,
                                         short itemsLength, const ISC_SCHAR* items,
                                         short bufferLength, ISC_SCHAR* buffer) = 0;
    virtual void isc_encode_date(const void* tmDate, ISC_QUAD* date) = 0;
    virtual void isc_encode_sql_date(const void* tmDate, ISC_DATE* date) = 0;
    virtual void isc_encode_sql_time(const void* tmTime, ISC_TIME* time) = 0;
    virtual void isc_encode_timestamp(const void* tmDate, ISC_TIMESTAMP* timestamp) = 0;
    // The published call takes the event names as variable arguments; here
    // they come as an array of `count` names (at most MaxEventNames).
    virtual ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer,
                                     ISC_USHORT count, const char* const* names) = 0;
    virtual void isc_event_counts(ISC_ULONG* counts, short bufferLength, ISC_UCHAR* eventBuffer,
                                  const ISC_UCHAR* resultBuffer) = 0;
    virtual ISC_LONG isc_free(ISC_SCHAR* block) = 0;
    virtual ISC_STATUS isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob,
                                       unsigned short* actualLength, unsigned short bufferLength,
                                       ISC_SCHAR* buffer) = 0;
    virtual ISC_STATUS isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob,
                                       unsigned short length, const ISC_SCHAR* buffer) = 0;
    virtual ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** status) = 0;
    // Falls back to isc_interprete (without the length) when the library
    // has no fb_interpret.
    virtual ISC_LONG fb_interpret(ISC_SCHAR* buffer, unsigned int length,
                                  const ISC_STATUS** status) = 0;
    virtual ISC_STATUS isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                      isc_blob_handle* blob, ISC_QUAD* blobId, ISC_USHORT bpbLength,
                                      const ISC_UCHAR* bpb) = 0;
    virtual ISC_STATUS isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr,
                                                ISC_USHORT length, const ISC_UCHAR* message) = 0;
    virtual ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) = 0;
    virtual ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) = 0;
    virtual ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count,
                                          void* teb) = 0;
    virtual ISC_LONG isc_sqlcode(const ISC_STATUS* status) = 0;
    virtual void isc_sql_interprete(short sqlCode, ISC_SCHAR* buffer, short length) = 0;
    virtual ISC_LONG isc_vax_integer(const ISC_SCHAR* bytes, short length) = 0;
    virtual ISC_STATUS isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) = 0;
    virtual int BLOB_put(ISC_SCHAR c, FB_BLOB_STREAM stream) = 0;
    virtual int BLOB_get(FB_BLOB_STREAM stream) = 0;
    virtual ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS* status, isc_db_handle* db,
                                                    isc_tr_handle* tr, unsigned short dialect,
                                                    ISC_BATCH_ULONG count, char** statements,
                                                    ISC_BATCH_ULONG* rowsAffected) = 0;
    virtual ISC_STATUS isc_dsql_batch_execute(ISC_STATUS* status, isc_tr_handle* tr,
                                              isc_stmt_handle* stmt, unsigned short dialect,
                                              XSQLDA* inSqlda, unsigned short rowCount,
                                              XSQLVAR** batchVars,
                                              ISC_BATCH_ULONG* rowsAffected) = 0;
    virtual ISC_STATUS fb_cancel_operation(ISC_STATUS* status, isc_db_handle* db,
                                           ISC_USHORT option) = 0;
    virtual ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                          const ISC_SCHAR* name, isc_svc_handle* handle,
                                          unsigned short spbLength, const ISC_SCHAR* spb) = 0;
    virtual ISC_STATUS isc_service_detach(ISC_STATUS* status, isc_svc_handle* handle) = 0;
    virtual ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* handle,
                                         isc_resv_handle* reserved, unsigned short sendLength,
                                         const ISC_SCHAR* sendItems, unsigned short requestLength,
                                         const ISC_SCHAR* requestItems, unsigned short bufferLength,
                                         ISC_SCHAR* buffer) = 0;
    virtual ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* handle,
                                         isc_resv_handle* reserved, unsigned short spbLength,
                                         const ISC_SCHAR* spb) = 0;
    virtual void isc_get_client_version(ISC_SCHAR* buffer) = 0;
    virtual int isc_get_client_major_version() = 0;
    virtual int isc_get_client_minor_version() = 0;
    virtual ISC_INT64 isc_portable_integer(const ISC_UCHAR* bytes, short length) = 0;

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

    ISC_STATUS isc_attach_database(ISC_STATUS* status, short nameLength, const ISC_SCHAR* name,
                                   isc_db_handle* db, short dpbLength,
                                   const ISC_SCHAR* dpb) override;
    ISC_STATUS isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                   ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice,
                                   ISC_LONG* sliceLength) override;
    ISC_STATUS isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                       const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                       ISC_ARRAY_DESC* desc) override;
    ISC_STATUS isc_array_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                     const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                     ISC_ARRAY_DESC* desc) override;
    ISC_STATUS isc_array_set_desc(ISC_STATUS* status, const ISC_SCHAR* relation,
                                  const ISC_SCHAR* field, const short* sqlDType,
                                  const short* sqlLength, const short* dimensions,
                                  ISC_ARRAY_DESC* desc) override;
    ISC_STATUS isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                   ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice,
                                   ISC_LONG* sliceLength) override;
    ISC_STATUS isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob, short itemsLength,
                             const ISC_SCHAR* items, short bufferLength,
                             ISC_SCHAR* buffer) override;
    ISC_STATUS isc_cancel_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId) override;
    ISC_STATUS isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId,
                              short length, const ISC_UCHAR* eventBuffer,
                              ISC_EVENT_CALLBACK callback, void* callbackArg) override;
    ISC_STATUS isc_wait_for_event(ISC_STATUS* status, isc_db_handle* db, short length,
                                  const ISC_UCHAR* eventBuffer, ISC_UCHAR* resultBuffer) override;
    ISC_STATUS isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) override;
    ISC_STATUS isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                isc_blob_handle* blob, ISC_QUAD* blobId, short bpbLength,
                                const ISC_SCHAR* bpb) override;
    ISC_STATUS isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) override;
    ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) override;
    ISC_STATUS isc_transaction_info(ISC_STATUS* status, isc_tr_handle* tr, short itemsLength,
                                    const ISC_SCHAR* items, short bufferLength,
                                    ISC_SCHAR* buffer) override;
    ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* db, short itemsLength,
                                 const ISC_SCHAR* items, short bufferLength,
                                 ISC_SCHAR* buffer) override;
    void isc_decode_date(const ISC_QUAD* date, void* tmDate) override;
    void isc_decode_sql_date(const ISC_DATE* date, void* tmDate) override;
    void isc_decode_sql_time(const ISC_TIME* time, void* tmTime) override;
    void isc_decode_timestamp(const ISC_TIMESTAMP* timestamp, void* tmDate) override;
    ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* db) override;
    ISC_STATUS isc_drop_database(ISC_STATUS* status, isc_db_handle* db) override;
    ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db,
                                         isc_stmt_handle* stmt) override;
    ISC_STATUS isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                                 XSQLDA* sqlda) override;
    ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt,
                                      unsigned short dialect, XSQLDA* sqlda) override;
    ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                unsigned short dialect, const XSQLDA* inSqlda) override;
    ISC_STATUS isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                 unsigned short dialect, const XSQLDA* inSqlda,
                                 const XSQLDA* outSqlda) override;
    ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                          unsigned short length, const ISC_SCHAR* statement,
                                          unsigned short dialect, const XSQLDA* sqlda) override;
    ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                    unsigned short length, const ISC_SCHAR* statement,
                                    unsigned short dialect, const XSQLDA* inSqlda,
                                    const XSQLDA* outSqlda) override;
    ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                              const XSQLDA* sqlda) override;
    ISC_STATUS isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt,
                                       unsigned short option) override;
    ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                unsigned short length, const ISC_SCHAR* statement,
                                unsigned short dialect, XSQLDA* sqlda) override;
    ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* stmt,
                                        const ISC_SCHAR* cursorName, unsigned short type) override;
    ISC_STATUS isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt, short itemsLength,
                                 const ISC_SCHAR* items, short bufferLength,
                                 ISC_SCHAR* buffer) override;
    void isc_encode_date(const void* tmDate, ISC_QUAD* date) override;
    void isc_encode_sql_date(const void* tmDate, ISC_DATE* date) override;
    void isc_encode_sql_time(const void* tmTime, ISC_TIME* time) override;
    void isc_encode_timestamp(const void* tmDate, ISC_TIMESTAMP* timestamp) override;
    ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count,
                             const char* const* names) override;
    void isc_event_counts(ISC_ULONG* counts, short bufferLength, ISC_UCHAR* eventBuffer,
                          const ISC_UCHAR* resultBuffer) override;
    ISC_LONG isc_free(ISC_SCHAR* block) override;
    ISC_STATUS isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob,
                               unsigned short* actualLength, unsigned short bufferLength,
                               ISC_SCHAR* buffer) override;
    ISC_STATUS isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short length,
                               const ISC_SCHAR* buffer) override;
    ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** status) override;
    ISC_LONG fb_interpret(ISC_SCHAR* buffer, unsigned int length,
                          const ISC_STATUS** status) override;
    ISC_STATUS isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                              isc_blob_handle* blob, ISC_QUAD* blobId, ISC_USHORT bpbLength,
                              const ISC_UCHAR* bpb) override;
    ISC_STATUS isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr, ISC_USHORT length,
                                        const ISC_UCHAR* message) override;
    ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) override;
    ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) override;
    ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count,
                                  void* teb) override;
    ISC_LONG isc_sqlcode(const ISC_STATUS* status) override;
    void isc_sql_interprete(short sqlCode, ISC_SCHAR* buffer, short length) override;
    ISC_LONG isc_vax_integer(const ISC_SCHAR* bytes, short length) override;
    ISC_STATUS isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) override;
    int BLOB_put(ISC_SCHAR c, FB_BLOB_STREAM stream) override;
    int BLOB_get(FB_BLOB_STREAM stream) override;
    ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS* status, isc_db_handle* db,
                                            isc_tr_handle* tr, unsigned short dialect,
                                            ISC_BATCH_ULONG count, char** statements,
                                            ISC_BATCH_ULONG* rowsAffected) override;
    ISC_STATUS isc_dsql_batch_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                      unsigned short dialect, XSQLDA* inSqlda,
                                      unsigned short rowCount, XSQLVAR** batchVars,
                                      ISC_BATCH_ULONG* rowsAffected) override;
    ISC_STATUS fb_cancel_operation(ISC_STATUS* status, isc_db_handle* db,
                                   ISC_USHORT option) override;
    ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                  const ISC_SCHAR* name, isc_svc_handle* handle,
                                  unsigned short spbLength, const ISC_SCHAR* spb) override;
    ISC_STATUS isc_service_detach(ISC_STATUS* status, isc_svc_handle* handle) override;
    ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* handle,
                                 isc_resv_handle* reserved, unsigned short sendLength,
                                 const ISC_SCHAR* sendItems, unsigned short requestLength,
                                 const ISC_SCHAR* requestItems, unsigned short bufferLength,
                                 ISC_SCHAR* buffer) override;
    ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* handle,
                                 isc_resv_handle* reserved, unsigned short spbLength,
                                 const ISC_SCHAR* spb) override;
    void isc_get_client_version(ISC_SCHAR* buffer) override;
    int isc_get_client_major_version() override;
    int isc_get_client_minor_version() override;
    ISC_INT64 isc_portable_integer(const ISC_UCHAR* bytes, short length) override;

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
