// The platform's module loader: codes and texts of its failures.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/ModuleLoader.h"
#include "testsupport/Files.h"

namespace {

TEST(ModuleLoader, LoadsLooksUpAndReleases) {
    platform::ModuleHandle module = platform::LoadModule(SLV_LOADABLE_MODULE);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(platform::ModuleSymbol(module, "slv_loadable_module_entry"), nullptr);
    EXPECT_EQ(platform::ModuleSymbol(module, "no_such_entry"), nullptr);
    EXPECT_EQ(platform::LastModuleErrorCode(), platform::ProcNotFoundCode);
    EXPECT_EQ(platform::LastModuleErrorText(), platform::SystemErrorText(ENOSYS));
    EXPECT_TRUE(platform::FreeModule(module));
    EXPECT_FALSE(platform::FreeModule(nullptr));
}

TEST(ModuleLoader, FailedLoadsCarryAnErrnoLikeCodeAndTheLoadersText) {
    struct Case {
        std::string Path;
        int Code;
        std::string TextPart;
    };
    const slvtest::TempDir folder;
    const std::string text = folder / "plain.txt";
    slvtest::WriteFile(text, "plain text");
    const Case cases[] = {
        {folder / "missing.so", ENOENT, "No such file or directory"},
        {text, ENOEXEC, text},
        {folder.Path(), EISDIR, "Is a directory"},
        {"", ENOENT, "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(platform::LoadModule(c.Path), nullptr);
        EXPECT_EQ(platform::LastModuleErrorCode(), c.Code);
        EXPECT_NE(platform::LastModuleErrorText().find(c.TextPart), std::string::npos)
            << platform::LastModuleErrorText();
    }
}

TEST(ModuleLoader, SystemTextOfACode) {
    EXPECT_EQ(platform::SystemErrorText(ENOENT), "No such file or directory");
    EXPECT_FALSE(platform::SystemErrorText(ENOSYS).empty());
}

} // namespace
