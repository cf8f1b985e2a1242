// The components against a stand-in client library whose service calls
// answer from a script: attach state, refusals, line and running replies
// (including ones a real server never sends) and failing calls.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ServiceTestUtil.h"

using namespace fib;
using svctest::Bytes;
using svctest::ClientErrorCode;
using svctest::Hex;
using namespace std::string_literals;

namespace {

// The stand-in library's control functions.
struct Stub {
    void (*reset)() = nullptr;
    int (*pushReply)(const char*, int) = nullptr;
    int (*pushFailure)() = nullptr;
    void (*failAttach)(int) = nullptr;
    void (*failStart)(int) = nullptr;
    void (*failDetach)(int) = nullptr;
    int (*count)(const char*) = nullptr;
    int (*last)(const char*, char*, int) = nullptr;

    static Stub& Get() {
        static Stub stub = Load();
        return stub;
    }
    void Reply(const std::string& bytes) const {
        ASSERT_EQ(pushReply(bytes.data(), static_cast<int>(bytes.size())), 1);
    }
    void Line(const std::string& text) const {
        Reply(Bytes({0x3E, static_cast<int>(text.size() & 0xFF),
                     static_cast<int>(text.size() >> 8)}) +
              text + Bytes({1}));
    }
    void End() const { Reply(Bytes({0x3E, 0, 0, 1})); }
    // A reply to the bulk query: the raw output, then the marks and 01.
    void Output(const std::string& text, std::initializer_list<int> marks = {}) const {
        Reply(Bytes({0x3F, static_cast<int>(text.size() & 0xFF),
                     static_cast<int>(text.size() >> 8)}) +
              text + Bytes(marks) + Bytes({1}));
    }
    std::string Last(const char* what) const {
        std::string out(70000, '\0');
        const int n = last(what, out.data(), static_cast<int>(out.size()));
        out.resize(static_cast<size_t>(std::max(n, 0)));
        return out;
    }

private:
    template <typename F> static void Resolve(void* lib, const char* name, F& fn) {
        fn = reinterpret_cast<F>(dlsym(lib, name));
        if (fn == nullptr) {
            ADD_FAILURE() << "stand-in library lacks " << name;
        }
    }
    static Stub Load() {
        Stub s;
        void* lib = dlopen(SLV_SVCSTUB_PATH, RTLD_NOW);
        if (lib == nullptr) {
            ADD_FAILURE() << "cannot load " << SLV_SVCSTUB_PATH << ": " << dlerror();
            return s;
        }
        Resolve(lib, "svcstub_reset", s.reset);
        Resolve(lib, "svcstub_push_reply", s.pushReply);
        Resolve(lib, "svcstub_push_failure", s.pushFailure);
        Resolve(lib, "svcstub_fail_attach", s.failAttach);
        Resolve(lib, "svcstub_fail_start", s.failStart);
        Resolve(lib, "svcstub_fail_detach", s.failDetach);
        Resolve(lib, "svcstub_count", s.count);
        Resolve(lib, "svcstub_last", s.last);
        return s;
    }
};

class StubTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(stub.reset, nullptr);
        stub.reset();
    }
    void TearDown() override { EXPECT_EQ(stub.count("live"), 0) << "an attachment was left open"; }

    template <typename T> void Prepare(T& svc) {
        svc.SetLibraryName(SLV_SVCSTUB_PATH);
        svc.SetLoginPrompt(false);
        svc.SetServerName("127.0.0.1");
        svc.Params().Assign(std::vector<std::string>{"user_name=SYSDBA", "password=jwx+[]"});
    }
    template <typename T> void Attached(T& svc) {
        Prepare(svc);
        svc.Attach();
        ASSERT_TRUE(svc.Active());
    }
    // Starts an action so that lines may be read.
    void Started(svctest::TestBackup& b) {
        Attached(b);
        b.SetDatabaseName("/db/x.fdb");
        b.BackupFile().Add("/bk/x.fbk");
        b.ServiceStart();
    }

    const Stub& stub = Stub::Get();
};

// --- attach and detach --------------------------------------------------------

TEST_F(StubTest, AttachSendsNameAndBlockThenDetach) {
    TpFIBCustomService svc;
    Prepare(svc);
    rtl::TComponent* attachedSender = nullptr;
    svc.OnAttach = [&](rtl::TComponent* sender) { attachedSender = sender; };
    svc.Attach();
    EXPECT_TRUE(svc.Active());
    EXPECT_NE(svc.ServiceHandle(), 0u);
    EXPECT_EQ(attachedSender, &svc);
    EXPECT_EQ(stub.Last("name"), "127.0.0.1:service_mgr");
    EXPECT_EQ(Hex(stub.Last("spb")),
              Hex(Bytes({2, 2, 0x1C, 6}) + "SYSDBA" + Bytes({0x1D, 6}) + "jwx+[]"));
    EXPECT_EQ(stub.Last("spb"), svc.AttachBlock());
    svc.Detach();
    EXPECT_FALSE(svc.Active());
    EXPECT_EQ(svc.ServiceHandle(), 0u);
    EXPECT_EQ(stub.count("detach"), 1);
}

TEST_F(StubTest, ActivePropertyAttachesAndDetaches) {
    TpFIBCustomService svc;
    Prepare(svc);
    svc.SetActive(true);
    EXPECT_TRUE(svc.Active());
    svc.SetActive(true); // nothing happens
    EXPECT_EQ(stub.count("attach"), 1);
    svc.SetActive(false);
    EXPECT_FALSE(svc.Active());
    svc.SetActive(false);
    EXPECT_EQ(stub.count("detach"), 1);
}

TEST_F(StubTest, ChangesRefusedWhileAttached) {
    TpFIBCustomService svc;
    Attached(svc);
    EXPECT_EQ(ClientErrorCode([&] { svc.Attach(); }), ceServiceAttached);
    EXPECT_EQ(ClientErrorCode([&] { svc.SetServerName("other"); }), ceServiceAttached);
    EXPECT_EQ(svc.ServerName(), "127.0.0.1");
    EXPECT_EQ(ClientErrorCode([&] { svc.SetServerName("127.0.0.1"); }), -1000); // unchanged
    EXPECT_EQ(ClientErrorCode([&] { svc.SetProtocol(TProtocol::Local); }), ceServiceAttached);
    EXPECT_EQ(svc.Protocol(), TProtocol::TCP);
    EXPECT_EQ(ClientErrorCode([&] { svc.SetProtocol(TProtocol::TCP); }), -1000);
    // LibraryName refuses even an unchanged value.
    EXPECT_EQ(ClientErrorCode([&] { svc.SetLibraryName(SLV_SVCSTUB_PATH); }), ceServiceAttached);
    EXPECT_EQ(ClientErrorCode([&] { svc.Params().Add("sql_role_name=r"); }), ceServiceAttached);
    EXPECT_EQ(ClientErrorCode([&] { svc.Params().Clear(); }), ceServiceAttached);
    EXPECT_EQ(ClientErrorCode([&] { svc.SetParams(rtl::TStringList{"user_name=x"}); }),
              ceServiceAttached);
    EXPECT_EQ(svc.Params().Lines(),
              (std::vector<std::string>{"user_name=SYSDBA", "password=jwx+[]"}));
    svc.Detach();
    svc.Params().Add("sql_role_name=r");
    EXPECT_EQ(svc.Params().Count(), 3);
}

TEST_F(StubTest, BadParamsKeepTheBlockDirtyUntilFixed) {
    TpFIBCustomService svc;
    Prepare(svc);
    svc.Params().Add("verbose=1");
    EXPECT_EQ(ClientErrorCode([&] { svc.Attach(); }), ceSPBConstantNotSupported);
    EXPECT_FALSE(svc.Active());
    EXPECT_EQ(stub.count("attach"), 0);
    svc.Params().Delete(2);
    svc.Attach();
    EXPECT_EQ(Hex(stub.Last("spb")),
              Hex(Bytes({2, 2, 0x1C, 6}) + "SYSDBA" + Bytes({0x1D, 6}) + "jwx+[]"));
    svc.Detach();
    // A changed list is rebuilt at the next attach.
    svc.Params().Set(1, "password=other");
    svc.Attach();
    EXPECT_EQ(Hex(stub.Last("spb")),
              Hex(Bytes({2, 2, 0x1C, 6}) + "SYSDBA" + Bytes({0x1D, 5}) + "other"));
    svc.Detach();
}

TEST_F(StubTest, FailedAttachLeavesDetachedAndALaterAttachWorks) {
    rtl::TComponent form;
    form.SetName("mainForm");
    auto* svc = new TpFIBCustomService(&form); // owned by the form
    Prepare(*svc);
    stub.failAttach(1);
    try {
        svc->Attach();
        FAIL() << "attached";
    } catch (const EFIBInterBaseError& e) {
        EXPECT_EQ(e.Raiser(), svc);
        EXPECT_EQ(e.RaiserPath(), "mainForm");
        EXPECT_NE(std::string(e.what()).find("Stub service failure."), std::string::npos)
            << e.what();
        EXPECT_EQ(e.StatusCode(), 335544721);
    }
    EXPECT_FALSE(svc->Active());
    stub.failAttach(0);
    svc->Attach();
    EXPECT_TRUE(svc->Active());
    svc->Detach();
}

TEST_F(StubTest, FailedDetachStillForgetsTheHandle) {
    TpFIBCustomService svc;
    Attached(svc);
    stub.failDetach(1);
    EXPECT_THROW(svc.Detach(), EFIBInterBaseError);
    EXPECT_FALSE(svc.Active());
}

TEST_F(StubTest, DestructionDetaches) {
    {
        TpFIBBackupService svc;
        Attached(svc);
        EXPECT_EQ(stub.count("live"), 1);
    }
    EXPECT_EQ(stub.count("detach"), 1);
}

TEST_F(StubTest, LibraryNameChoosesTheBinding) {
    TpFIBCustomService svc;
    Prepare(svc);
    svc.SetLibraryName("/nonexistent/libnothing.so");
    EXPECT_THROW(svc.Attach(), rtl::EOSError);
    EXPECT_FALSE(svc.Active());
    svc.SetLibraryName(SLV_SVCSTUB_PATH);
    svc.Attach();
    svc.Detach();
}

TEST_F(StubTest, LoadingDefersActiveUntilTheEnd) {
    TpFIBCustomService svc;
    Prepare(svc);
    svc.BeginLoading();
    svc.SetActive(true);
    EXPECT_FALSE(svc.Active());
    svc.EndLoading();
    EXPECT_TRUE(svc.Active());
    svc.Detach();
}

TEST_F(StubTest, LoadingErrorPropagatesOutsideDesignMode) {
    TpFIBCustomService svc;
    Prepare(svc);
    stub.failAttach(1);
    svc.BeginLoading();
    svc.SetActive(true);
    EXPECT_THROW(svc.EndLoading(), EFIBInterBaseError);
    svc.SetDesigning(true);
    svc.BeginLoading();
    EXPECT_NO_THROW(svc.EndLoading());
    EXPECT_FALSE(svc.Active());
}

TEST_F(StubTest, PendingActiveAttachesOnFirstUse) {
    svctest::TestBackup b;
    Prepare(b);
    b.SetDatabaseName("/db/x.fdb");
    b.BeginLoading();
    b.SetActive(true);
    EXPECT_FALSE(b.Active());
    b.ServiceStart(); // still loading: the start attaches first
    EXPECT_TRUE(b.Active());
    EXPECT_EQ(stub.count("start"), 1);
    b.Detach();
}

// --- start ---------------------------------------------------------------------

TEST_F(StubTest, PlainControlServiceHasNothingToStart) {
    TpFIBControlService svc;
    Prepare(svc);
    EXPECT_EQ(ClientErrorCode([&] { svc.ServiceStart(); }), ceServiceNotAttached);
    svc.Attach();
    EXPECT_EQ(ClientErrorCode([&] { svc.ServiceStart(); }), ceStartParamsError);
    EXPECT_EQ(stub.count("start"), 0);
    EXPECT_TRUE(svc.Active());
    svc.Detach();
}

TEST_F(StubTest, StartSendsTheBlockAndClearsIt) {
    svctest::TestBackup b;
    Started(b);
    EXPECT_EQ(Hex(stub.Last("start")), Hex(Bytes({1, 0x6A, 9, 0}) + "/db/x.fdb" +
                                           Bytes({0x6C, 0, 0, 0, 0, 5, 9, 0}) + "/bk/x.fbk"));
    EXPECT_TRUE(b.StartItems().empty());
    EXPECT_EQ(stub.count("query"), 0); // no OnTextNotify: the caller reads
    b.Detach();
}

TEST_F(StubTest, StartOverSixteenBitsIsRefusedAndNothingSent) {
    svctest::TestBackup b;
    Attached(b);
    b.SetDatabaseName(std::string(40000, 'd'));
    b.BackupFile().Add(std::string(40000, 'f'));
    EXPECT_EQ(ClientErrorCode([&] { b.ServiceStart(); }), -1);
    EXPECT_EQ(stub.count("start"), 0);
    EXPECT_TRUE(b.StartItems().empty());
    EXPECT_TRUE(b.Active());
    b.Detach();
}

TEST_F(StubTest, FailedStartDetachesQuietly) {
    svctest::TestBackup b;
    Attached(b);
    b.SetDatabaseName("/db/x.fdb");
    stub.failStart(1);
    EXPECT_THROW(b.ServiceStart(), EFIBInterBaseError);
    EXPECT_FALSE(b.Active());
    EXPECT_TRUE(b.StartItems().empty());
    EXPECT_EQ(stub.count("detach"), 1);
    EXPECT_EQ(stub.count("live"), 0);
    stub.failStart(0);
    b.Attach(); // a later attach works
    b.Detach();
}

// --- line replies --------------------------------------------------------------

TEST_F(StubTest, ReadsLinesUntilTheEnd) {
    svctest::TestBackup b;
    Started(b);
    stub.Line("gbak:readied database /db/x.fdb for backup ");
    stub.Line("abcde");
    stub.End();
    EXPECT_EQ(b.ReadNextLine(), "gbak:readied database /db/x.fdb for backup ");
    EXPECT_FALSE(b.EndOfOutput());
    EXPECT_EQ(Hex(stub.Last("query")), "3E");
    EXPECT_EQ(stub.count("buffer"), 32000);
    EXPECT_EQ(b.ReadNextLine(), "abcde");
    EXPECT_FALSE(b.EndOfOutput());
    EXPECT_EQ(b.ReadNextLine(), "");
    EXPECT_TRUE(b.EndOfOutput());
    const int queries = stub.count("query");
    EXPECT_EQ(b.ReadNextLine(), "");
    EXPECT_EQ(b.ReadNextLine(), "");
    EXPECT_EQ(stub.count("query"), queries); // nothing sent after the end
    b.Detach();
}

TEST_F(StubTest, ReadBeforeAnyActionIsRefused) {
    svctest::TestBackup b;
    Attached(b);
    EXPECT_EQ(ClientErrorCode([&] { b.ReadNextLine(); }), ceQueryParamsError);
    EXPECT_EQ(stub.count("query"), 0);
    b.Detach();
}

struct BadReplyCase {
    const char* title;
    std::string reply;
    int bufferSize;
};

class BadLineReplyTest : public StubTest, public ::testing::WithParamInterface<BadReplyCase> {};

TEST_P(BadLineReplyTest, IsUnexpectedOutput) {
    const BadReplyCase& c = GetParam();
    svctest::TestBackup b;
    b.SetBufferSize(c.bufferSize);
    Started(b);
    stub.Reply(c.reply);
    try {
        b.ReadNextLine();
        FAIL() << c.title;
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), ceUnexpectedOutput) << c.title;
        EXPECT_STREQ(e.what(), "Unexpected Output buffer value");
    }
    EXPECT_TRUE(b.Active());
    EXPECT_FALSE(b.EndOfOutput());
    b.Detach();
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadLineReplyTest,
    ::testing::Values(
        BadReplyCase{"truncated", Bytes({0x3E, 5, 0}) + "abcde" + Bytes({2}), 32000},
        BadReplyCase{"wrong item", Bytes({0x43, 0, 0, 0, 0, 1}), 32000},
        BadReplyCase{"length past the buffer", Bytes({0x3E, 0xFF, 0xFF, 1}), 16},
        BadReplyCase{"length past the whole reply length", Bytes({0x3E, 0xFF, 0xFF, 1}), 32000},
        BadReplyCase{"marker cut off by the buffer", Bytes({0x3E, 5, 0}) + "abcde" + Bytes({1}), 8},
        BadReplyCase{"buffer too small for anything", Bytes({0x3E, 0, 0, 1}), 0}));

TEST_F(StubTest, EndMarkerIsConsumed) {
    // The end marker is overwritten after a line, so a later reply that
    // lacks its own marker is not completed by the old one.
    svctest::TestBackup b;
    Started(b);
    stub.Line("fghij");
    stub.Reply(Bytes({0x3E, 5, 0}) + "abcde");
    EXPECT_EQ(b.ReadNextLine(), "fghij");
    EXPECT_EQ(ClientErrorCode([&] { b.ReadNextLine(); }), ceUnexpectedOutput);
    b.Detach();
}

TEST_F(StubTest, LongLineWithLargerBuffer) {
    svctest::TestBackup b;
    b.SetBufferSize(65535);
    Started(b);
    const std::string line(40000, 'L');
    stub.Line(line);
    EXPECT_EQ(b.ReadNextLine(), line);
    EXPECT_EQ(stub.count("buffer"), 65535);
    b.Detach();
}

TEST_F(StubTest, BufferSizeOverSixteenBitsIsCappedInTheCall) {
    svctest::TestBackup b;
    b.SetBufferSize(100000);
    Started(b);
    stub.End();
    EXPECT_EQ(b.ReadNextLine(), "");
    EXPECT_EQ(stub.count("buffer"), 65535);
    b.SetBufferSize(64); // reallocates the existing buffer
    stub.Reply(Bytes({0x43, 0, 0, 0, 0}));
    EXPECT_FALSE(b.IsRunning());
    EXPECT_EQ(stub.count("buffer"), 64);
    b.Detach();
}

TEST_F(StubTest, FailedQueryDetachesQuietly) {
    svctest::TestBackup b;
    Started(b);
    stub.Line("one");
    ASSERT_EQ(stub.pushFailure(), 1);
    EXPECT_EQ(b.ReadNextLine(), "one");
    try {
        b.ReadNextLine();
        FAIL();
    } catch (const EFIBInterBaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Stub service failure."), std::string::npos);
    }
    EXPECT_FALSE(b.Active());
    EXPECT_EQ(stub.count("detach"), 1);
    EXPECT_EQ(stub.count("live"), 0);
    EXPECT_FALSE(b.EndOfOutput());
    // Reading on after the failure goes to the client library with a zero
    // handle, which refuses it.
    EXPECT_THROW(b.ReadNextLine(), EFIBInterBaseError);
}

// --- bulk reading -------------------------------------------------------------

TEST_F(StubTest, BulkReadingGivesWhatTheLineQueryWould) {
    svctest::TestBackup b;
    Started(b);
    stub.Output("gbak:one\ngbak:tw", {0x02});    // buffer full, a line cut
    stub.Output("", {0x40});                     // the wait ended, no output
    stub.Output("o\n\ngbak:th\0ree\nlast"s, {}); // the rest; an empty line
    stub.Output("", {});                         // the end
    std::vector<std::string> lines{"kept"};
    EXPECT_EQ(b.ReadAvailableLines(lines), 1u);
    EXPECT_EQ(Hex(stub.Last("query")), "3F");
    EXPECT_EQ(Hex(stub.Last("send")), "40 04 00 01 00 00 00");
    EXPECT_EQ(stub.count("buffer"), 16384);
    EXPECT_EQ(b.ReadAvailableLines(lines), 0u);
    EXPECT_FALSE(b.EndOfOutput());
    EXPECT_EQ(b.ReadAvailableLines(lines), 3u);
    EXPECT_FALSE(b.EndOfOutput());
    EXPECT_EQ(b.ReadAvailableLines(lines), 2u);
    EXPECT_TRUE(b.EndOfOutput());
    // Line ends become the blank the line query leaves; a zero byte ends a
    // line; the last line comes without one, then the empty end line.
    EXPECT_EQ(lines, (std::vector<std::string>{"kept", "gbak:one ", "gbak:two ", " ", "gbak:th",
                                               "last", ""}));
    const int queries = stub.count("query");
    EXPECT_EQ(b.ReadAvailableLines(lines), 0u);
    EXPECT_EQ(stub.count("query"), queries); // nothing sent after the end
    EXPECT_EQ(b.ReadNextLine(), "");

    // The next action starts with nothing carried over.
    b.ServiceStart();
    stub.Output("half", {0x02});
    lines.clear();
    EXPECT_EQ(b.ReadAvailableLines(lines), 0u);
    b.ServiceStart();
    stub.Output("fresh\n", {});
    stub.Output("", {});
    EXPECT_EQ(b.ReadAvailableLines(lines), 1u);
    EXPECT_EQ(b.ReadAvailableLines(lines), 1u);
    EXPECT_EQ(lines, (std::vector<std::string>{"fresh ", ""}));
    b.Detach();
}

TEST_F(StubTest, BulkReadingRefusalsAndFailures) {
    svctest::TestBackup b;
    Attached(b);
    std::vector<std::string> lines;
    EXPECT_EQ(ClientErrorCode([&] { b.ReadAvailableLines(lines); }), ceQueryParamsError);
    EXPECT_EQ(stub.count("query"), 0);
    b.SetDatabaseName("/db/x.fdb");
    b.ServiceStart();
    stub.Output("one\n", {0x02});
    ASSERT_EQ(stub.pushFailure(), 1);
    EXPECT_EQ(b.ReadAvailableLines(lines), 1u);
    try {
        b.ReadAvailableLines(lines);
        FAIL() << "a failed query raised nothing";
    } catch (const EFIBInterBaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Stub service failure."), std::string::npos);
    }
    EXPECT_FALSE(b.Active());
    EXPECT_FALSE(b.EndOfOutput());
    EXPECT_EQ(lines, std::vector<std::string>{"one "});
}

class BadOutputReplyTest : public StubTest, public ::testing::WithParamInterface<BadReplyCase> {};

TEST_P(BadOutputReplyTest, IsUnexpectedOutput) {
    const BadReplyCase& c = GetParam();
    svctest::TestBackup b;
    Started(b);
    // An earlier complete reply leaves nothing behind for a later one.
    stub.Output("abcdefgh", {0x02});
    stub.Reply(c.reply);
    std::vector<std::string> lines;
    b.ReadAvailableLines(lines);
    EXPECT_EQ(ClientErrorCode([&] { b.ReadAvailableLines(lines); }), ceUnexpectedOutput) << c.title;
    EXPECT_TRUE(lines.empty()) << c.title;
    EXPECT_TRUE(b.Active());
    EXPECT_FALSE(b.EndOfOutput());
    b.Detach();
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadOutputReplyTest,
    ::testing::Values(BadReplyCase{"no end marker", Bytes({0x3F, 3, 0}) + "abc", 0},
                      BadReplyCase{"cut inside the text", Bytes({0x3F, 9, 0}) + "abc", 0},
                      BadReplyCase{"line reply", Bytes({0x3E, 0, 0, 1}), 0},
                      BadReplyCase{"unknown mark", Bytes({0x3F, 1, 0, 'a', 0x07, 1}), 0},
                      BadReplyCase{"length past the buffer", Bytes({0x3F, 0xFF, 0xFF, 1}), 0},
                      BadReplyCase{"text filling the buffer, no room for the marker",
                                   Bytes({0x3F, 0xFD, 0x3F}) + std::string(16381, 'x') + Bytes({1}),
                                   0},
                      BadReplyCase{"item only", Bytes({0x3F}), 0}));

// --- running state -------------------------------------------------------------

struct RunningCase {
    std::string reply;
    int expected; // 1 true, 0 false, -1 unexpected output
};

class IsRunningTest : public StubTest, public ::testing::WithParamInterface<RunningCase> {};

TEST_P(IsRunningTest, ReadsTheState) {
    svctest::TestBackup b;
    Started(b);
    stub.Reply(GetParam().reply);
    if (GetParam().expected < 0) {
        EXPECT_EQ(ClientErrorCode([&] { b.IsRunning(); }), ceUnexpectedOutput);
    } else {
        EXPECT_EQ(b.IsRunning(), GetParam().expected == 1);
    }
    EXPECT_EQ(Hex(stub.Last("query")), "43");
    b.Detach();
}

INSTANTIATE_TEST_SUITE_P(Replies, IsRunningTest,
                         ::testing::Values(RunningCase{Bytes({0x43, 1, 0, 0, 0, 1}), 1},
                                           RunningCase{Bytes({0x43, 0, 0, 0, 0, 1}), 0},
                                           RunningCase{Bytes({0x43, 7, 0, 0, 0}), 0},
                                           RunningCase{Bytes({0x3E, 1, 0, 0, 0}), -1},
                                           RunningCase{Bytes({0x01}), -1}));

TEST_F(StubTest, IsRunningDoesNotReadPastTheBuffer) {
    svctest::TestBackup b;
    b.SetBufferSize(3);
    Started(b);
    stub.Reply(Bytes({0x43, 1, 0, 0, 0}));
    EXPECT_EQ(ClientErrorCode([&] { b.IsRunning(); }), ceUnexpectedOutput);
    b.Detach();
}

// --- query primitive -----------------------------------------------------------

TEST_F(StubTest, QueryPrimitive) {
    svctest::TestControl c;
    Attached(c);
    EXPECT_EQ(ClientErrorCode([&] { c.QueryService(); }), ceQueryParamsError);
    c.QueryItems() = Bytes({0x43});
    stub.Reply(Bytes({0x43, 1, 0, 0, 0, 1}));
    c.QueryService();
    EXPECT_TRUE(c.QueryItems().empty());
    int offset = 1;
    EXPECT_EQ(c.ReadBufferInteger(offset), 1);
    EXPECT_EQ(offset, 5);
    offset = 31997;
    EXPECT_EQ(ClientErrorCode([&] { c.ReadBufferInteger(offset); }), ceUnexpectedOutput);
    c.QueryItems() = Bytes({0x43});
    ASSERT_EQ(stub.pushFailure(), 1);
    EXPECT_THROW(c.QueryService(), EFIBInterBaseError);
    EXPECT_TRUE(c.QueryItems().empty());
    EXPECT_FALSE(c.Active());
}

// --- text notification ---------------------------------------------------------

TEST_F(StubTest, TextNotifyGetsEveryLineThenTheEmptyString) {
    svctest::TestBackup b;
    std::vector<std::string> seen;
    rtl::TComponent* sender = nullptr;
    b.OnTextNotify = [&](rtl::TComponent* s, const std::string& line) {
        sender = s;
        seen.push_back(line);
    };
    Prepare(b);
    stub.Line("one");
    stub.Line("two");
    stub.End();
    Started(b);
    EXPECT_EQ(sender, &b);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", ""}));
    EXPECT_TRUE(b.EndOfOutput());
    EXPECT_EQ(stub.count("pending"), 0);
    b.Detach();
}

TEST_F(StubTest, TextNotifyErrorEndsTheStart) {
    svctest::TestBackup b;
    int calls = 0;
    b.OnTextNotify = [&](rtl::TComponent*, const std::string&) {
        ++calls;
        throw rtl::Exception("stop");
    };
    stub.Line("one");
    stub.Line("two");
    stub.End();
    EXPECT_THROW(Started(b), rtl::Exception);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(b.Active());
    b.Detach();
}

TEST_F(StubTest, SecondActionStartsWithFreshOutput) {
    svctest::TestBackup b;
    Started(b);
    stub.End();
    EXPECT_EQ(b.ReadNextLine(), "");
    EXPECT_TRUE(b.EndOfOutput());
    b.ServiceStart();
    EXPECT_FALSE(b.EndOfOutput());
    stub.Line("again");
    EXPECT_EQ(b.ReadNextLine(), "again");
    b.Detach();
}

} // namespace
