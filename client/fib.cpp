#include "client/fib.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "client/IB_Intf.h"
#if defined(_WIN32)
#include "platform/win32/Text.h"
#endif

// The error half of namespace fib (the database layer; see fib.h): the
// per-thread status vector, the client-error table and the error classes.
namespace fib {

namespace {

thread_local StatusVector tStatusVector = {};

// Indexed by ClientError.
const char* const ClientErrorTable[ClientErrorCount] = {
    "Unknown error.",
    "Unsupported feature.",
    "Not permitted.",
    "Temporary file access error.",
    "Database connection timed out.",
    "Cannot set database.",
    "Cannot set transaction.",
    "Operation cancelled at user's request.",
    "DPB Constant (isc_dpb_%s) is unsupported.",
    "DPB Constant (%s) is unknown.",
    "TPB Constant (isc_tpb_%s) is unsupported.",
    "TPB Constant (%s) is unknown.",
    "%s: Cannot perform operation -- DB is not open.",
    "Cannot perform operation -- DB is currently open.",
    "Database name is missing.",
    "%s :Transaction is not active.",
    "%s :Transaction is active.",
    "Timeout values cannot be negative.",
    "%s :No databases are listed in transaction component.",
    "%s :Updating wrong database.",
    "%s :Updating wrong transaction.",
    "Database not assigned for %s.",
    "Transaction not assigned for %s.",
    "XSQLDA index out of range.",
    "XSQLDA name does not exist (%s).",
    "End of file.",
    "Beginning of file.",
    "%s:Invalid statement handle.",
    "Can't %s because %s dataset open.",
    "Can't %s because %s dataset closed.",
    "Unknown SQL Data type (%d).",
    "Invalid column index (index exceeds permitted range).",
    "Invalid parameter index (index exceeds permitted range).",
    "Invalid data conversion.",
    "Column cannot be set to null (%s)",
    "Blob stream cannot be read.",
    "Blob stream cannot be written.",
    "Can't %s , because  query is empty",
    "Can't \"open\" a non-select statement. Use ExecQuery.",
    "No access to field \"%s\".",
    "Field \"%s\" is read-only.",
    "Field \"%s\" not found.",
    "DataSet not in Edit or Insert mode.(%s)",
    "Not editing.",
    "Can't insert into dataset. (%s)",
    "Can't post. (%s) ",
    "Can't update. (%s)",
    "Can't delete from dataset. (%s)",
    "Can't refresh row. (%s)",
    "Buffer not set.",
    "Circular references not permitted.(%s)",
    "SQL Parse Error in :%s \r\n\r\n%s",
    "User abort.",
    "Data set is uni-directional.",
    "Cannot create shared resource. (Windows error %d)",
    "Windows API error. (Windows error %d [$%.8x])",
    "Column lists do not match.",
    "Column types don't match. (From index: %d, To index: %d)",
    "Can't end a shared transaction unless it is forced and equal to the transaction's "
    "TimeoutAction.",
    "Column types \"%s\" is not array field",
    "Dimension %d don't exist in \"%s\" ",
    "SQL Dialect invalid",
    "InterBase library gds32.dll not found in the path. Please install InterBase to use this "
    "functionality",
    "%s is an InterBase6 function. Please upgrade to InterBase6 to use this functonality",
    "InterBase Install DLL ibinstall.dll not found in the path. Please install InterBase 6 to use "
    "this functionality",
    "Cannot perform operation -- service is not attached",
    "Cannot perform operation -- service is attached",
    "Server Name Missing",
    "Query Parameters missing or incorrect",
    "Start Parameters missing or incorrect",
    "Unexpected Output buffer value",
    "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params",
    "SPB Constant Not supported",
    "SPB Constant Unknown",
    "Field Size too small. Field %s.%s",
    "%s. Can't use limited cache. \r\nCachedUpdates must be False,\r\nSelect must have \"Order "
    "by\" clause ,\r\nAll order fields must exist in fields section\r\nSelect can't use params "
    "with prefix \"NEW_\"\r\nUpdateTransaction must be equel Transaction or AutoCommit=True ",
    "Error in %s. FieldList is empty.",
    "%s can't use field \"%s\"",
    "%s is an Firebird 2 function. Please upgrade to Firebird 2 to use this functonality",
    "MDT. Socket of database \"%s\" not found",
    "MDT. MDT transaction already opened",
    "MDT. FIBXSQLDA and MDTDataRecord are incompatible",
    "MDT. Unexpected error in \"%s\"",
    "MDT. MDT savepoint \"%s\" already set",
    "MDT. Savepoint \"%s\" not found",
};

// One scratch buffer serves the SQL text and every status line; the SQL
// text call is told that only the first part of it is there.
constexpr int ScratchLength = 20480;
constexpr short SQLTextLength = 1024;
// A status vector of 20 entries holds far fewer messages; this only stops a
// library that never reports the end.
constexpr int MaxStatusLines = 64;

const char* const CRLF = "\r\n";

bool IsLowerAscii(char c) {
    return c >= 'a' && c <= 'z';
}

void UpperFirst(std::string& text) {
    if (!text.empty() && IsLowerAscii(text[0])) {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
}

// Text of a reply buffer: at most `length` bytes, cut at the first zero.
std::string BufferText(const char* buffer, size_t length) {
    const void* zero = std::memchr(buffer, 0, length);
    return std::string(buffer, zero != nullptr
                                   ? static_cast<size_t>(static_cast<const char*>(zero) - buffer)
                                   : length);
}

std::string ArgAsText(const FmtArg& arg) {
    if (const auto* text = std::get_if<std::string>(&arg)) {
        return *text;
    }
    return std::to_string(std::get<long long>(arg));
}

long long ArgAsInteger(const FmtArg& arg) {
    if (const auto* value = std::get_if<long long>(&arg)) {
        return *value;
    }
    int32_t value = 0;
    return rtl::TryStrToInt(std::get<std::string>(arg), value) ? value : 0;
}

} // namespace

ISC_STATUS* ThreadStatusVector() {
    return tStatusVector;
}

const char* ClientErrorMessage(ClientError code) {
    const int index = static_cast<int>(code);
    if (index < 0 || index >= ClientErrorCount) {
        return ClientErrorTable[ceUnknownError];
    }
    return ClientErrorTable[index];
}

std::string FormatMessage(const std::string& format, std::initializer_list<FmtArg> args) {
    std::string result;
    auto next = args.begin();
    size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c != '%') {
            result += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            result += '%';
            i += 2;
            continue;
        }
        // "%" [ "." digits ] one of s d x; anything else is copied as it is.
        size_t j = i + 1;
        int precision = -1;
        if (j < format.size() && format[j] == '.') {
            ++j;
            precision = 0;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
                precision = std::min(precision * 10 + (format[j] - '0'), 64);
                ++j;
            }
        }
        const char kind = j < format.size() ? format[j] : '\0';
        if (kind != 's' && kind != 'd' && kind != 'x') {
            result += c;
            ++i;
            continue;
        }
        // A placeholder without an argument comes out empty.
        const FmtArg* arg = next != args.end() ? &*next++ : nullptr;
        std::string piece;
        if (arg != nullptr) {
            if (kind == 's') {
                piece = ArgAsText(*arg);
                if (precision >= 0 && piece.size() > static_cast<size_t>(precision)) {
                    piece.resize(static_cast<size_t>(precision));
                }
            } else if (kind == 'd') {
                const long long value = ArgAsInteger(*arg);
                // The magnitude in unsigned arithmetic: the lowest value has no
                // positive counterpart.
                const unsigned long long magnitude =
                    value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                              : static_cast<unsigned long long>(value);
                piece = std::to_string(magnitude);
                if (precision > 0 && piece.size() < static_cast<size_t>(precision)) {
                    piece.insert(0, static_cast<size_t>(precision) - piece.size(), '0');
                }
                if (value < 0) {
                    piece.insert(0, 1, '-');
                }
            } else {
                // Hexadecimal of the 32-bit pattern, upper-case digits.
                auto value = static_cast<uint32_t>(ArgAsInteger(*arg));
                static const char digits[] = "0123456789ABCDEF";
                do {
                    piece.insert(0, 1, digits[value & 0xF]);
                    value >>= 4;
                } while (value != 0);
                if (precision > 0 && piece.size() < static_cast<size_t>(precision)) {
                    piece.insert(0, static_cast<size_t>(precision) - piece.size(), '0');
                }
            }
        }
        result += piece;
        i = j + 1;
    }
    return result;
}

std::string ComponentPath(const rtl::TComponent* component) {
    std::string path;
    for (const rtl::TComponent* c = component; c != nullptr; c = c->Owner()) {
        if (c->Name().empty()) {
            continue;
        }
        path = path.empty() ? c->Name() : c->Name() + "." + path;
    }
    return path;
}

EFIBError::EFIBError(int32_t code, const std::string& text, const rtl::TComponent* raiser)
    : EDatabaseError(std::string(), 0) {
    Init(code, text, raiser);
}

EFIBError::EFIBError(int32_t sqlCode, const rtl::TComponent* raiser, const std::string& extraText,
                     const std::string& sqlText, const std::string& statusText)
    : EDatabaseError(std::string(), 0), FSQLText(sqlText), FStatusText(statusText),
      FExtraText(extraText) {
    Init(sqlCode, std::string(), raiser);
}

void EFIBError::Init(int32_t code, const std::string& text, const rtl::TComponent* raiser) {
    FRaiserPath = raiser != nullptr ? ComponentPath(raiser) : std::string();
    FClientText = text;
    ComposeMessage();
    FSQLCode = code;
    // Entry 1 is the first error code of the thread's last failed call.
    FStatusCode = static_cast<int32_t>(ThreadStatusVector()[1]);
    FRaiser = raiser;
}

void EFIBError::ComposeMessage() {
    std::string message;
    // A one-character path is kept in the field but not shown.
    if (FRaiserPath.size() >= 2) {
        message += FRaiserPath;
        message += ":";
        message += CRLF;
    }
    message += FSQLText;
    message += FStatusText;
    if (!FExtraText.empty()) {
        message += FExtraText;
    }
    message += FClientText;
    SetMessage(std::move(message));
}

EFIBInterBaseError MakeStatusError(IIBClientLibrary& library, const rtl::TComponent* raiser) {
    const ISC_STATUS* vector = ThreadStatusVector();
    std::vector<char> scratch(ScratchLength, '\0');

    const ISC_LONG sqlCode = library.isc_sqlcode(vector);

    library.isc_sql_interprete(static_cast<short>(sqlCode), scratch.data(), SQLTextLength);
    std::string sqlText = BufferText(scratch.data(), static_cast<size_t>(SQLTextLength));
    // The message file writes line breaks as the two characters "\n".
    for (size_t at = sqlText.find("\\n"); at != std::string::npos; at = sqlText.find("\\n", at)) {
        sqlText.erase(at, 2);
    }
    if (!sqlText.empty()) {
        UpperFirst(sqlText);
        if (sqlText.back() != '.') {
            sqlText += ".";
            sqlText += CRLF;
        }
    }

    std::string statusText;
    const ISC_STATUS* cursor = vector;
    for (int lines = 0; lines < MaxStatusLines; ++lines) {
        std::fill(scratch.begin(), scratch.end(), '\0');
        const ISC_LONG length = library.fb_interpret(scratch.data(), ScratchLength, &cursor);
        if (length <= 0) {
            break;
        }
        std::string line = BufferText(scratch.data(),
                                      std::min<size_t>(static_cast<size_t>(length), ScratchLength));
#if defined(_WIN32)
        // File names in the texts come in the ANSI code page.
        line = platform::win32::FromSystemText(line);
#endif
        UpperFirst(line);
        statusText += line;
        if (statusText.empty() || statusText.back() != '.') {
            statusText += ".";
        }
        statusText += CRLF;
    }

    return EFIBInterBaseError(static_cast<int32_t>(sqlCode), raiser, std::string(), sqlText,
                              statusText);
}

void RaiseStatusError(IIBClientLibrary& library, const rtl::TComponent* raiser) {
    throw MakeStatusError(library, raiser);
}

void RaiseClientError(ClientError code, std::initializer_list<FmtArg> args) {
    throw EFIBClientError(static_cast<int32_t>(code), FormatMessage(ClientErrorMessage(code), args),
                          nullptr);
}

void RaiseClientErrorFmt(const std::string& format, std::initializer_list<FmtArg> args) {
    throw EFIBClientError(-1, FormatMessage(format, args), nullptr);
}

} // namespace fib
