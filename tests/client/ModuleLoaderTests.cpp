// The platform's module loader: codes and texts of its failures.
#include <gtest/gtest.h>

#include <cerrno>

#include "StubSupport.h"
#include "platform/ModuleLoader.h"

namespace {

TEST(ModuleLoader, LoadsLooksUpAndReleases) {
    const std::string path = stubtest::StubCopy("fbstub_full", "module_loader.so");
    platform::ModuleHandle module = platform::LoadModule(path);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(platform::ModuleSymbol(module, "isc_sqlcode"), nullptr);
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
    const std::string text = stubtest::ScratchDir() + "/plain.txt";
    FILE* file = fopen(text.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs("plain text", file);
    fclose(file);
    const Case cases[] = {
        {stubtest::ScratchDir() + "/missing.so", ENOENT, "No such file or directory"},
        {text, ENOEXEC, text},
        {stubtest::ScratchDir(), EISDIR, "Is a directory"},
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
