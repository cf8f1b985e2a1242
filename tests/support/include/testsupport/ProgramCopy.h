// A copy of a program under a name no other test uses, so that a test finds
// and ends only its own processes.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Processes.h"
#include "testsupport/Files.h"

namespace slvtest {

class ProgramCopyTest : public ::testing::Test {
protected:
    // `original`: the program file to copy.
    explicit ProgramCopyTest(std::string original) : FOriginal(std::move(original)) {}

    void SetUp() override {
        static int counter = 0;
        FName = "SlvTest" + std::to_string(::getpid()) + "n" + std::to_string(++counter) + ".exe";
        FProgram = FDir / FName;
        std::filesystem::copy_file(FOriginal, FProgram);
        ::chmod(FProgram.c_str(), 0755);
    }

    // The ids of the running processes whose program file has that name.
    std::vector<std::uint32_t> PidsNamed(const std::string& name) {
        std::vector<platform::ProcessEntry> entries;
        EXPECT_TRUE(platform::ListProcesses(entries));
        std::vector<std::uint32_t> pids;
        for (const auto& e : entries) {
            if (e.ExeFile == name)
                pids.push_back(e.ProcessId);
        }
        return pids;
    }

    TempDir FDir;
    std::string FName;    // the copy's file name
    std::string FProgram; // its path

private:
    std::string FOriginal;
};

} // namespace slvtest
