// gds32.dll for the tests of the Windows build under Wine: a Wine built-in
// library (an ELF file that Wine loads as a DLL) whose every export calls
// the same function of the Linux client library, so that the Windows
// program talks to the real Firebird server of the test machine. It never
// ships.
//
// Each export is a Windows (ms_abi) function; the Linux library is called
// with the System V convention through pointers typed by its own header.
// The widths agree on both sides of a 64-bit build (ISC_STATUS 8 bytes,
// ISC_LONG and the handles 4), so arguments pass unchanged. The library is
// opened on the first call, never while Wine loads this one (no dlopen in
// DllMain).
//
// The exports are the entry points of client/include/client/IB_Intf.h (the
// build makes Wine's export list from that list); the tool's service and
// error calls are the ones the tests exercise. Calls whose structures differ
// between the two systems (struct tm of the date calls) are passed on as
// they are and are not for use through this bridge.

// The Linux header must declare the Linux calls: without the Windows markers
// that winegcc defines, ibase.h gives them the System V convention.
#undef _WIN32
#undef WIN32
#undef __WIN32__
#undef _WIN64
#include "client/IB_Intf.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

// BridgePaths.cpp: the Linux name of a Windows path, and text of the ANSI
// code page in UTF-8.
extern "C" char* bridge_unix_path(const char* text, int length, int utf8);
extern "C" char* bridge_ansi_to_utf8(const char* text, int length);

#define SLV_WINAPI __attribute__((ms_abi))

namespace {

void* gLibrary = nullptr;
pthread_once_t gOnce = PTHREAD_ONCE_INIT;

void OpenLibrary() {
    const char* name = std::getenv("SLV_BRIDGE_CLIENT");
    gLibrary =
        dlopen(name != nullptr && *name != '\0' ? name : "libfbclient.so.2", RTLD_NOW | RTLD_LOCAL);
    if (gLibrary == nullptr) {
        std::fprintf(stderr, "gds32 bridge: %s\n", dlerror());
    }
}

void* Resolve(const char* name) {
    pthread_once(&gOnce, OpenLibrary);
    void* address = gLibrary != nullptr ? dlsym(gLibrary, name) : nullptr;
    if (address == nullptr) {
        std::fprintf(stderr, "gds32 bridge: the client library has no %s\n", name);
        std::abort();
    }
    return address;
}

template <typename Fn> Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(Resolve(name));
}

} // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#define SLV_BRIDGE_FORWARD(result, name, params, args)                                             \
    extern "C" SLV_WINAPI result bridge_##name params {                                            \
        using Real = result(*) params;                                                             \
        static const auto real = Entry<Real>(#name);                                               \
        return real args;                                                                          \
    }
#define SLV_BRIDGE_Busy(result, name, params, args) SLV_BRIDGE_FORWARD(result, name, params, args)
#define SLV_BRIDGE_Quiet(result, name, params, args) SLV_BRIDGE_FORWARD(result, name, params, args)
#define SLV_BRIDGE_Attach(result, name, params, args) SLV_BRIDGE_FORWARD(result, name, params, args)
#define SLV_BRIDGE_Own(result, name, params, args)
#define SLV_BRIDGE_ENTRY(result, name, params, args, load, call)                                   \
    SLV_BRIDGE_##call(result, name, params, args)

// The InterBase batch calls are defined too but not exported (the Firebird
// library has none), so the Windows program finds them missing.
namespace fib {
SLV_CLIENT_ENTRY_POINTS(SLV_BRIDGE_ENTRY)

SLV_BRIDGE_FORWARD(ISC_LONG, fb_interpret,
                   (ISC_SCHAR * buffer, unsigned int length, const ISC_STATUS** status),
                   (buffer, length, status))
} // namespace fib

namespace {

// One item of a backup or restore start block: its length with the tag,
// and whether it is a text (tag, 16-bit length, bytes).
struct TItem {
    size_t Length;
    bool Text;
};

// The item at `at`; nullopt for a tag this reader does not know or an item
// that runs past the block.
std::optional<TItem> ItemAt(const std::string& block, size_t at) {
    const auto byteAt = [&block](size_t i) { return static_cast<unsigned char>(block[i]); };
    TItem item{1, false};
    switch (byteAt(at)) {
    case isc_spb_dbname:
    case isc_spb_bkp_file:
    case isc_spb_res_fix_fss_data:
    case isc_spb_res_fix_fss_metadata:
        if (at + 3 > block.size()) {
            return std::nullopt;
        }
        item = {static_cast<size_t>(3 + (byteAt(at + 1) | (byteAt(at + 2) << 8))), true};
        break;
    case isc_spb_options:
    case isc_spb_bkp_factor:
    case isc_spb_bkp_length:
    case isc_spb_res_buffers:
    case isc_spb_res_page_size:
    case isc_spb_res_length:
        item.Length = 5;
        break;
    case isc_spb_res_access_mode:
        item.Length = 2;
        break;
    case isc_spb_verbose:
    case isc_spb_utf8_filename:
        break;
    default:
        return std::nullopt;
    }
    if (at + item.Length > block.size()) {
        return std::nullopt;
    }
    return item;
}

// The backup and restore start blocks with their texts as a Windows client
// library hands them on (UTF-8) and their Windows file names made Linux
// ones. A block of any other action, or with an item this reader does not
// know, goes on unchanged.
std::optional<std::string> WithLinuxPaths(const std::string& block) {
    if (block.empty() ||
        (block[0] != isc_action_svc_backup && block[0] != isc_action_svc_restore)) {
        return std::nullopt;
    }
    // First pass: the items, and whether the texts are UTF-8 already.
    bool utf8 = false;
    for (size_t at = 1; at < block.size();) {
        const std::optional<TItem> item = ItemAt(block, at);
        if (!item) {
            return std::nullopt;
        }
        utf8 = utf8 || static_cast<unsigned char>(block[at]) == isc_spb_utf8_filename;
        at += item->Length;
    }
    std::string result(1, block[0]);
    for (size_t at = 1; at < block.size();) {
        const TItem item = *ItemAt(block, at);
        const auto tag = static_cast<unsigned char>(block[at]);
        if (!item.Text) {
            result += block.substr(at, item.Length);
            at += item.Length;
            continue;
        }
        std::string text = block.substr(at + 3, item.Length - 3);
        if (!utf8) {
            if (char* converted = bridge_ansi_to_utf8(text.data(), static_cast<int>(text.size()))) {
                text = converted;
                std::free(converted);
            }
        }
        if (tag == isc_spb_dbname || tag == isc_spb_bkp_file) {
            if (char* unixName = bridge_unix_path(text.data(), static_cast<int>(text.size()), 1)) {
                text = unixName;
                std::free(unixName);
            }
        }
        if (text.size() > 0xFFFF) {
            return std::nullopt;
        }
        result += static_cast<char>(tag);
        result += static_cast<char>(text.size() & 0xFF);
        result += static_cast<char>(text.size() >> 8);
        result += text;
        at += item.Length;
    }
    return result;
}

} // namespace

// isc_service_start with the file names of the Windows program made the
// server's own.
extern "C" SLV_WINAPI ISC_STATUS bridge_start_with_linux_paths(ISC_STATUS* status,
                                                               isc_svc_handle* handle,
                                                               isc_resv_handle* reserved,
                                                               unsigned short length,
                                                               const ISC_SCHAR* block) {
    using Real = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                                const ISC_SCHAR*);
    static const auto real = Entry<Real>("isc_service_start");
    const std::optional<std::string> converted = WithLinuxPaths(std::string(block, length));
    if (!converted || converted->size() > 0xFFFF) {
        return real(status, handle, reserved, length, block);
    }
    return real(status, handle, reserved, static_cast<unsigned short>(converted->size()),
                converted->data());
}

// Called with variable arguments by the Windows program; in the Windows
// convention those travel as fixed ones do, and the library reads only the
// first `count` names.
extern "C" SLV_WINAPI ISC_LONG bridge_isc_event_block(ISC_UCHAR** eventBuffer,
                                                      ISC_UCHAR** resultBuffer, ISC_USHORT count,
                                                      char* n0, char* n1, char* n2, char* n3,
                                                      char* n4, char* n5, char* n6, char* n7,
                                                      char* n8, char* n9, char* n10, char* n11,
                                                      char* n12, char* n13, char* n14) {
    using Real = ISC_LONG (*)(ISC_UCHAR**, ISC_UCHAR**, ISC_USHORT, ...);
    static const auto real = Entry<Real>("isc_event_block");
    return real(eventBuffer, resultBuffer, count, n0, n1, n2, n3, n4, n5, n6, n7, n8, n9, n10, n11,
                n12, n13, n14);
}

#pragma GCC diagnostic pop
