#include "client/FIBParams.h"

#include <string_view>

#include "client/ParamBlock.h"
#include "client/fib.h"

namespace fib {

// Firebird reads codes 68, 72 and 77 as set_db_charset, no_db_triggers and
// utf8_filename, InterBase as the older names; instance_name is InterBase's.
constinit const std::array<DatabaseParamName, 86> DatabaseParamNames = [] {
    using enum TDpbEncoding;
    using enum TDpbServer;
    return std::array<DatabaseParamName, 86>{{
        {"cdd_pathname", 1, NotSupported, Any},
        {"allocation", 2, NotSupported, Any},
        {"journal", 3, NotSupported, Any},
        {"page_size", 4, NotSupported, Any},
        {"num_buffers", 5, Byte, Any},
        {"buffer_length", 6, NotSupported, Any},
        {"debug", 7, NotSupported, Any},
        {"garbage_collect", 8, Fixed1, Any},
        {"verify", 9, Byte, Any},
        {"sweep", 10, Fixed2, Any},
        {"enable_journal", 11, NotSupported, Any},
        {"disable_journal", 12, NotSupported, Any},
        {"dbkey_scope", 13, Byte, Any},
        {"number_of_users", 14, NotSupported, Any},
        {"trace", 15, NotSupported, Any},
        {"no_garbage_collect", 16, Fixed1, Any},
        {"damaged", 17, Byte, Any},
        {"license", 18, Text, Any},
        {"sys_user_name", 19, Text, Any},
        {"encrypt_key", 20, Text, Any},
        {"activate_shadow", 21, Fixed0, Any},
        {"sweep_interval", 22, Number, Any},
        {"delete_shadow", 23, Fixed0, Any},
        {"force_write", 24, Byte, Any},
        {"begin_log", 25, Fixed0, Any},
        {"quit_log", 26, Fixed0, Any},
        {"no_reserve", 27, Byte, Any},
        {"user_name", 28, Text, Any},
        {"password", 29, Text, Any},
        {"password_enc", 30, Text, Any},
        {"sys_user_name_enc", 31, NotSupported, Any},
        {"interp", 32, NotSupported, Any},
        {"online_dump", 33, Byte, Any},
        {"old_file_size", 34, Byte, Any},
        {"old_num_files", 35, NotSupported, Any},
        {"old_file", 36, Text, Any},
        {"old_start_page", 37, NotSupported, Any},
        {"old_start_seqno", 38, NotSupported, Any},
        {"old_start_file", 39, NotSupported, Any},
        {"drop_walfile", 40, NotSupported, Any},
        {"old_dump_id", 41, NotSupported, Any},
        {"wal_backup_dir", 42, NotSupported, Any},
        {"wal_chkptlen", 43, NotSupported, Any},
        {"wal_numbufs", 44, NotSupported, Any},
        {"wal_bufsize", 45, NotSupported, Any},
        {"wal_grp_cmt_wait", 46, NotSupported, Any},
        {"lc_messages", 47, Text, Any},
        {"lc_ctype", 48, Text, Any},
        {"cache_manager", 49, NotSupported, Any},
        {"shutdown", 50, Shutdown, Any},
        {"online", 51, Bare, Any},
        {"shutdown_delay", 52, Byte, Any},
        {"reserved", 53, NotSupported, Any},
        {"overwrite", 54, Byte, Any},
        {"sec_attach", 55, NotSupported, Any},
        {"disable_wal", 56, NotSupported, Any},
        {"connect_timeout", 57, Byte, Any},
        {"dummy_packet_interval", 58, Byte, Any},
        {"gbak_attach", 59, NotSupported, Any},
        {"sql_role_name", 60, Text, Any},
        {"set_page_buffers", 61, NotSupported, Any},
        {"working_directory", 62, NotSupported, Any},
        {"sql_dialect", 63, Dialect, Any},
        {"set_db_readonly", 64, NotSupported, Any},
        {"set_db_sql_dialect", 65, NotSupported, Any},
        {"gfix_attach", 66, NotSupported, Any},
        {"gstat_attach", 67, NotSupported, Any},
        {"gbak_ods_version", 68, Text, Firebird},
        {"gbak_ods_minor_version", 69, NotSupported, Any},
        {"set_group_commit", 70, NotSupported, Any},
        {"gbak_validate", 71, NotSupported, Any},
        {"client_interbase_var", 72, Fixed1, Firebird},
        {"admin_option", 73, NotSupported, Any},
        {"flush_interval", 74, NotSupported, Any},
        {"instance_name", 75, Text, InterBase},
        {"old_overwrite", 76, NotSupported, Any},
        {"archive_database", 77, Bare, Firebird},
        {"archive_journals", 78, NotSupported, Any},
        {"archive_sweep", 79, NotSupported, Any},
        {"archive_dumps", 80, NotSupported, Any},
        {"archive_recover", 81, NotSupported, Any},
        {"recover_until", 82, NotSupported, Any},
        {"force", 83, NotSupported, Any},
        // Firebird's meanings of three InterBase codes.
        {"no_db_triggers", 72, Fixed1, Firebird},
        {"set_db_charset", 68, Text, Firebird},
        {"utf8_filename", 77, Bare, Firebird},
    }};
}();

constinit const std::array<TransactionParamName, 22> TransactionParamNames = [] {
    using enum TTpbEncoding;
    return std::array<TransactionParamName, 22>{{
        {"consistency", 1, Bare},
        {"concurrency", 2, Bare},
        {"shared", 3, Bare},
        {"protected", 4, Bare},
        {"exclusive", 5, Bare},
        {"wait", 6, Bare},
        {"nowait", 7, Bare},
        {"read", 8, Bare},
        {"write", 9, Bare},
        {"lock_read", 10, Table},
        {"lock_write", 11, Table},
        {"verb_time", 12, NotSupported},
        {"commit_time", 13, NotSupported},
        {"ignore_limbo", 14, Bare},
        {"read_committed", 15, Bare},
        {"autocommit", 16, NotSupported},
        {"rec_version", 17, Bare},
        {"no_rec_version", 18, Bare},
        {"restart_requests", 19, NotSupported},
        {"no_auto_undo", 20, Bare},
        {"no_savepoint", 21, LockTimeout},
        {"lock_timeout", 21, LockTimeout},
    }};
}();

namespace {

constexpr int DatabaseBlockVersion = 1;    // isc_dpb_version1
constexpr int TransactionBlockVersion = 3; // isc_tpb_version3

struct ParsedLine {
    std::string Name;
    std::string Value;
};

// Trims the line in place and splits it at the first "="; returns false for
// an empty line. The name is lower-cased and loses its prefix; blanks around
// "=" stay where they are.
bool ReadLine(rtl::TStringList& lines, int index, std::string_view prefix, ParsedLine& parsed) {
    const std::string trimmed = rtl::Trim(lines[index]);
    if (trimmed != lines[index]) {
        lines.Set(index, trimmed);
    }
    if (trimmed.empty()) {
        return false;
    }
    const size_t eq = trimmed.find('=');
    if (eq == std::string::npos) {
        parsed.Name = trimmed;
        parsed.Value.clear();
    } else {
        parsed.Name = trimmed.substr(0, eq);
        parsed.Value = trimmed.substr(eq + 1);
    }
    parsed.Name = rtl::LowerCaseAscii(parsed.Name);
    if (parsed.Name.compare(0, prefix.size(), prefix) == 0) {
        parsed.Name.erase(0, prefix.size());
    }
    return true;
}

// The table entry of a name, null when the name is unknown.
template <typename Entry, size_t N>
const Entry* Lookup(const std::array<Entry, N>& table, const std::string& name) {
    // Names are unique and stored in lower case, and the name is lower-cased
    // already, so the first exact match is the only one.
    for (const Entry& entry : table) {
        if (name == entry.Name) {
            return &entry;
        }
    }
    return nullptr;
}

// Appends the code and the text behind its one-byte length, or raises when
// the text is longer than that length can tell.
void AppendText(TBlockWriter& writer, const char* kind, int code, const std::string& name,
                const std::string& value) {
    if (!writer.Text8(static_cast<uint8_t>(code), value)) {
        RaiseClientErrorFmt("%s Constant (isc_%s_%s) value is too long: %d bytes, at most %d are "
                            "allowed.",
                            {std::string(kind), rtl::LowerCaseAscii(kind), name,
                             static_cast<long long>(value.size()),
                             static_cast<long long>(MaxText8Length)});
    }
}

void CheckBlockSize(const char* kind, const TBlockWriter& writer) {
    if (!writer.Fits()) {
        RaiseClientErrorFmt("%s is too long: more than %d bytes.",
                            {std::string(kind), static_cast<long long>(MaxBlockLength)});
    }
}

bool WrittenFor(TDpbServer server, bool isFirebird) {
    return server == TDpbServer::Any || (server == TDpbServer::Firebird) == isFirebird;
}

// The bytes of one database parameter, by its encoding.
void AppendDatabaseParam(TBlockWriter& writer, const DatabaseParamName& entry,
                         const ParsedLine& line) {
    const int code = entry.Code;
    const std::string& value = line.Value;
    switch (entry.Encoding) {
    case TDpbEncoding::Byte: {
        const int32_t number = rtl::StrToInt(value);
        writer.Byte(code).Byte(1).Byte(number);
        break;
    }
    case TDpbEncoding::Fixed0:
        writer.Byte(code).Byte(1).Byte(0);
        break;
    case TDpbEncoding::Fixed1:
        writer.Byte(code).Byte(1).Byte(1);
        break;
    case TDpbEncoding::Fixed2:
        writer.Byte(code).Byte(1).Byte(2);
        break;
    case TDpbEncoding::Bare:
        writer.Byte(code).Byte(0);
        break;
    case TDpbEncoding::Number: {
        const auto number = static_cast<uint32_t>(rtl::StrToInt(value));
        writer.Byte(code).Byte(4).Number32(number);
        break;
    }
    case TDpbEncoding::Text:
        AppendText(writer, "DPB", code, line.Name, value);
        break;
    case TDpbEncoding::Dialect: {
        // The dialect digit goes in as its number: "3" is the byte 3.
        if (value.empty()) {
            RaiseClientError(ceInvalidSQLDialect);
        }
        std::string dialect = value;
        dialect[0] = static_cast<char>(static_cast<unsigned char>(value[0]) - '0');
        AppendText(writer, "DPB", code, line.Name, dialect);
        break;
    }
    case TDpbEncoding::Shutdown:
        writer.Byte(code);
        if (value.empty()) {
            writer.Byte(0);
        } else {
            const int32_t mode = ShutdownModeFromText(value);
            writer.Byte(1).Byte(mode);
        }
        break;
    case TDpbEncoding::NotSupported:
        RaiseClientError(ceDPBConstantNotSupported, {std::string(entry.Name)});
    }
}

} // namespace

int32_t ShutdownModeFromText(const std::string& text) {
    static const struct {
        const char* Name;
        int32_t Bits;
    } words[] = {
        {"cache", 1},  {"attachment", 2}, {"transaction", 4}, {"force", 8},       {"normal", 16},
        {"multi", 32}, {"single", 48},    {"full", 64},       {"mode_mask", 112},
    };
    int32_t result = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(",;", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            const std::string piece = rtl::LowerCaseAscii(text.substr(start, end - start));
            int32_t value = -1;
            if (piece[0] >= '0' && piece[0] <= '9') {
                value = rtl::StrToInt(piece);
            } else {
                for (const auto& word : words) {
                    if (piece == word.Name) {
                        value = word.Bits;
                        break;
                    }
                }
            }
            result |= value;
        }
        start = end + 1;
    }
    return result;
}

void BuildDatabaseParamBlock(rtl::TStringList& lines, std::string& block, uint16_t& blockLength,
                             bool isFirebird) {
    block.assign(1, static_cast<char>(DatabaseBlockVersion));
    blockLength = 1;
    TBlockWriter writer(block);
    ParsedLine line;
    for (int i = 0; i < lines.Count(); ++i) {
        if (!ReadLine(lines, i, "isc_dpb_", line)) {
            continue;
        }
        const DatabaseParamName* entry = Lookup(DatabaseParamNames, line.Name);
        if (entry == nullptr) {
            RaiseClientError(ceDPBConstantUnknown, {line.Name});
        }
        if (!WrittenFor(entry->Server, isFirebird)) {
            continue;
        }
        AppendDatabaseParam(writer, *entry, line);
        CheckBlockSize("The database parameter block", writer);
        blockLength = static_cast<uint16_t>(block.size());
    }
}

void BuildTransactionParamBlock(rtl::TStringList& lines, std::string& block, uint16_t& blockLength,
                                bool lockTimeoutWithValue) {
    block.clear();
    blockLength = 0;
    if (lines.Count() == 0) {
        return;
    }
    block.assign(1, static_cast<char>(TransactionBlockVersion));
    TBlockWriter writer(block);
    // One byte per line is counted in advance; blank lines give theirs back.
    long length = static_cast<long>(lines.Count()) + 1;
    blockLength = static_cast<uint16_t>(length);
    ParsedLine line;
    for (int i = 0; i < lines.Count(); ++i) {
        if (!ReadLine(lines, i, "isc_tpb_", line)) {
            --length;
            blockLength = static_cast<uint16_t>(length);
            continue;
        }
        const TransactionParamName* entry = Lookup(TransactionParamNames, line.Name);
        if (entry == nullptr) {
            RaiseClientError(ceTPBConstantUnknown, {line.Name});
        }
        const int code = entry->Code;
        const std::string& value = line.Value;
        switch (entry->Encoding) {
        case TTpbEncoding::Bare:
            writer.Byte(code);
            break;
        case TTpbEncoding::Table:
            AppendText(writer, "TPB", code, line.Name, value);
            length += static_cast<long>(value.size()) + 1;
            break;
        case TTpbEncoding::LockTimeout:
            writer.Byte(code);
            if (lockTimeoutWithValue) {
                int32_t seconds = 0;
                if (!rtl::TryStrToInt(value, seconds)) {
                    seconds = 10;
                }
                writer.Byte(2).Number16(static_cast<uint32_t>(seconds));
                length += 3;
            }
            break;
        case TTpbEncoding::NotSupported:
            RaiseClientError(ceTPBConstantNotSupported, {std::string(entry->Name)});
        }
        CheckBlockSize("The transaction parameter block", writer);
        blockLength = static_cast<uint16_t>(length);
    }
}

} // namespace fib
