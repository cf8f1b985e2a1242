// Error reporting: the client-error table and its formatting, the per-thread
// status vector, and how a failed call's texts are put together (read from a
// stand-in library whose error entries return scripted texts).
#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <thread>

#include "StubSupport.h"
#include "client/IB_Intf.h"
#include "client/fib.h"

namespace {

using fib::EFIBClientError;
using fib::EFIBError;
using fib::EFIBInterBaseError;

template <typename Raise> EFIBClientError CatchClientError(Raise raise) {
    try {
        raise();
    } catch (const EFIBClientError& e) {
        return e;
    }
    ADD_FAILURE() << "no client error was raised";
    return EFIBClientError(0, "", nullptr);
}

// --- the client-error table

TEST(ClientErrorTable, EntriesKeepTheirExactText) {
    struct Case {
        fib::ClientError Code;
        const char* Text;
    };
    const Case cases[] = {
        {fib::ceUnknownError, "Unknown error."},
        {fib::ceOperationCancelled, "Operation cancelled at user's request."},
        {fib::ceDPBConstantNotSupported, "DPB Constant (isc_dpb_%s) is unsupported."},
        {fib::ceTPBConstantUnknown, "TPB Constant (%s) is unknown."},
        {fib::ceNotInTransaction, "%s :Transaction is not active."},
        {fib::ceEmptyQuery, "Can't %s , because  query is empty"},
        {fib::ceOpenNonSelect, "Can't \"open\" a non-select statement. Use ExecQuery."},
        {fib::ceCannotPost, "Can't post. (%s) "},
        {fib::ceSQLParseError, "SQL Parse Error in :%s \r\n\r\n%s"},
        {fib::ceCannotCreateSharedResource, "Cannot create shared resource. (Windows error %d)"},
        {fib::ceWindowsAPIError, "Windows API error. (Windows error %d [$%.8x])"},
        {fib::ceArrayDimensionMissing, "Dimension %d don't exist in \"%s\" "},
        {fib::ceClientLibraryMissing, "InterBase library gds32.dll not found in the path. Please "
                                      "install InterBase to use this functionality"},
        {fib::ceServiceNotAttached, "Cannot perform operation -- service is not attached"},
        {fib::ceServiceAttached, "Cannot perform operation -- service is attached"},
        {fib::ceServerNameMissing, "Server Name Missing"},
        {fib::ceQueryParamsError, "Query Parameters missing or incorrect"},
        {fib::ceStartParamsError, "Start Parameters missing or incorrect"},
        {fib::ceUnexpectedOutput, "Unexpected Output buffer value"},
        {fib::ceSPBConstantNotSupported, "SPB Constant Not supported"},
        {fib::ceSPBConstantUnknown, "SPB Constant Unknown"},
        {fib::ceLimitedCacheNotUsable,
         "%s. Can't use limited cache. \r\nCachedUpdates must be False,\r\nSelect must have "
         "\"Order by\" clause ,\r\nAll order fields must exist in fields section\r\nSelect can't "
         "use params with prefix \"NEW_\"\r\nUpdateTransaction must be equel Transaction or "
         "AutoCommit=True "},
        {fib::ceNeedsFirebird2, "%s is an Firebird 2 function. Please upgrade to Firebird 2 to "
                                "use this functonality"},
        {fib::ceMDTSavepointNotFound, "MDT. Savepoint \"%s\" not found"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(fib::ClientErrorMessage(c.Code), c.Text) << "code " << c.Code;
    }
    EXPECT_EQ(fib::ClientErrorCount, 85);
}

TEST(ClientErrorTable, EveryCodeHasItsOwnMessage) {
    std::set<std::string> texts;
    for (int code = 0; code < fib::ClientErrorCount; ++code) {
        const std::string text = fib::ClientErrorMessage(static_cast<fib::ClientError>(code));
        EXPECT_FALSE(text.empty()) << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 85u);
    // Codes outside the table fall back to the first entry.
    EXPECT_STREQ(fib::ClientErrorMessage(static_cast<fib::ClientError>(85)), "Unknown error.");
    EXPECT_STREQ(fib::ClientErrorMessage(static_cast<fib::ClientError>(-1)), "Unknown error.");
}

// --- client errors

TEST(ClientError, ServiceErrorHasNoPathLineAndItsCodeAsSQLCode) {
    const EFIBClientError e =
        CatchClientError([] { fib::RaiseClientError(fib::ceServiceNotAttached); });
    EXPECT_EQ(e.Message(), "Cannot perform operation -- service is not attached");
    EXPECT_STREQ(e.what(), "Cannot perform operation -- service is not attached");
    EXPECT_EQ(e.SQLCode(), 65);
    EXPECT_EQ(e.ClientText(), e.Message());
    EXPECT_TRUE(e.RaiserPath().empty());
    EXPECT_TRUE(e.SQLText().empty());
    EXPECT_TRUE(e.StatusText().empty());
    EXPECT_TRUE(e.ExtraText().empty());
    EXPECT_EQ(e.Raiser(), nullptr);
    EXPECT_EQ(e.HelpContext(), 0);
}

TEST(ClientError, IsCaughtAsEveryBaseClass) {
    EXPECT_THROW(fib::RaiseClientError(fib::ceServerNameMissing), EFIBError);
    EXPECT_THROW(fib::RaiseClientError(fib::ceServerNameMissing), fib::EDatabaseError);
    EXPECT_THROW(fib::RaiseClientError(fib::ceServerNameMissing), rtl::Exception);
    EXPECT_THROW(fib::RaiseClientErrorFmt("x"), EFIBClientError);
}

TEST(ClientError, FormattedMessagesKeepTheirSpacing) {
    struct Case {
        fib::ClientError Code;
        std::initializer_list<fib::FmtArg> Args;
        std::string Message;
    };
    const Case cases[] = {
        {fib::ceEmptyQuery, {std::string("open")}, "Can't open , because  query is empty"},
        {fib::ceCannotPost, {std::string("q1")}, "Can't post. (q1) "},
        {fib::ceArrayDimensionMissing,
         {3LL, std::string("ARR")},
         "Dimension 3 don't exist in \"ARR\" "},
        {fib::ceDPBConstantUnknown,
         {std::string("user_name ")},
         "DPB Constant (user_name ) is unknown."},
        {fib::ceCannotCreateSharedResource,
         {5LL},
         "Cannot create shared resource. (Windows error 5)"},
        {fib::ceWindowsAPIError, {5LL, 255LL}, "Windows API error. (Windows error 5 [$000000FF])"},
        {fib::ceWindowsAPIError, {-1LL, -1LL}, "Windows API error. (Windows error -1 [$FFFFFFFF])"},
        {fib::ceWindowsAPIError,
         {1LL, 0x1234ABCDLL},
         "Windows API error. (Windows error 1 [$1234ABCD])"},
        {fib::ceSQLParseError,
         {std::string("Q"), std::string("detail")},
         "SQL Parse Error in :Q \r\n\r\ndetail"},
        // Arguments beyond the placeholders are ignored.
        {fib::ceServerNameMissing, {std::string("extra"), 7LL}, "Server Name Missing"},
        {fib::ceFieldNotFound,
         {std::string("NAME"), std::string("more")},
         "Field \"NAME\" not found."},
    };
    for (const Case& c : cases) {
        const EFIBClientError e = CatchClientError([&] { fib::RaiseClientError(c.Code, c.Args); });
        EXPECT_EQ(e.Message(), c.Message) << "code " << c.Code;
        EXPECT_EQ(e.SQLCode(), c.Code);
    }
}

TEST(ClientError, FreeFormatHasSQLCodeMinusOne) {
    const EFIBClientError e = CatchClientError([] {
        fib::RaiseClientErrorFmt("Bad %s (%d)", {std::string("x"), 42LL});
    });
    EXPECT_EQ(e.Message(), "Bad x (42)");
    EXPECT_EQ(e.SQLCode(), -1);
}

TEST(FormatMessage, PlaceholdersWithoutArgumentsComeOutEmptyAndPercentStays) {
    EXPECT_EQ(fib::FormatMessage("a %s b %d c", {}), "a  b  c");
    EXPECT_EQ(fib::FormatMessage("100%% done", {}), "100% done");
    EXPECT_EQ(fib::FormatMessage("50% off", {}), "50% off");
    EXPECT_EQ(fib::FormatMessage("trailing %", {}), "trailing %");
    EXPECT_EQ(fib::FormatMessage("%d", {std::string("12")}), "12");
    EXPECT_EQ(fib::FormatMessage("%s", {12LL}), "12");
    EXPECT_EQ(fib::FormatMessage("%.8x", {0LL}), "00000000");
    EXPECT_EQ(fib::FormatMessage("%d", {std::numeric_limits<long long>::min()}),
              "-9223372036854775808");
}

TEST(ClientError, StatusCodeIsEntryOneOfTheThreadsVector) {
    ISC_STATUS* vector = fib::ThreadStatusVector();
    vector[0] = 1;
    vector[1] = 335544472;
    vector[2] = 0;
    const EFIBClientError e =
        CatchClientError([] { fib::RaiseClientError(fib::ceServiceAttached); });
    EXPECT_EQ(e.StatusCode(), 335544472);

    // Another thread has its own vector, zero from the start.
    int32_t otherCode = -1;
    const ISC_STATUS* otherVector = nullptr;
    std::thread other([&] {
        otherVector = fib::ThreadStatusVector();
        otherCode =
            CatchClientError([] { fib::RaiseClientError(fib::ceServiceAttached); }).StatusCode();
    });
    other.join();
    EXPECT_EQ(otherCode, 0);
    EXPECT_NE(otherVector, vector);
    vector[1] = 0;
}

// --- component paths

TEST(ComponentPath, JoinsNamedOwnersWithDots) {
    rtl::TComponent application;
    auto* form = new rtl::TComponent(&application);
    form->SetName("mainForm");
    auto* service = new rtl::TComponent(form);
    service->SetName("pFIBBackupService1");
    auto* unnamed = new rtl::TComponent(form);
    auto* inner = new rtl::TComponent(unnamed);
    inner->SetName("btn");

    EXPECT_EQ(fib::ComponentPath(service), "mainForm.pFIBBackupService1");
    EXPECT_EQ(fib::ComponentPath(unnamed), "mainForm");
    EXPECT_EQ(fib::ComponentPath(inner), "mainForm.btn");
    EXPECT_EQ(fib::ComponentPath(&application), "");
    EXPECT_EQ(fib::ComponentPath(nullptr), "");
}

// --- status errors put together from the library's texts

class StatusErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        Path = stubtest::StubCopy("fbstub_full", "scripted.so");
        Library = fib::AcquireClientLibrary(Path);
    }

    EFIBInterBaseError Make(long sqlCode, const std::string& sqlText,
                            std::initializer_list<const char*> lines,
                            const rtl::TComponent* raiser = nullptr) {
        stubtest::Script(Path, sqlCode, sqlText, lines);
        return fib::MakeStatusError(*Library, raiser);
    }

    std::string Path;
    fib::IIBClientLibraryPtr Library;
};

TEST_F(StatusErrorTest, TextsArePutTogetherByTheirRules) {
    struct Case {
        const char* Name;
        std::string SQLText;
        std::initializer_list<const char*> Lines;
        std::string ExpectedSQL;
        std::string ExpectedStatus;
    };
    const Case cases[] = {
        {"lower-case first letters are raised, full stops and line breaks added",
         "error in the statement",
         {"connection lost", "try again"},
         "Error in the statement.\r\n",
         "Connection lost.\r\nTry again.\r\n"},
        {"an SQL text ending in a full stop runs straight into the status lines",
         "Already complete.",
         {"first"},
         "Already complete.",
         "First.\r\n"},
        {"a status line ending in a full stop gets no second one",
         "sql",
         {"ends here.", "and here"},
         "Sql.\r\n",
         "Ends here.\r\nAnd here.\r\n"},
        {"backslash-n pairs vanish, real line feeds stay",
         "one\\ntwo\nthree\\n",
         {},
         "Onetwo\nthree.\r\n",
         ""},
        {"first characters outside a to z are left alone",
         "3 rows",
         {"Upper start", "\xC3\xA9t\xC3\xA9", "[bracket"},
         "3 rows.\r\n",
         "Upper start.\r\n\xC3\xA9t\xC3\xA9.\r\n[bracket.\r\n"},
        {"nothing from the library gives empty texts", "", {}, "", ""},
        {"a backslash-n only text becomes empty", "\\n", {"x"}, "", "X.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const EFIBInterBaseError e = Make(-902, c.SQLText, c.Lines);
        EXPECT_EQ(e.SQLText(), c.ExpectedSQL);
        EXPECT_EQ(e.StatusText(), c.ExpectedStatus);
        EXPECT_EQ(e.Message(), c.ExpectedSQL + c.ExpectedStatus);
        EXPECT_EQ(e.SQLCode(), -902);
        EXPECT_TRUE(e.ClientText().empty());
        EXPECT_TRUE(e.ExtraText().empty());
    }
}

TEST_F(StatusErrorTest, BufferLengthsGivenToTheLibrary) {
    Make(-104, "x", {"y"});
    using LengthFn = long (*)();
    auto sqlLength =
        reinterpret_cast<LengthFn>(stubtest::StubSymbol(Path, "stub_last_sql_text_length"));
    auto lineLength =
        reinterpret_cast<LengthFn>(stubtest::StubSymbol(Path, "stub_last_interpret_length"));
    ASSERT_NE(sqlLength, nullptr);
    ASSERT_NE(lineLength, nullptr);
    EXPECT_EQ(sqlLength(), 1024);
    EXPECT_EQ(lineLength(), 20480);
}

TEST_F(StatusErrorTest, RaiserPathLeadsTheMessage) {
    rtl::TComponent application;
    auto* form = new rtl::TComponent(&application);
    form->SetName("mainForm");
    auto* named = new rtl::TComponent(form);
    named->SetName("pFIBBackupService1");
    auto* unnamed = new rtl::TComponent(form);
    rtl::TComponent single;
    single.SetName("a");

    const EFIBInterBaseError e1 = Make(-902, "Failed", {"line"}, named);
    EXPECT_EQ(e1.Message(), "mainForm.pFIBBackupService1:\r\nFailed.\r\nLine.\r\n");
    EXPECT_EQ(e1.RaiserPath(), "mainForm.pFIBBackupService1");
    EXPECT_EQ(e1.Raiser(), named);

    const EFIBInterBaseError e2 = Make(-902, "Failed", {"line"}, unnamed);
    EXPECT_EQ(e2.Message(), "mainForm:\r\nFailed.\r\nLine.\r\n");

    // A one-character path is kept but not shown.
    const EFIBInterBaseError e3 = Make(-902, "Failed", {"line"}, &single);
    EXPECT_EQ(e3.RaiserPath(), "a");
    EXPECT_EQ(e3.Message(), "Failed.\r\nLine.\r\n");
}

TEST_F(StatusErrorTest, RaiseStatusErrorRaisesTheInterBaseError) {
    stubtest::Script(Path, -551, "no permission", {"for table T"});
    ISC_STATUS* vector = fib::ThreadStatusVector();
    vector[0] = 1;
    vector[1] = 335544352;
    vector[2] = 0;
    try {
        fib::RaiseStatusError(*Library, nullptr);
        FAIL() << "nothing raised";
    } catch (const EFIBInterBaseError& e) {
        EXPECT_EQ(e.Message(), "No permission.\r\nFor table T.\r\n");
        EXPECT_EQ(e.SQLCode(), -551);
        EXPECT_EQ(e.StatusCode(), 335544352);
    }
    vector[1] = 0;
}

TEST_F(StatusErrorTest, OldLibraryReadsTheLinesThroughIscInterprete) {
    const std::string oldPath = stubtest::StubCopy("fbstub_no_fb_interpret", "scripted_old.so");
    fib::IIBClientLibraryPtr old = fib::AcquireClientLibrary(oldPath);
    stubtest::Script(oldPath, -902, "gone", {"one", "two"});
    const EFIBInterBaseError e = fib::MakeStatusError(*old, nullptr);
    EXPECT_EQ(e.Message(), "Gone.\r\nOld one.\r\nOld two.\r\n");
}

TEST(StatusErrorForm, ExtraTextFollowsTheStatusText) {
    rtl::TComponent owner;
    owner.SetName("db");
    const EFIBInterBaseError e(-1, &owner, "extra", "Sql.\r\n", "Status.\r\n");
    EXPECT_EQ(e.Message(), "db:\r\nSql.\r\nStatus.\r\nextra");
    EXPECT_EQ(e.ExtraText(), "extra");
}

} // namespace
