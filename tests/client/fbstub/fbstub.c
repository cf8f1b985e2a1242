/* A stand-in for the Firebird client library. Built several times with
 * different entries left out (OMIT_* macros) to see how the binding loads
 * libraries of other client versions. The entries do nothing except the few
 * that the error reporting reads: those return texts set by stub_script().
 *
 * The test program may define slv_stub_event(): every load, unload and call
 * is reported there with the path of the library file and the entry name. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#define EXPORT __attribute__((visibility("default")))

typedef intptr_t STATUS;

extern void slv_stub_event(const char* library, const char* what) __attribute__((weak));

static const char* LibraryPath(void) {
    Dl_info info;
    if (dladdr((void*)&LibraryPath, &info) != 0 && info.dli_fname != NULL) {
        return info.dli_fname;
    }
    return "?";
}

static void Report(const char* what) {
    if (slv_stub_event) {
        slv_stub_event(LibraryPath(), what);
    }
}

__attribute__((constructor)) static void OnLoad(void) {
#ifdef SLOW_LOAD
    /* Long enough for a second thread to ask for the same library. */
    struct timespec pause = {0, 200 * 1000 * 1000};
    nanosleep(&pause, NULL);
#endif
    Report("load");
}

__attribute__((destructor)) static void OnUnload(void) {
    Report("unload");
}

/* --- scripted texts of the error entries */
static long gSqlCode = -902;
static char gSqlText[2048] = "";
static char gLines[8][512];
static int gLineCount = 0;
static int gNextLine = 0;
static long gLastSqlTextLength = -1;
static long gLastInterpretLength = -1;

EXPORT void stub_script(long sqlCode, const char* sqlText, const char* const* lines, int count) {
    gSqlCode = sqlCode;
    snprintf(gSqlText, sizeof gSqlText, "%s", sqlText);
    gLineCount = count < 8 ? count : 8;
    for (int i = 0; i < gLineCount; ++i) {
        snprintf(gLines[i], sizeof gLines[i], "%s", lines[i]);
    }
    gNextLine = 0;
}

EXPORT long stub_last_sql_text_length(void) {
    return gLastSqlTextLength;
}
EXPORT long stub_last_interpret_length(void) {
    return gLastInterpretLength;
}

EXPORT long isc_sqlcode(const STATUS* status) {
    (void)status;
    Report("isc_sqlcode");
    gNextLine = 0;
    return gSqlCode;
}

EXPORT void isc_sql_interprete(short sqlCode, char* buffer, short length) {
    (void)sqlCode;
    Report("isc_sql_interprete");
    gLastSqlTextLength = length;
    snprintf(buffer, (size_t)length, "%s", gSqlText);
}

static long NextLine(char* buffer, size_t length, const char* prefix, const STATUS** status) {
    if (gNextLine >= gLineCount) {
        return 0;
    }
    snprintf(buffer, length, "%s%s", prefix, gLines[gNextLine++]);
    *status += 2;
    return (long)strlen(buffer);
}

#ifndef OMIT_FB_INTERPRET
EXPORT long fb_interpret(char* buffer, unsigned int length, const STATUS** status) {
    Report("fb_interpret");
    gLastInterpretLength = (long)length;
    return NextLine(buffer, length, "", status);
}
#endif

/* The old walk has no length; its lines are marked so a test can tell. */
EXPORT long isc_interprete(char* buffer, STATUS** status) {
    Report("isc_interprete");
    return NextLine(buffer, 256, "old ", (const STATUS**)status);
}

EXPORT int BLOB_get(void* stream) {
    (void)stream;
    Report("BLOB_get");
    return 42;
}

EXPORT STATUS isc_attach_database(STATUS* status, short nameLength, const char* name,
                                  unsigned int* db, short dpbLength, const char* dpb) {
    (void)nameLength;
    (void)name;
    (void)dpbLength;
    (void)dpb;
    Report("isc_attach_database");
    *db = 77;
    status[0] = 1;
    status[1] = 0;
    status[2] = 0;
    return 0;
}

EXPORT long isc_vax_integer(const char* bytes, short length) {
    long value = 0;
    for (int i = 0; i < length; ++i) {
        value |= (long)(unsigned char)bytes[i] << (8 * i);
    }
    Report("isc_vax_integer");
    return value;
}

/* Every other entry: arguments ignored, status 0. */
#define STUB(name)                                                                                 \
    EXPORT STATUS name() {                                                                         \
        Report(#name);                                                                             \
        return 0;                                                                                  \
    }

STUB(BLOB_put)
STUB(isc_blob_info)
STUB(isc_open_blob2)
STUB(isc_close_blob)
STUB(isc_get_segment)
STUB(isc_put_segment)
STUB(isc_create_blob2)
STUB(isc_decode_date)
STUB(isc_encode_date)
STUB(isc_dsql_free_statement)
STUB(isc_dsql_execute2)
STUB(isc_dsql_execute)
STUB(isc_dsql_set_cursor_name)
#ifndef OMIT_DSQL_FETCH
STUB(isc_dsql_fetch)
#endif
STUB(isc_dsql_sql_info)
STUB(isc_dsql_alloc_statement2)
STUB(isc_dsql_prepare)
STUB(isc_dsql_describe_bind)
STUB(isc_dsql_describe)
STUB(isc_dsql_execute_immediate)
STUB(isc_dsql_exec_immed2)
STUB(isc_drop_database)
STUB(isc_detach_database)
STUB(isc_database_info)
STUB(isc_start_multiple)
STUB(isc_commit_transaction)
STUB(isc_commit_retaining)
STUB(isc_rollback_transaction)
STUB(isc_cancel_events)
STUB(isc_que_events)
STUB(isc_event_counts)
STUB(isc_event_block)
STUB(isc_free)
STUB(isc_array_lookup_bounds)
STUB(isc_array_get_slice)
STUB(isc_array_put_slice)
STUB(isc_wait_for_event)
STUB(isc_transaction_info)
STUB(isc_prepare_transaction)
STUB(isc_prepare_transaction2)
#ifndef OMIT_ROLLBACK_RETAINING
STUB(isc_rollback_retaining)
#endif
STUB(isc_service_attach)
STUB(isc_service_detach)
STUB(isc_service_query)
STUB(isc_service_start)
STUB(isc_decode_sql_date)
STUB(isc_decode_sql_time)
STUB(isc_decode_timestamp)
STUB(isc_encode_sql_date)
STUB(isc_encode_sql_time)
STUB(isc_encode_timestamp)
STUB(isc_portable_integer)

#ifndef OMIT_CLIENT_VERSION
EXPORT void isc_get_client_version(char* buffer) {
    Report("isc_get_client_version");
    strcpy(buffer, "stub 9.7");
}
EXPORT int isc_get_client_major_version(void) {
    return 9;
}
EXPORT int isc_get_client_minor_version(void) {
    return 7;
}
STUB(isc_dsql_batch_execute_immed)
STUB(isc_dsql_batch_execute)
STUB(fb_cancel_operation)
#endif
