#include "client/FIBParams.h"

#include <string_view>

#include "client/fib.h"

namespace fib {

const std::array<ParamName, 86> DatabaseParamNames = {{
    {"cdd_pathname", 1},
    {"allocation", 2},
    {"journal", 3},
    {"page_size", 4},
    {"num_buffers", 5},
    {"buffer_length", 6},
    {"debug", 7},
    {"garbage_collect", 8},
    {"verify", 9},
    {"sweep", 10},
    {"enable_journal", 11},
    {"disable_journal", 12},
    {"dbkey_scope", 13},
    {"number_of_users", 14},
    {"trace", 15},
    {"no_garbage_collect", 16},
    {"damaged", 17},
    {"license", 18},
    {"sys_user_name", 19},
    {"encrypt_key", 20},
    {"activate_shadow", 21},
    {"sweep_interval", 22},
    {"delete_shadow", 23},
    {"force_write", 24},
    {"begin_log", 25},
    {"quit_log", 26},
    {"no_reserve", 27},
    {"user_name", 28},
    {"password", 29},
    {"password_enc", 30},
    {"sys_user_name_enc", 31},
    {"interp", 32},
    {"online_dump", 33},
    {"old_file_size", 34},
    {"old_num_files", 35},
    {"old_file", 36},
    {"old_start_page", 37},
    {"old_start_seqno", 38},
    {"old_start_file", 39},
    {"drop_walfile", 40},
    {"old_dump_id", 41},
    {"wal_backup_dir", 42},
    {"wal_chkptlen", 43},
    {"wal_numbufs", 44},
    {"wal_bufsize", 45},
    {"wal_grp_cmt_wait", 46},
    {"lc_messages", 47},
    {"lc_ctype", 48},
    {"cache_manager", 49},
    {"shutdown", 50},
    {"online", 51},
    {"shutdown_delay", 52},
    {"reserved", 53},
    {"overwrite", 54},
    {"sec_attach", 55},
    {"disable_wal", 56},
    {"connect_timeout", 57},
    {"dummy_packet_interval", 58},
    {"gbak_attach", 59},
    {"sql_role_name", 60},
    {"set_page_buffers", 61},
    {"working_directory", 62},
    {"sql_dialect", 63},
    {"set_db_readonly", 64},
    {"set_db_sql_dialect", 65},
    {"gfix_attach", 66},
    {"gstat_attach", 67},
    {"gbak_ods_version", 68},
    {"gbak_ods_minor_version", 69},
    {"set_group_commit", 70},
    {"gbak_validate", 71},
    {"client_interbase_var", 72},
    {"admin_option", 73},
    {"flush_interval", 74},
    {"instance_name", 75},
    {"old_overwrite", 76},
    {"archive_database", 77},
    {"archive_journals", 78},
    {"archive_sweep", 79},
    {"archive_dumps", 80},
    {"archive_recover", 81},
    {"recover_until", 82},
    {"force", 83},
    // Firebird's meanings of three InterBase codes.
    {"no_db_triggers", 72},
    {"set_db_charset", 68},
    {"utf8_filename", 77},
}};

const std::array<ParamName, 22> TransactionParamNames = {{
    {"consistency", 1},
    {"concurrency", 2},
    {"shared", 3},
    {"protected", 4},
    {"exclusive", 5},
    {"wait", 6},
    {"nowait", 7},
    {"read", 8},
    {"write", 9},
    {"lock_read", 10},
    {"lock_write", 11},
    {"verb_time", 12},
    {"commit_time", 13},
    {"ignore_limbo", 14},
    {"read_committed", 15},
    {"autocommit", 16},
    {"rec_version", 17},
    {"no_rec_version", 18},
    {"restart_requests", 19},
    {"no_auto_undo", 20},
    {"no_savepoint", 21},
    {"lock_timeout", 21},
}};

namespace {

constexpr size_t MaxBlockLength = 0xFFFF;

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

template <size_t N> int LookupCode(const std::array<ParamName, N>& table, const std::string& name) {
    // Names are unique and stored in lower case, and the name is lower-cased
    // already, so the first exact match is the only one.
    for (const auto& entry : table) {
        if (name == entry.Name) {
            return entry.Code;
        }
    }
    return 0;
}

void AppendByte(std::string& block, int value) {
    block += static_cast<char>(static_cast<unsigned char>(value & 0xFF));
}

void CheckTextValue(const char* kind, const std::string& name, const std::string& value) {
    if (value.size() > MaxParamValueLength) {
        RaiseClientErrorFmt("%s Constant (isc_%s_%s) value is too long: %d bytes, at most %d are "
                            "allowed.",
                            {std::string(kind), rtl::LowerCaseAscii(kind), name,
                             static_cast<long long>(value.size()),
                             static_cast<long long>(MaxParamValueLength)});
    }
}

void CheckBlockSize(const char* kind, const std::string& block) {
    if (block.size() > MaxBlockLength) {
        RaiseClientErrorFmt("%s is too long: more than %d bytes.",
                            {std::string(kind), static_cast<long long>(MaxBlockLength)});
    }
}

} // namespace

int32_t ShutdownModeFromText(const std::string& text) {
    static const ParamName words[] = {
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
                        value = word.Code;
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
    ParsedLine line;
    for (int i = 0; i < lines.Count(); ++i) {
        if (!ReadLine(lines, i, "isc_dpb_", line)) {
            continue;
        }
        const int code = LookupCode(DatabaseParamNames, line.Name);
        const std::string& value = line.Value;
        auto appendText = [&] {
            CheckTextValue("DPB", line.Name, value);
            AppendByte(block, code);
            AppendByte(block, static_cast<int>(value.size()));
            block += value;
        };
        switch (code) {
        case 5:
        case 9:
        case 13:
        case 17:
        case 24:
        case 27:
        case 33:
        case 34:
        case 52:
        case 54:
        case 57:
        case 58: {
            const int32_t number = rtl::StrToInt(value);
            AppendByte(block, code);
            AppendByte(block, 1);
            AppendByte(block, number);
            break;
        }
        case 8:
        case 16:
            AppendByte(block, code);
            AppendByte(block, 1);
            AppendByte(block, 1);
            break;
        case 10:
            AppendByte(block, code);
            AppendByte(block, 1);
            AppendByte(block, 2);
            break;
        case 21:
        case 23:
        case 25:
        case 26:
            AppendByte(block, code);
            AppendByte(block, 1);
            AppendByte(block, 0);
            break;
        case 51:
            AppendByte(block, code);
            AppendByte(block, 0);
            break;
        case 22: {
            const auto number = static_cast<uint32_t>(rtl::StrToInt(value));
            AppendByte(block, code);
            AppendByte(block, 4);
            for (int shift = 0; shift < 32; shift += 8) {
                AppendByte(block, static_cast<int>(number >> shift));
            }
            break;
        }
        case 18:
        case 19:
        case 20:
        case 28:
        case 29:
        case 30:
        case 36:
        case 47:
        case 48:
        case 60:
            appendText();
            break;
        case 63: {
            // The dialect digit goes in as its number: "3" is the byte 3.
            if (value.empty()) {
                RaiseClientError(ceInvalidSQLDialect);
            }
            CheckTextValue("DPB", line.Name, value);
            AppendByte(block, code);
            AppendByte(block, static_cast<int>(value.size()));
            AppendByte(block, static_cast<unsigned char>(value[0]) - '0');
            block.append(value, 1);
            break;
        }
        case 50:
            AppendByte(block, code);
            if (value.empty()) {
                AppendByte(block, 0);
            } else {
                const int32_t mode = ShutdownModeFromText(value);
                AppendByte(block, 1);
                AppendByte(block, mode);
            }
            break;
        case 68: // set_db_charset on Firebird
            if (isFirebird) {
                appendText();
            }
            break;
        case 72: // no_db_triggers on Firebird
            if (isFirebird) {
                AppendByte(block, code);
                AppendByte(block, 1);
                AppendByte(block, 1);
            }
            break;
        case 77: // utf8_filename on Firebird
            if (isFirebird) {
                AppendByte(block, code);
                AppendByte(block, 0);
            }
            break;
        case 75: // instance_name, InterBase only
            if (!isFirebird) {
                appendText();
            }
            break;
        case 0:
            RaiseClientError(ceDPBConstantUnknown, {line.Name});
        default:
            RaiseClientError(ceDPBConstantNotSupported,
                             {std::string(DatabaseParamNames[static_cast<size_t>(code - 1)].Name)});
        }
        CheckBlockSize("The database parameter block", block);
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
        const int code = LookupCode(TransactionParamNames, line.Name);
        const std::string& value = line.Value;
        switch (code) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 14:
        case 15:
        case 17:
        case 18:
        case 20:
            AppendByte(block, code);
            break;
        case 10:
        case 11: // the value is the table to lock
            CheckTextValue("TPB", line.Name, value);
            AppendByte(block, code);
            AppendByte(block, static_cast<int>(value.size()));
            block += value;
            length += static_cast<long>(value.size()) + 1;
            break;
        case 21:
            AppendByte(block, code);
            if (lockTimeoutWithValue) {
                int32_t seconds = 0;
                if (!rtl::TryStrToInt(value, seconds)) {
                    seconds = 10;
                }
                AppendByte(block, 2);
                AppendByte(block, seconds);
                AppendByte(block, seconds >> 8);
                length += 3;
            }
            break;
        case 0:
            RaiseClientError(ceTPBConstantUnknown, {line.Name});
        default:
            RaiseClientError(
                ceTPBConstantNotSupported,
                {std::string(TransactionParamNames[static_cast<size_t>(code - 1)].Name)});
        }
        CheckBlockSize("The transaction parameter block", block);
        blockLength = static_cast<uint16_t>(length);
    }
}

} // namespace fib
