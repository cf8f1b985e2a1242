// Connect strings, the attach parameter block, the login step and the start
// blocks of backup and restore, checked byte for byte without a server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceTestUtil.h"

using namespace fib;
using svctest::Bytes;
using svctest::ClientErrorCode;
using svctest::Hex;
using svctest::Text16;

namespace {

// --- connect string and protocol coupling -----------------------------------

struct ConnectCase {
    TProtocol protocol;
    const char* server;
    const char* expected;
};

class ConnectStringTest : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectStringTest, FormsTheServiceName) {
    const ConnectCase& c = GetParam();
    TpFIBCustomService svc;
    svc.SetServerName(c.server);
    svc.SetProtocol(c.protocol);
    EXPECT_EQ(svc.ConnectString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, ConnectStringTest,
    ::testing::Values(ConnectCase{TProtocol::TCP, "srv", "srv:service_mgr"},
                      ConnectCase{TProtocol::SPX, "srv", "srv@service_mgr"},
                      ConnectCase{TProtocol::NamedPipe, "srv", "\\\\srv\\service_mgr"},
                      ConnectCase{TProtocol::Local, "srv", "service_mgr"},
                      ConnectCase{TProtocol::TCP, "127.0.0.1", "127.0.0.1:service_mgr"},
                      ConnectCase{TProtocol::TCP, "127.0.0.1/3051", "127.0.0.1/3051:service_mgr"}));

TEST(ServiceProperties, ServerNameAndProtocolFollowEachOther) {
    TpFIBCustomService svc;
    svc.SetServerName("127.0.0.1");
    EXPECT_EQ(svc.Protocol(), TProtocol::TCP);
    EXPECT_EQ(svc.ConnectString(), "127.0.0.1:service_mgr");

    svc.SetProtocol(TProtocol::Local);
    EXPECT_EQ(svc.ServerName(), "");
    EXPECT_EQ(svc.ConnectString(), "service_mgr");

    svc.SetProtocol(TProtocol::SPX);
    EXPECT_EQ(svc.ServerName(), "");
    svc.SetServerName("srv");
    EXPECT_EQ(svc.Protocol(), TProtocol::SPX); // a named protocol stays
    svc.SetServerName("");
    EXPECT_EQ(svc.Protocol(), TProtocol::Local);
}

TEST(ServiceProperties, TcpWithoutServerNameCannotAttach) {
    TpFIBCustomService svc;
    svc.SetProtocol(TProtocol::TCP);
    EXPECT_EQ(svc.ServerName(), "");
    EXPECT_EQ(ClientErrorCode([&] { svc.Attach(); }), ceServerNameMissing);
    EXPECT_FALSE(svc.Active());
}

TEST(ServiceProperties, DetachWhileDetachedIsRefused) {
    TpFIBCustomService svc;
    EXPECT_EQ(ClientErrorCode([&] { svc.Detach(); }), ceServiceNotAttached);
    svc.SetActive(false); // writing the current value does nothing
    EXPECT_FALSE(svc.Active());
}

TEST(ServiceProperties, ClientErrorTextHasNoRaiserPath) {
    rtl::TComponent form;
    form.SetName("mainForm");
    TpFIBCustomService svc(&form);
    svc.SetName("pFIBBackupService1");
    try {
        svc.Detach();
        FAIL() << "no error";
    } catch (const EFIBClientError& e) {
        EXPECT_STREQ(e.what(), "Cannot perform operation -- service is not attached");
    }
}

// --- service parameter names -------------------------------------------------

struct NameCase {
    const char* name;
    int position;
};

class ServiceParamNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ServiceParamNameTest, LooksUpThePosition) {
    EXPECT_EQ(ServiceParamPosition(GetParam().name), GetParam().position) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ServiceParamNameTest,
    ::testing::Values(NameCase{"user_name", 1}, NameCase{"ISC_SPB_USER_NAME", 1},
                      NameCase{"User_Name", 1}, NameCase{"isc_spb_password", 4},
                      NameCase{"password_enc", 5}, NameCase{"db_name", 7}, NameCase{"verbose", 8},
                      NameCase{"options", 9}, NameCase{"connect_timeout", 10},
                      NameCase{"dummy_packet_interval", 11}, NameCase{"sql_role_name", 12},
                      NameCase{"instance_name", 13}, NameCase{"user_name ", 0},
                      NameCase{" user_name", 0}, NameCase{"isc_spb_isc_spb_user_name", 0},
                      NameCase{"xisc_spb_user_name", 0}, NameCase{"", 0}, NameCase{"dbname", 0}));

TEST(ServiceParamNames, CodesOfTheStartItems) {
    EXPECT_EQ(ServiceParamNames.size(), 13u);
    EXPECT_EQ(ServiceParamNames[0].Code, 28);
    EXPECT_EQ(ServiceParamNames[6].Code, 106);
    EXPECT_EQ(ServiceParamNames[7].Code, 107);
    EXPECT_EQ(ServiceParamNames[8].Code, 108);
    EXPECT_EQ(ServiceParamNames[12].Code, 75);
}

// --- attach block ------------------------------------------------------------

enum class Outcome { Block, ClientError, ConvertError };

struct AttachCase {
    const char* title;
    std::vector<std::string> lines;
    Outcome outcome;
    std::string block; // expected block
    int code;          // expected client-error code (-1: free text)
};

class AttachBlockTest : public ::testing::TestWithParam<AttachCase> {};

TEST_P(AttachBlockTest, BuildsOrRefuses) {
    const AttachCase& c = GetParam();
    rtl::TStringList params;
    params.Assign(c.lines);
    switch (c.outcome) {
    case Outcome::Block:
        EXPECT_EQ(Hex(BuildServiceAttachBlock(params)), Hex(c.block)) << c.title;
        break;
    case Outcome::ClientError:
        EXPECT_EQ(ClientErrorCode([&] { BuildServiceAttachBlock(params); }), c.code) << c.title;
        break;
    case Outcome::ConvertError:
        EXPECT_THROW(BuildServiceAttachBlock(params), rtl::EConvertError) << c.title;
        break;
    }
}

const std::string Long255(255, 'p');
const std::string Long256(256, 'p');

INSTANTIATE_TEST_SUITE_P(
    Lines, AttachBlockTest,
    ::testing::Values(
        AttachCase{"empty", {}, Outcome::Block, Bytes({2, 2}), 0},
        AttachCase{
            "user", {"user_name=SYSDBA"}, Outcome::Block, Bytes({2, 2, 0x1C, 6}) + "SYSDBA", 0},
        AttachCase{"prefixed capitals",
                   {"ISC_SPB_USER_NAME=SYSDBA"},
                   Outcome::Block,
                   Bytes({2, 2, 0x1C, 6}) + "SYSDBA",
                   0},
        AttachCase{"user and password",
                   {"user_name=SYSDBA", "password=jwx+[]"},
                   Outcome::Block,
                   Bytes({2, 2, 0x1C, 6}) + "SYSDBA" + Bytes({0x1D, 6}) + "jwx+[]",
                   0},
        AttachCase{"value keeps its blank",
                   {"user_name= SYSDBA"},
                   Outcome::Block,
                   Bytes({2, 2, 0x1C, 7}) + " SYSDBA",
                   0},
        AttachCase{"value keeps further equals",
                   {"password=a=b"},
                   Outcome::Block,
                   Bytes({2, 2, 0x1D, 3}) + "a=b",
                   0},
        AttachCase{"empty value", {"password="}, Outcome::Block, Bytes({2, 2, 0x1D, 0}), 0},
        AttachCase{"role and command line",
                   {"sql_role_name=R", "command_line=x"},
                   Outcome::Block,
                   Bytes({2, 2, 60, 1}) + "R" + Bytes({105, 1}) + "x",
                   0},
        AttachCase{"timeout",
                   {"connect_timeout=30"},
                   Outcome::Block,
                   Bytes({2, 2, 0x39, 4, 0x1E, 0, 0, 0}),
                   0},
        AttachCase{"negative interval",
                   {"dummy_packet_interval=-2"},
                   Outcome::Block,
                   Bytes({2, 2, 0x3A, 4, 0xFE, 0xFF, 0xFF, 0xFF}),
                   0},
        AttachCase{"line without equals skipped",
                   {"user_name", "", "   "},
                   Outcome::Block,
                   Bytes({2, 2}),
                   0},
        AttachCase{"blank name skipped", {" =x", "=y"}, Outcome::Block, Bytes({2, 2}), 0},
        AttachCase{"255 bytes fit",
                   {"password=" + Long255},
                   Outcome::Block,
                   Bytes({2, 2, 0x1D, 0xFF}) + Long255,
                   0},
        AttachCase{"blank before equals",
                   {"user_name =SYSDBA"},
                   Outcome::ClientError,
                   "",
                   ceSPBConstantUnknown},
        AttachCase{"unknown name", {"colour=red"}, Outcome::ClientError, "", ceSPBConstantUnknown},
        AttachCase{
            "verbose refused", {"verbose=1"}, Outcome::ClientError, "", ceSPBConstantNotSupported},
        AttachCase{"db_name refused",
                   {"user_name=a", "db_name=x"},
                   Outcome::ClientError,
                   "",
                   ceSPBConstantNotSupported},
        AttachCase{"instance_name refused",
                   {"instance_name=x"},
                   Outcome::ClientError,
                   "",
                   ceSPBConstantNotSupported},
        AttachCase{"256 bytes refused", {"password=" + Long256}, Outcome::ClientError, "", -1},
        AttachCase{
            "timeout not a number", {"connect_timeout=soon"}, Outcome::ConvertError, "", 0}));

TEST(AttachBlock, BlockOverSixteenBitsIsRefused) {
    rtl::TStringList params;
    for (int i = 0; i < 300; ++i) {
        params.Add("password=" + Long255);
    }
    EXPECT_EQ(ClientErrorCode([&] { BuildServiceAttachBlock(params); }), -1);
}

TEST(AttachBlock, ConvertErrorNamesTheValue) {
    rtl::TStringList params{"connect_timeout=soon"};
    try {
        BuildServiceAttachBlock(params);
        FAIL() << "no error";
    } catch (const rtl::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'soon' is not a valid integer value");
    }
}

TEST(AttachBlock, RefusalMessages) {
    rtl::TStringList unknown{"user_name =SYSDBA"};
    try {
        BuildServiceAttachBlock(unknown);
        FAIL();
    } catch (const EFIBClientError& e) {
        EXPECT_STREQ(e.what(), "SPB Constant Unknown");
    }
    rtl::TStringList refused{"verbose=1"};
    try {
        BuildServiceAttachBlock(refused);
        FAIL();
    } catch (const EFIBClientError& e) {
        EXPECT_STREQ(e.what(), "SPB Constant Not supported");
    }
}

// --- login step --------------------------------------------------------------

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override { saved = LoginDialogHook(); }
    void TearDown() override { LoginDialogHook() = saved; }
    TLoginDialogProc saved;
};

TEST_F(LoginTest, OnLoginReplacesParams) {
    TpFIBCustomService svc;
    svc.Params().Add("user_name=a");
    TpFIBCustomService* seen = nullptr;
    std::vector<std::string> given;
    svc.OnLogin = [&](TpFIBCustomService* db, rtl::TStringList& p) {
        seen = db;
        given = p.Lines();
        p.Clear();
        p.Add("user_name=SYSDBA");
        p.Add("password=x");
    };
    EXPECT_TRUE(svc.RequestLogin());
    EXPECT_EQ(seen, &svc);
    EXPECT_EQ(given, std::vector<std::string>{"user_name=a"});
    EXPECT_EQ(svc.Params().Lines(), (std::vector<std::string>{"user_name=SYSDBA", "password=x"}));
}

TEST_F(LoginTest, NoDialogMeansCancelled) {
    LoginDialogHook() = nullptr;
    TpFIBCustomService svc;
    svc.SetServerName("127.0.0.1");
    svc.Params().Add("user_name=SYSDBA");
    EXPECT_FALSE(svc.RequestLogin());
    try {
        svc.Attach();
        FAIL() << "attached";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), ceOperationCancelled);
        EXPECT_STREQ(e.what(), "Operation cancelled at user's request.");
    }
    EXPECT_EQ(svc.Params().Lines(), std::vector<std::string>{"user_name=SYSDBA"});
    EXPECT_FALSE(svc.Active());
}

TEST_F(LoginTest, DialogCancelLeavesParams) {
    LoginDialogHook() = [](const std::string&, std::string& u, std::string&, std::string&) {
        u = "changed";
        return false;
    };
    TpFIBCustomService svc;
    svc.Params().Add("user_name=SYSDBA");
    EXPECT_FALSE(svc.RequestLogin());
    EXPECT_EQ(svc.Params().Lines(), std::vector<std::string>{"user_name=SYSDBA"});
}

TEST_F(LoginTest, DialogSeesAndWritesTheThreeLines) {
    std::string shownServer, shownUser, shownPassword, shownRole;
    LoginDialogHook() = [&](const std::string& db, std::string& u, std::string& p, std::string& r) {
        shownServer = db;
        shownUser = u;
        shownPassword = p;
        shownRole = r;
        u = "alice";
        p = "secret";
        r = "";
        return true;
    };
    TpFIBCustomService svc;
    svc.SetServerName("dbhost");
    svc.Params().Assign(
        std::vector<std::string>{"isc_spb_user_name=bob", "connect_timeout=5", "password=old=1"});
    EXPECT_TRUE(svc.RequestLogin());
    EXPECT_EQ(shownServer, "dbhost");
    EXPECT_EQ(shownUser, "bob");
    EXPECT_EQ(shownPassword, "old=1");
    EXPECT_EQ(shownRole, "");
    EXPECT_EQ(svc.Params().Lines(),
              (std::vector<std::string>{"user_name=alice", "connect_timeout=5", "password=secret",
                                        "sql_role_name="}));
}

TEST_F(LoginTest, DialogAppendsMissingLinesInOrder) {
    LoginDialogHook() = [](const std::string&, std::string& u, std::string& p, std::string& r) {
        u = "U";
        p = "P";
        r = "R";
        return true;
    };
    TpFIBCustomService svc;
    EXPECT_TRUE(svc.RequestLogin());
    EXPECT_EQ(svc.Params().Lines(),
              (std::vector<std::string>{"user_name=U", "password=P", "sql_role_name=R"}));
}

struct FindCase {
    std::vector<std::string> lines;
    const char* name;
    int index;
};

class FindParamLineTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindParamLineTest, FindsTheLine) {
    TpFIBCustomService svc;
    svc.Params().Assign(GetParam().lines);
    EXPECT_EQ(svc.FindParamLine(GetParam().name), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(
    Quirks, FindParamLineTest,
    ::testing::Values(FindCase{{"user_name=a", "password=b"}, "password", 1},
                      FindCase{{"isc_spb_password=b"}, "password", 0},
                      FindCase{{"ISC_SPB_password=b"}, "password", 0}, // any 8-byte prefix
                      FindCase{{"password_enc=b", "password=c"}, "password", 0},
                      FindCase{{"PASSWORD=b"}, "password", -1},  // case-sensitive
                      FindCase{{"xpassword=b"}, "password", -1}, // position 2
                      FindCase{{"my_pass_password=b"}, "password", 0},
                      FindCase{{}, "user_name", -1},
                      FindCase{{"a=1", "sql_role_name=r"}, "sql_role_name", 1}));

// --- options words -----------------------------------------------------------

TEST(Options, SetValuesAndWords) {
    const TBackupOptions backup{TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable};
    EXPECT_EQ(backup.Bits(), 34u);
    EXPECT_EQ(BackupOptionsWord(backup), 0x22u);
    EXPECT_EQ(BackupOptionsWord(TBackupOptions::FromBits(0x7F)), 0x7Fu);

    const TRestoreOptions restore{TRestoreOption::Replace, TRestoreOption::UseAllSpace};
    EXPECT_EQ(restore.Bits(), 80u);
    EXPECT_EQ(RestoreOptionsWord(restore), 0x5000u);
    EXPECT_EQ(RestoreOptionsWord(TRestoreOptions{TRestoreOption::CreateNewDB}), 0x2000u);
    EXPECT_EQ(RestoreOptionsWord(
                  TRestoreOptions{TRestoreOption::OnlyMetadata, TRestoreOption::ValidationCheck}),
              0x8004u);
    EXPECT_EQ(RestoreOptionsWord(
                  TRestoreOptions{TRestoreOption::FixFssData, TRestoreOption::FixFssMetadata}),
              0u);
    EXPECT_EQ(RestoreOptionsWord(TRestoreOptions::FromBits(0x1FF)), 0xFF04u);
}

// --- start blocks ------------------------------------------------------------

TEST(BackupStart, TheToolsBackup) {
    svctest::TestBackup b;
    b.SetDatabaseName("C:\\Solvane\\DB\\SLV.FDB");
    b.BackupFile().Add("D:\\bk\\SLV_Backup_240131_0930.fbk");
    b.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
    b.SetVerbose(true);
    b.BuildStartItems();
    const std::string expected = Bytes({0x01, 0x6A}) + Text16("C:\\Solvane\\DB\\SLV.FDB") +
                                 Bytes({0x6C, 0x22, 0, 0, 0, 0x6B, 0x05}) +
                                 Text16("D:\\bk\\SLV_Backup_240131_0930.fbk");
    EXPECT_EQ(Hex(b.StartItems()), Hex(expected));
    EXPECT_EQ(b.ActionCode(), 1);
    EXPECT_FALSE(b.EndOfOutput());
}

TEST(BackupStart, AllItemsInOrder) {
    svctest::TestBackup b;
    b.SetDatabaseName("d");
    b.SetBlockingFactor(2);
    b.BackupFile().Assign(std::vector<std::string>{"a=1234567", "", "  ", " b", "c==5"});
    // No verbose byte, options 0 still sent, blocking factor, then the files.
    const std::string expected =
        Bytes({0x01, 0x6A}) + Text16("d") + Bytes({0x6C, 0, 0, 0, 0}) + Bytes({0x06, 2, 0, 0, 0}) +
        Bytes({0x05}) + Text16("a") + Bytes({0x07, 0x87, 0xD6, 0x12, 0x00}) + Bytes({0x05}) +
        Text16(" b") + Bytes({0x05}) + Text16("c") + Bytes({0x07, 0xFB, 0xFF, 0xFF, 0xFF});
    // "c==5" : the size is all of "=5", which is not a number.
    EXPECT_THROW(b.BuildStartItems(), rtl::EConvertError);
    b.BackupFile().Set(4, "c=-5");
    b.BuildStartItems();
    EXPECT_EQ(Hex(b.StartItems()), Hex(expected));
}

TEST(BackupStart, EmptyDatabaseNameIsRefusedAndChangesNothing) {
    svctest::TestBackup b;
    b.BackupFile().Add("f");
    b.StartItems() = "keep";
    try {
        b.BuildStartItems();
        FAIL();
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), ceStartParamsError);
        EXPECT_STREQ(e.what(), "Start Parameters missing or incorrect");
    }
    EXPECT_EQ(b.StartItems(), "keep");
    EXPECT_EQ(b.ActionCode(), 0);
}

TEST(BackupStart, NonIntegerSizeKeepsTheHalfBuiltBlock) {
    svctest::TestBackup b;
    b.SetDatabaseName("d");
    b.BackupFile().Assign(std::vector<std::string>{"first", "second=x"});
    try {
        b.BuildStartItems();
        FAIL();
    } catch (const rtl::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
    }
    const std::string half = Bytes({0x01, 0x6A}) + Text16("d") + Bytes({0x6C, 0, 0, 0, 0}) +
                             Bytes({0x05}) + Text16("first") + Bytes({0x05}) + Text16("second");
    EXPECT_EQ(Hex(b.StartItems()), Hex(half));
}

TEST(BackupStart, LongFileNameUsesBothLengthBytes) {
    svctest::TestBackup b;
    const std::string name(300, 'n');
    b.SetDatabaseName(name);
    b.BuildStartItems();
    EXPECT_EQ(b.StartItems().substr(0, 4), Bytes({0x01, 0x6A, 0x2C, 0x01}));
}

// The file names go to the client library in the system's code page: UTF-8
// here, CP949 on a Korean Windows.
#if defined(_WIN32)
const char* const RestoredInCodePage = "C:\\Solvane\\DB\\SLV\xBA\xB9\xBF\xF8.fdb";
#else
const char* const RestoredInCodePage = "C:\\Solvane\\DB\\SLV복원.fdb";
#endif

TEST(RestoreStart, TheToolsRestore) {
    svctest::TestRestore r;
    r.SetOptions({TRestoreOption::Replace, TRestoreOption::UseAllSpace});
    EXPECT_EQ(r.Options().Bits(), 80u);
    r.SetVerbose(true);
    r.SetPageSize(4096);
    r.SetPageBuffers(3000);
    r.BackupFile().Add("D:\\bk\\SLV_Backup_240131_0930.fbk");
    r.DatabaseName().Add("C:\\Solvane\\DB\\SLV복원.fdb");
    r.BuildStartItems();
    const std::string expected = Bytes({0x02, 0x6C, 0x00, 0x50, 0x00, 0x00, 0x6B, 0x0A, 0x00, 0x10,
                                        0x00, 0x00, 0x09, 0xB8, 0x0B, 0x00, 0x00, 0x05}) +
                                 Text16("D:\\bk\\SLV_Backup_240131_0930.fbk") + Bytes({0x6A}) +
                                 Text16(RestoredInCodePage);
    EXPECT_EQ(Hex(r.StartItems()), Hex(expected));
    EXPECT_EQ(r.ActionCode(), 2);
}

TEST(RestoreStart, Defaults) {
    svctest::TestRestore r;
    r.BuildStartItems(); // no files: not checked
    EXPECT_EQ(Hex(r.StartItems()),
              Hex(Bytes({0x02, 0x6C, 0x00, 0x20, 0x00, 0x00, 0x0A, 0x00, 0x10, 0x00, 0x00})));
}

struct RestoreCase {
    const char* title;
    TRestoreOptions options;
    const char* charset;
    int pageSize;
    int buffers;
    std::string tail; // what follows the options item
};

class RestoreItemsTest : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreItemsTest, Items) {
    const RestoreCase& c = GetParam();
    svctest::TestRestore r;
    r.SetOptions(c.options);
    r.SetFixCharset(c.charset);
    r.SetPageSize(c.pageSize);
    r.SetPageBuffers(c.buffers);
    r.BuildStartItems();
    ASSERT_GE(r.StartItems().size(), 6u);
    EXPECT_EQ(Hex(r.StartItems().substr(6)), Hex(c.tail)) << c.title;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreItemsTest,
    ::testing::Values(RestoreCase{"nothing", {}, "", 0, 0, ""},
                      RestoreCase{"negative sizes", {}, "", -1, -5, ""},
                      RestoreCase{
                          "fix data without charset", {TRestoreOption::FixFssData}, "", 0, 0, ""},
                      RestoreCase{"charset without option", {}, "WIN949", 0, 0, ""},
                      RestoreCase{"metadata before data",
                                  {TRestoreOption::FixFssData, TRestoreOption::FixFssMetadata},
                                  "WIN949",
                                  0,
                                  0,
                                  Bytes({14}) + Text16("WIN949") + Bytes({13}) + Text16("WIN949")},
                      RestoreCase{"data only",
                                  {TRestoreOption::FixFssData},
                                  "UTF8",
                                  1024,
                                  0,
                                  Bytes({13}) + Text16("UTF8") + Bytes({0x0A, 0x00, 0x04, 0, 0})},
                      RestoreCase{"buffers only", {}, "", 0, 75, Bytes({0x09, 75, 0, 0, 0})}));

TEST(RestoreStart, FileListsWithSizes) {
    svctest::TestRestore r;
    r.SetPageSize(0);
    r.BackupFile().Assign(std::vector<std::string>{"b1=100", "  b2"});
    r.DatabaseName().Assign(std::vector<std::string>{"d1=2000", "", "d2"});
    r.BuildStartItems();
    const std::string expected = Bytes({0x02, 0x6C, 0x00, 0x20, 0x00, 0x00, 0x05}) + Text16("b1") +
                                 Bytes({0x07, 100, 0, 0, 0, 0x05}) + Text16("  b2") +
                                 Bytes({0x6A}) + Text16("d1") +
                                 Bytes({0x0B, 0xD0, 0x07, 0, 0, 0x6A}) + Text16("d2");
    EXPECT_EQ(Hex(r.StartItems()), Hex(expected));
}

TEST(StartItems, AppendRules) {
    svctest::TestControl c;
    c.AppendStartText("", 5);
    EXPECT_TRUE(c.StartItems().empty());
    c.AppendStartNumber(0, 9);
    EXPECT_EQ(Hex(c.StartItems()), Hex(Bytes({9, 0, 0, 0, 0})));
    c.StartItems().clear();
    c.AppendStartText(std::string(65535, 'x'), 5);
    EXPECT_EQ(c.StartItems().substr(0, 3), Bytes({5, 0xFF, 0xFF}));
    EXPECT_EQ(c.StartItems().size(), 65538u);
    c.StartItems().clear();
    EXPECT_EQ(ClientErrorCode([&] { c.AppendStartText(std::string(65536, 'x'), 5); }), -1);
    EXPECT_TRUE(c.StartItems().empty());
}

} // namespace
