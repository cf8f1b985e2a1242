// Database and transaction parameter blocks: byte-exact blocks for the
// accepted lines and the errors for the rejected ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/FIBParams.h"
#include "client/fib.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes, const std::string& tail = std::string()) {
    std::string out;
    for (int b : bytes) {
        out += static_cast<char>(static_cast<unsigned char>(b));
    }
    return out + tail;
}

std::string Show(const std::string& block) {
    std::string out;
    for (unsigned char c : block) {
        out += std::to_string(c) + " ";
    }
    return out;
}

struct BlockCase {
    const char* Name;
    std::vector<std::string> Lines;
    bool Flag;
    std::string Block;
};

// BuildDatabaseParamBlock or BuildTransactionParamBlock.
using BuildBlock = void (*)(rtl::TStringList&, std::string&, uint16_t&, bool);

// Builds each case's block over an old one and checks its bytes and length.
template <size_t N> void ExpectBlocks(const BlockCase (&cases)[N], BuildBlock build) {
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.Name);
        rtl::TStringList lines;
        lines.Assign(c.Lines);
        std::string block = "old";
        uint16_t length = 999;
        build(lines, block, length, c.Flag);
        EXPECT_EQ(Show(block), Show(c.Block));
        EXPECT_EQ(length, c.Block.size());
    }
}

// --- database blocks

TEST(DatabaseParamBlock, AcceptedLinesGiveExactBytes) {
    const BlockCase cases[] = {
        {"empty list", {}, true, Bytes({1})},
        {"prefixed name", {"isc_dpb_user_name=SYSDBA"}, true, Bytes({1, 28, 6}, "SYSDBA")},
        {"upper-case name", {"USER_NAME=SYSDBA"}, true, Bytes({1, 28, 6}, "SYSDBA")},
        {"upper-case prefix", {"ISC_DPB_PASSWORD=jwx+[]"}, false, Bytes({1, 29, 6}, "jwx+[]")},
        {"value keeps its case and inner blanks",
         {"lc_ctype= UTF8"},
         true,
         Bytes({1, 48, 5}, " UTF8")},
        {"value with an equals sign", {"password=a=b"}, true, Bytes({1, 29, 3}, "a=b")},
        {"empty text value", {"sql_role_name="}, true, Bytes({1, 60, 0})},
        {"name alone", {"password"}, true, Bytes({1, 29, 0})},
        {"one-byte number keeps its low 8 bits", {"num_buffers=1000"}, true, Bytes({1, 5, 1, 232})},
        {"hexadecimal number", {"connect_timeout=$10"}, true, Bytes({1, 57, 1, 16})},
        {"negative number", {"dbkey_scope=-1"}, true, Bytes({1, 13, 1, 255})},
        {"four-byte number", {"sweep_interval=20000"}, true, Bytes({1, 22, 4, 0x20, 0x4E, 0, 0})},
        {"four-byte negative",
         {"sweep_interval=-2"},
         true,
         Bytes({1, 22, 4, 0xFE, 0xFF, 0xFF, 0xFF})},
        {"value ignored: garbage collect", {"garbage_collect=77"}, true, Bytes({1, 8, 1, 1})},
        {"value ignored: no garbage collect", {"no_garbage_collect"}, true, Bytes({1, 16, 1, 1})},
        {"value ignored: sweep", {"sweep=x"}, true, Bytes({1, 10, 1, 2})},
        {"value ignored: activate shadow", {"activate_shadow"}, true, Bytes({1, 21, 1, 0})},
        {"value ignored: quit log", {"quit_log=1"}, true, Bytes({1, 26, 1, 0})},
        {"online has no value", {"online=yes"}, true, Bytes({1, 51, 0})},
        {"dialect digit as a number", {"sql_dialect=3"}, true, Bytes({1, 63, 1, 3})},
        {"shutdown words", {"shutdown=full,force"}, true, Bytes({1, 50, 1, 72})},
        {"shutdown without a value", {"shutdown="}, true, Bytes({1, 50, 0})},
        {"shutdown number", {"shutdown=2"}, true, Bytes({1, 50, 1, 2})},
        {"shutdown word and number", {"shutdown=full,8"}, true, Bytes({1, 50, 1, 72})},
        {"shutdown unknown word", {"shutdown=soon"}, true, Bytes({1, 50, 1, 255})},
        {"shutdown empty pieces", {"shutdown=;single;;"}, true, Bytes({1, 50, 1, 48})},
        {"charset on Firebird", {"set_db_charset=WIN1251"}, true, Bytes({1, 68, 7}, "WIN1251")},
        {"charset elsewhere", {"set_db_charset=WIN1251"}, false, Bytes({1})},
        {"gbak_ods_version shares the charset code",
         {"gbak_ods_version=AB"},
         true,
         Bytes({1, 68, 2}, "AB")},
        {"no triggers on Firebird", {"no_db_triggers=1"}, true, Bytes({1, 72, 1, 1})},
        {"no triggers elsewhere", {"no_db_triggers=1"}, false, Bytes({1})},
        {"utf8 file name on Firebird", {"utf8_filename"}, true, Bytes({1, 77, 0})},
        {"utf8 file name elsewhere", {"utf8_filename"}, false, Bytes({1})},
        {"instance name elsewhere", {"instance_name=ib"}, false, Bytes({1, 75, 2}, "ib")},
        {"instance name on Firebird", {"instance_name=ib"}, true, Bytes({1})},
        {"lines in order, blank ones skipped",
         {"  user_name=SYSDBA  ", "", "\t", "password=pw", "num_buffers=75"},
         true,
         Bytes({1, 28, 6}, "SYSDBA") + Bytes({29, 2}, "pw") + Bytes({5, 1, 75})},
        {"longest text value",
         {"user_name=" + std::string(255, 'u')},
         true,
         Bytes({1, 28, 255}, std::string(255, 'u'))},
    };
    ExpectBlocks(cases, fib::BuildDatabaseParamBlock);
}

TEST(DatabaseParamBlock, LinesAreWrittenBackTrimmed) {
    rtl::TStringList lines{"  user_name=SYSDBA \t", "password=x", "   "};
    int changes = 0;
    lines.OnChange = [&] { ++changes; };
    std::string block;
    uint16_t length = 0;
    fib::BuildDatabaseParamBlock(lines, block, length, true);
    EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"user_name=SYSDBA", "password=x", ""}));
    EXPECT_EQ(changes, 2) << "only the lines that changed";
}

template <typename Error, typename Build> Error Catch(Build build) {
    try {
        build();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "nothing raised";
    throw std::logic_error("nothing raised");
}

struct ErrorCase {
    const char* Name;
    std::vector<std::string> Lines;
    int SQLCode;
    std::string Message;
};

// Builds each case's block with the flag set and checks the error it raises.
template <size_t N> void ExpectErrors(const ErrorCase (&cases)[N], BuildBlock build) {
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.Name);
        rtl::TStringList lines;
        lines.Assign(c.Lines);
        std::string block;
        uint16_t length = 0;
        const auto e = Catch<fib::EFIBClientError>([&] { build(lines, block, length, true); });
        EXPECT_EQ(e.Message(), c.Message);
        EXPECT_EQ(e.SQLCode(), c.SQLCode);
    }
}

TEST(DatabaseParamBlock, RejectedNamesAndValues) {
    const ErrorCase cases[] = {
        {"blanks around the equals sign",
         {"user_name = SYSDBA"},
         9,
         "DPB Constant (user_name ) is unknown."},
        {"unknown name, prefix dropped",
         {"ISC_DPB_Colour=red"},
         9,
         "DPB Constant (colour) is unknown."},
        {"prefix alone", {"isc_dpb_"}, 9, "DPB Constant () is unknown."},
        {"unsupported name",
         {"page_size=8192"},
         8,
         "DPB Constant (isc_dpb_page_size) is unsupported."},
        {"unsupported last code", {"force"}, 8, "DPB Constant (isc_dpb_force) is unsupported."},
        {"unsupported first code",
         {"cdd_pathname=x"},
         8,
         "DPB Constant (isc_dpb_cdd_pathname) is unsupported."},
        {"empty dialect", {"sql_dialect="}, 61, "SQL Dialect invalid"},
        {"text value too long",
         {"password=" + std::string(256, 'p')},
         -1,
         "DPB Constant (isc_dpb_password) value is too long: 256 bytes, at most 255 are allowed."},
        {"charset too long",
         {"set_db_charset=" + std::string(300, 'c')},
         -1,
         "DPB Constant (isc_dpb_set_db_charset) value is too long: 300 bytes, at most 255 are "
         "allowed."},
    };
    ExpectErrors(cases, fib::BuildDatabaseParamBlock);
}

TEST(DatabaseParamBlock, NumbersThatDoNotConvert) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"num_buffers=abc", "'abc' is not a valid integer value"},
        {"num_buffers=", "'' is not a valid integer value"},
        {"sweep_interval=1.5", "'1.5' is not a valid integer value"},
        {"sweep_interval=99999999999", "'99999999999' is not a valid integer value"},
        {"shutdown=1x", "'1x' is not a valid integer value"},
        {"shutdown=2 ,full", "'2 ' is not a valid integer value"},
    };
    for (const auto& [line, message] : cases) {
        SCOPED_TRACE(line);
        rtl::TStringList lines{line, "user_name=after"};
        std::string block;
        uint16_t length = 0;
        const auto e = Catch<rtl::EConvertError>(
            [&] { fib::BuildDatabaseParamBlock(lines, block, length, true); });
        EXPECT_EQ(e.Message(), message);
    }
}

TEST(DatabaseParamBlock, ARaiseKeepsWhatWasBuiltSoFar) {
    rtl::TStringList lines{"user_name=A", "page_size=1", "password=B"};
    std::string block;
    uint16_t length = 0;
    EXPECT_THROW(fib::BuildDatabaseParamBlock(lines, block, length, true), fib::EFIBClientError);
    EXPECT_EQ(Show(block), Show(Bytes({1, 28, 1}, "A")));
    EXPECT_EQ(length, 4);
}

TEST(DatabaseParamBlock, BlockOverItsLengthFieldIsRejected) {
    rtl::TStringList lines;
    for (int i = 0; i < 300; ++i) {
        lines.Add("user_name=" + std::string(255, 'x'));
    }
    std::string block;
    uint16_t length = 0;
    const auto e = Catch<fib::EFIBClientError>(
        [&] { fib::BuildDatabaseParamBlock(lines, block, length, true); });
    EXPECT_EQ(e.Message(), "The database parameter block is too long: more than 65535 bytes.");
    EXPECT_EQ(e.SQLCode(), -1);
}

TEST(DatabaseParamNames, TablesHoldEveryNameWithItsCode) {
    ASSERT_EQ(fib::DatabaseParamNames.size(), 86u);
    for (size_t i = 0; i < 83; ++i) {
        EXPECT_EQ(fib::DatabaseParamNames[i].Code, static_cast<int>(i + 1)) << i;
    }
    EXPECT_STREQ(fib::DatabaseParamNames[0].Name, "cdd_pathname");
    EXPECT_STREQ(fib::DatabaseParamNames[62].Name, "sql_dialect");
    EXPECT_STREQ(fib::DatabaseParamNames[82].Name, "force");
    EXPECT_STREQ(fib::DatabaseParamNames[83].Name, "no_db_triggers");
    EXPECT_EQ(fib::DatabaseParamNames[83].Code, 72);
    EXPECT_STREQ(fib::DatabaseParamNames[84].Name, "set_db_charset");
    EXPECT_EQ(fib::DatabaseParamNames[84].Code, 68);
    EXPECT_STREQ(fib::DatabaseParamNames[85].Name, "utf8_filename");
    EXPECT_EQ(fib::DatabaseParamNames[85].Code, 77);

    ASSERT_EQ(fib::TransactionParamNames.size(), 22u);
    for (size_t i = 0; i < 21; ++i) {
        EXPECT_EQ(fib::TransactionParamNames[i].Code, static_cast<int>(i + 1)) << i;
    }
    EXPECT_STREQ(fib::TransactionParamNames[20].Name, "no_savepoint");
    EXPECT_STREQ(fib::TransactionParamNames[21].Name, "lock_timeout");
    EXPECT_EQ(fib::TransactionParamNames[21].Code, 21);
}

// --- transaction blocks

TEST(TransactionParamBlock, AcceptedLinesGiveExactBytes) {
    const BlockCase cases[] = {
        {"empty list", {}, true, ""},
        {"blank lines only", {"", "  "}, true, Bytes({3})},
        {"blank line between", {"read", "", "wait"}, false, Bytes({3, 8, 6})},
        {"prefixed and upper-case",
         {"isc_tpb_READ_COMMITTED", "ISC_TPB_rec_version", "nowait"},
         false,
         Bytes({3, 15, 17, 7})},
        {"values of plain codes are ignored",
         {"write=yes", "concurrency=1"},
         false,
         Bytes({3, 9, 2})},
        {"every plain code",
         {"consistency", "concurrency", "shared", "protected", "exclusive", "wait", "nowait",
          "read", "write", "ignore_limbo", "read_committed", "rec_version", "no_rec_version",
          "no_auto_undo"},
         false,
         Bytes({3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 14, 15, 17, 18, 20})},
        {"table to lock", {"lock_write=CUSTOMERS"}, false, Bytes({3, 11, 9}, "CUSTOMERS")},
        {"table to lock, empty", {"lock_read"}, false, Bytes({3, 10, 0})},
        {"lock timeout with value", {"lock_timeout=5"}, true, Bytes({3, 21, 2, 5, 0})},
        {"lock timeout over a byte", {"lock_timeout=300"}, true, Bytes({3, 21, 2, 0x2C, 0x01})},
        {"lock timeout that does not convert",
         {"lock_timeout=soon"},
         true,
         Bytes({3, 21, 2, 10, 0})},
        {"lock timeout without a value", {"lock_timeout"}, true, Bytes({3, 21, 2, 10, 0})},
        {"lock timeout as a bare code", {"lock_timeout=5"}, false, Bytes({3, 21})},
        {"no savepoint", {"no_savepoint"}, false, Bytes({3, 21})},
        {"longest table name",
         {"lock_read=" + std::string(255, 't')},
         false,
         Bytes({3, 10, 255}, std::string(255, 't'))},
    };
    ExpectBlocks(cases, fib::BuildTransactionParamBlock);
}

TEST(TransactionParamBlock, RejectedNamesAndValues) {
    const ErrorCase cases[] = {
        {"unsupported autocommit",
         {"read", "autocommit"},
         10,
         "TPB Constant (isc_tpb_autocommit) is unsupported."},
        {"unsupported verb_time",
         {"verb_time"},
         10,
         "TPB Constant (isc_tpb_verb_time) is unsupported."},
        {"unsupported commit_time",
         {"commit_time"},
         10,
         "TPB Constant (isc_tpb_commit_time) is unsupported."},
        {"unsupported restart_requests",
         {"restart_requests"},
         10,
         "TPB Constant (isc_tpb_restart_requests) is unsupported."},
        {"unknown", {"ISC_TPB_Bogus=1"}, 11, "TPB Constant (bogus) is unknown."},
        {"blanks around the equals sign",
         {"lock_read = T"},
         11,
         "TPB Constant (lock_read ) is unknown."},
        {"table name too long",
         {"lock_write=" + std::string(256, 't')},
         -1,
         "TPB Constant (isc_tpb_lock_write) value is too long: 256 bytes, at most 255 are "
         "allowed."},
    };
    ExpectErrors(cases, fib::BuildTransactionParamBlock);
}

TEST(TransactionParamBlock, LinesAreWrittenBackTrimmed) {
    rtl::TStringList lines{" read ", "\twait", "write"};
    std::string block;
    uint16_t length = 0;
    fib::BuildTransactionParamBlock(lines, block, length, false);
    EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"read", "wait", "write"}));
}

TEST(TransactionParamBlock, BlockOverItsLengthFieldIsRejected) {
    rtl::TStringList lines;
    for (int i = 0; i < 300; ++i) {
        lines.Add("lock_read=" + std::string(255, 'x'));
    }
    std::string block;
    uint16_t length = 0;
    EXPECT_THROW(fib::BuildTransactionParamBlock(lines, block, length, false),
                 fib::EFIBClientError);
}

// --- shutdown words

TEST(ShutdownMode, WordsAndNumbers) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"", 0},
        {",;", 0},
        {"cache", 1},
        {"ATTACHMENT", 2},
        {"transaction", 4},
        {"force", 8},
        {"normal", 16},
        {"multi", 32},
        {"single", 48},
        {"full", 64},
        {"mode_mask", 112},
        {"full,force", 72},
        {"full;8", 72},
        {"2", 2},
        {"0x10", 16},
        {"cache,,force;", 9},
        {"unknown", -1},
        {" full", -1},
        {"full,unknown", -1},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(fib::ShutdownModeFromText(text), value) << "'" << text << "'";
    }
    EXPECT_THROW(fib::ShutdownModeFromText("8x"), rtl::EConvertError);
}

} // namespace
