/* A stand-in client library for the service component tests. It exports
 * every entry the binding resolves; the four service calls answer from a
 * script that the test sets up through the svcstub_* functions, and record
 * what they were given. Everything else does nothing. */
#include <stdint.h>
#include <string.h>

typedef intptr_t ISC_STATUS;
typedef unsigned int SVC_HANDLE;

#define EXPORT __attribute__((visibility("default")))
#define MAX_REPLIES 256
#define MAX_BYTES 70000

/* A scripted reply: bytes to copy into the reply buffer, or a failure. */
typedef struct {
    int fail;
    int length;
    char* bytes;
} Reply;

static char g_pool[MAX_REPLIES * 64 + MAX_BYTES];
static size_t g_poolUsed;
static Reply g_replies[MAX_REPLIES];
static int g_replyCount;
static int g_replyNext;

static int g_failAttach;
static int g_failStart;
static int g_failDetach;
static unsigned int g_nextHandle = 100;
static int g_live;
static int g_attachCalls, g_detachCalls, g_queryCalls, g_startCalls;

static char g_lastStart[MAX_BYTES];
static int g_lastStartLength;
static char g_lastSpb[MAX_BYTES];
static int g_lastSpbLength;
static char g_lastName[MAX_BYTES];
static int g_lastNameLength;
static char g_lastQuery[256];
static int g_lastQueryLength;
static char g_lastSend[256];
static int g_lastSendLength;
static int g_lastBufferLength;

static const ISC_STATUS kFailureCode = 335544721; /* network error class */

static void SetFailure(ISC_STATUS* status) {
    status[0] = 1;
    status[1] = kFailureCode;
    status[2] = 0;
}

static void SetSuccess(ISC_STATUS* status) {
    status[0] = 1;
    status[1] = 0;
    status[2] = 0;
}

/* --- control -------------------------------------------------------------- */

EXPORT void svcstub_reset(void) {
    g_poolUsed = 0;
    g_replyCount = g_replyNext = 0;
    g_failAttach = g_failStart = g_failDetach = 0;
    g_live = 0;
    g_attachCalls = g_detachCalls = g_queryCalls = g_startCalls = 0;
    g_lastStartLength = g_lastSpbLength = g_lastNameLength = g_lastQueryLength = 0;
    g_lastSendLength = 0;
    g_lastBufferLength = 0;
}

EXPORT int svcstub_push_reply(const char* bytes, int length) {
    if (g_replyCount >= MAX_REPLIES || length < 0 || g_poolUsed + (size_t)length > sizeof g_pool) {
        return 0;
    }
    Reply* r = &g_replies[g_replyCount++];
    r->fail = 0;
    r->length = length;
    r->bytes = g_pool + g_poolUsed;
    memcpy(r->bytes, bytes, (size_t)length);
    g_poolUsed += (size_t)length;
    return 1;
}

EXPORT int svcstub_push_failure(void) {
    if (g_replyCount >= MAX_REPLIES) {
        return 0;
    }
    Reply* r = &g_replies[g_replyCount++];
    r->fail = 1;
    r->length = 0;
    r->bytes = 0;
    return 1;
}

EXPORT void svcstub_fail_attach(int value) { g_failAttach = value; }
EXPORT void svcstub_fail_start(int value) { g_failStart = value; }
EXPORT void svcstub_fail_detach(int value) { g_failDetach = value; }

/* "attach", "detach", "query", "start", "live", "pending", "buffer" */
EXPORT int svcstub_count(const char* what) {
    if (strcmp(what, "attach") == 0) return g_attachCalls;
    if (strcmp(what, "detach") == 0) return g_detachCalls;
    if (strcmp(what, "query") == 0) return g_queryCalls;
    if (strcmp(what, "start") == 0) return g_startCalls;
    if (strcmp(what, "live") == 0) return g_live;
    if (strcmp(what, "pending") == 0) return g_replyCount - g_replyNext;
    if (strcmp(what, "buffer") == 0) return g_lastBufferLength;
    return -1;
}

/* "start", "spb", "name", "query", "send": copies the last block; returns its length */
EXPORT int svcstub_last(const char* what, char* out, int capacity) {
    const char* src = 0;
    int length = 0;
    if (strcmp(what, "start") == 0) { src = g_lastStart; length = g_lastStartLength; }
    else if (strcmp(what, "spb") == 0) { src = g_lastSpb; length = g_lastSpbLength; }
    else if (strcmp(what, "name") == 0) { src = g_lastName; length = g_lastNameLength; }
    else if (strcmp(what, "query") == 0) { src = g_lastQuery; length = g_lastQueryLength; }
    else if (strcmp(what, "send") == 0) { src = g_lastSend; length = g_lastSendLength; }
    else return -1;
    if (length > capacity) length = capacity;
    memcpy(out, src, (size_t)length);
    return length;
}

/* --- service entries ------------------------------------------------------ */

EXPORT ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                     const char* name, SVC_HANDLE* handle,
                                     unsigned short spbLength, const char* spb) {
    ++g_attachCalls;
    memcpy(g_lastName, name, nameLength);
    g_lastNameLength = nameLength;
    memcpy(g_lastSpb, spb, spbLength);
    g_lastSpbLength = spbLength;
    if (g_failAttach || *handle != 0) {
        SetFailure(status);
        return status[1];
    }
    *handle = g_nextHandle++;
    ++g_live;
    SetSuccess(status);
    return 0;
}

EXPORT ISC_STATUS isc_service_detach(ISC_STATUS* status, SVC_HANDLE* handle) {
    ++g_detachCalls;
    if (*handle == 0) {
        SetFailure(status);
        return status[1];
    }
    *handle = 0;
    --g_live;
    if (g_failDetach) {
        SetFailure(status);
        return status[1];
    }
    SetSuccess(status);
    return 0;
}

EXPORT ISC_STATUS isc_service_start(ISC_STATUS* status, SVC_HANDLE* handle, void* reserved,
                                    unsigned short length, const char* block) {
    (void)reserved;
    ++g_startCalls;
    memcpy(g_lastStart, block, length);
    g_lastStartLength = length;
    if (g_failStart || *handle == 0) {
        SetFailure(status);
        return status[1];
    }
    SetSuccess(status);
    return 0;
}

EXPORT ISC_STATUS isc_service_query(ISC_STATUS* status, SVC_HANDLE* handle, void* reserved,
                                    unsigned short sendLength, const char* send,
                                    unsigned short requestLength, const char* request,
                                    unsigned short bufferLength, char* buffer) {
    (void)reserved;
    ++g_queryCalls;
    g_lastSendLength = sendLength < sizeof g_lastSend ? sendLength : (int)sizeof g_lastSend;
    if (send != 0) {
        memcpy(g_lastSend, send, (size_t)g_lastSendLength);
    }
    g_lastQueryLength = requestLength < sizeof g_lastQuery ? requestLength : (int)sizeof g_lastQuery;
    memcpy(g_lastQuery, request, (size_t)g_lastQueryLength);
    g_lastBufferLength = bufferLength;
    /* An exhausted script fails rather than loop forever. */
    if (*handle == 0 || g_replyNext >= g_replyCount || g_replies[g_replyNext].fail) {
        if (g_replyNext < g_replyCount) {
            ++g_replyNext;
        }
        SetFailure(status);
        return status[1];
    }
    const Reply* r = &g_replies[g_replyNext++];
    int n = r->length < bufferLength ? r->length : bufferLength;
    if (n > 0) {
        memcpy(buffer, r->bytes, (size_t)n);
    }
    SetSuccess(status);
    return 0;
}

/* --- error entries -------------------------------------------------------- */

EXPORT int32_t isc_sqlcode(const ISC_STATUS* status) {
    (void)status;
    return -902;
}

EXPORT void isc_sql_interprete(short sqlCode, char* buffer, short length) {
    (void)sqlCode;
    const char text[] = "Unsuccessful execution caused by a stub failure";
    size_t n = sizeof text < (size_t)length ? sizeof text : (size_t)length;
    memcpy(buffer, text, n);
    buffer[n - 1] = '\0';
}

static int32_t Interpret(char* buffer, unsigned int length, const ISC_STATUS** cursor) {
    const ISC_STATUS* p = *cursor;
    if (p[0] == 0 || p[1] == 0) {
        return 0;
    }
    const char text[] = "stub service failure";
    size_t n = sizeof text - 1;
    if (n >= length) {
        n = length - 1;
    }
    memcpy(buffer, text, n);
    buffer[n] = '\0';
    *cursor = p + 2;
    return (int32_t)n;
}

EXPORT int32_t fb_interpret(char* buffer, unsigned int length, const ISC_STATUS** cursor) {
    return Interpret(buffer, length, cursor);
}

EXPORT int32_t isc_interprete(char* buffer, const ISC_STATUS** cursor) {
    return Interpret(buffer, 1024, cursor);
}

EXPORT int32_t isc_vax_integer(const char* bytes, short length) {
    if (bytes == 0 || length <= 0 || length > 4) {
        return 0;
    }
    int32_t value = 0;
    int shift = 0;
    while (--length > 0) {
        value += (int32_t)((uint32_t)(unsigned char)*bytes++ << shift);
        shift += 8;
    }
    value += (int32_t)((uint32_t)(int32_t)(signed char)*bytes << shift);
    return value;
}

/* --- the rest: present so the library loads ------------------------------- */

#define NOOP(name) \
    EXPORT ISC_STATUS name(void) { return 0; }

NOOP(BLOB_get)
NOOP(BLOB_put)
NOOP(isc_blob_info)
NOOP(isc_open_blob2)
NOOP(isc_close_blob)
NOOP(isc_get_segment)
NOOP(isc_put_segment)
NOOP(isc_create_blob2)
NOOP(isc_decode_date)
NOOP(isc_encode_date)
NOOP(isc_dsql_free_statement)
NOOP(isc_dsql_execute2)
NOOP(isc_dsql_execute)
NOOP(isc_dsql_set_cursor_name)
NOOP(isc_dsql_fetch)
NOOP(isc_dsql_sql_info)
NOOP(isc_dsql_alloc_statement2)
NOOP(isc_dsql_prepare)
NOOP(isc_dsql_describe_bind)
NOOP(isc_dsql_describe)
NOOP(isc_dsql_execute_immediate)
NOOP(isc_dsql_exec_immed2)
NOOP(isc_drop_database)
NOOP(isc_detach_database)
NOOP(isc_attach_database)
NOOP(isc_database_info)
NOOP(isc_start_multiple)
NOOP(isc_commit_transaction)
NOOP(isc_commit_retaining)
NOOP(isc_rollback_transaction)
NOOP(isc_cancel_events)
NOOP(isc_que_events)
NOOP(isc_event_counts)
NOOP(isc_event_block)
NOOP(isc_free)
NOOP(isc_array_lookup_bounds)
NOOP(isc_array_get_slice)
NOOP(isc_array_put_slice)
NOOP(isc_wait_for_event)
NOOP(isc_transaction_info)
NOOP(isc_prepare_transaction)
NOOP(isc_prepare_transaction2)
NOOP(isc_rollback_retaining)
NOOP(isc_decode_sql_date)
NOOP(isc_decode_sql_time)
NOOP(isc_decode_timestamp)
NOOP(isc_encode_sql_date)
NOOP(isc_encode_sql_time)
NOOP(isc_encode_timestamp)
NOOP(isc_portable_integer)
