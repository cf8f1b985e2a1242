// The Windows implementations of the platform layer, under Wine with the
// Korean locale (ANSI code page 949): private-profile files as the suite's
// ANSI programs read them, files and folders, finding and ending programs,
// module loading, and the trace channel between two processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "WinTestUtil.h"
#include "app/FileList.h"
#include "app/ProcessOps.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "client/FIBSQLMonitor.h"
#include "client/IB_Intf.h"
#include "client/fib.h"
#include "platform/Files.h"
#include "platform/ModuleLoader.h"
#include "platform/PrivateProfile.h"
#include "platform/Processes.h"
#include "platform/win32/Text.h"
#include "rtl/Rtl.h"
#include "services/IB_Services.h"

namespace {

using wintest::ReadBytes;
using wintest::ToCodePage;
using wintest::WriteBytes;

class Scratch : public ::testing::Test {
protected:
    void SetUp() override { Folder = wintest::MakeScratchFolder("slv-platform"); }
    void TearDown() override {
        app::SetToolFolderOverride("");
        SetCurrentDirectoryW(L"C:\\");
        wintest::RemoveTree(Folder);
    }
    std::string In(const std::string& name) const { return Folder + "\\" + name; }
    std::string Folder;
};

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

// --- Environment.ini ---------------------------------------------------------

using ProfileTest = Scratch;

TEST_F(ProfileTest, KoreanValuesRoundTripAndTheFileStaysInTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 949u) << "the tests run as on a Korean Windows";
    const std::string file = In("Environment.ini");
    const std::string database = "D:\\자료\\솔바네.fdb";
    ASSERT_TRUE(platform::WriteProfileString("SYSTEM", "DBPathDB", database, file));
    ASSERT_TRUE(platform::WriteProfileString("SYSSETUP", "DBBackPOS", "D:\\백업\\", file));

    EXPECT_EQ(platform::ReadProfileString("system", "dbpathdb", "", 255, file), database);
    EXPECT_EQ(platform::ReadProfileString("SYSSETUP", "DBBackPOS", "", 255, file), "D:\\백업\\");
    EXPECT_EQ(platform::ReadProfileString("SYSTEM", "Missing", "dflt", 255, file), "dflt");

    // What the suite's ANSI programs read: CP949 bytes, CRLF lines.
    const std::string bytes = ReadBytes(file);
    EXPECT_TRUE(Contains(bytes, "DBPathDB=" + ToCodePage(database, 949) + "\r\n")) << bytes;
    EXPECT_FALSE(Contains(bytes, "솔바네")) << "UTF-8 bytes in the file";
}

TEST_F(ProfileTest, AFileOfTheSuitesAnsiProgramsIsReadAndKeptAsItIs) {
    app::SetToolFolderOverride(Folder + "\\");
    const std::string original =
        "; written by SLVServer\r\n[SYSTEM]\r\nDBSvrIP =  192.168.0.7  \r\n"
        "DBPathDB=" +
        ToCodePage("E:\\데이터\\SOLVANE.FDB", 949) +
        "\r\nSvrIP=Null\r\n[SYSSETUP]\r\nDBBackPOS=" + ToCodePage("E:\\백업\\", 949) + "\r\n";
    WriteBytes(In("Environment.ini"), original);

    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP"), "192.168.0.7");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"),
              "E:\\데이터\\SOLVANE.FDB");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "SvrIP"), "");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), "E:\\백업\\");

    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "DBSvrIP", "127.0.0.1"));
    const std::string bytes = ReadBytes(In("Environment.ini"));
    EXPECT_TRUE(Contains(bytes, "; written by SLVServer\r\n")) << bytes;
    EXPECT_TRUE(Contains(bytes, "DBSvrIP=127.0.0.1\r\n")) << bytes;
    EXPECT_TRUE(Contains(bytes, ToCodePage("E:\\데이터\\SOLVANE.FDB", 949))) << bytes;

    // What the file cannot hold is refused, and the file stays as it was.
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", "DBPathDB", "a\r\nb=c"));
    EXPECT_EQ(ReadBytes(In("Environment.ini")), bytes);

    // At most 254 bytes of a value come back.
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "Long", std::string(300, 'x')));
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "Long"), std::string(254, 'x'));
}

// --- files and the backup list -----------------------------------------------

using FilesTest = Scratch;

TEST_F(FilesTest, TheListShowsPlainFilesOnlyAndTheFolderBecomesCurrent) {
    for (const char* name : {"b.FBK", "a.fdb", "C.fbk", "y.fbk", "한글.fbk", "notes.txt"}) {
        WriteBytes(In(name), "x");
    }
    SetFileAttributesW(platform::win32::Widen(In("y.fbk")).c_str(), FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryW(platform::win32::Widen(In("x.fbk")).c_str(), nullptr);

    app::TFileListLogic list;
    for (const std::string& folder : {Folder, Folder + "\\", Folder + "\\.\\"}) {
        list.ApplyFilePath(folder);
        EXPECT_EQ(list.Items(), (std::vector<std::string>{"a.fdb", "b.FBK", "C.fbk", "한글.fbk"}))
            << folder;
        EXPECT_EQ(list.Directory(), Folder);
        EXPECT_EQ(platform::CurrentFolder(), Folder);
    }
    EXPECT_THROW(list.ApplyFilePath(In("없는 폴더")), rtl::Exception);
    EXPECT_EQ(list.Directory(), Folder);

    // The file list's bare names are found in the current folder.
    EXPECT_TRUE(platform::FileExists("한글.fbk"));
    EXPECT_FALSE(platform::FileExists("x.fbk"));
}

TEST_F(FilesTest, RenameNeverReplacesAndDeletionClearsTheReadOnlyAttribute) {
    WriteBytes(In("SOLVANE.FDB"), "database");
    WriteBytes(In("SOLVANE~.fdb"), "older aside copy");
    EXPECT_FALSE(platform::RenameFile(In("SOLVANE.FDB"), In("solvane~.FDB")));
    EXPECT_EQ(ReadBytes(In("SOLVANE~.fdb")), "older aside copy");
    ASSERT_TRUE(platform::RenameFile(In("SOLVANE.FDB"), In("솔바네.fdb")));
    EXPECT_EQ(ReadBytes(In("솔바네.fdb")), "database");

    SetFileAttributesW(platform::win32::Widen(In("솔바네.fdb")).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(platform::IsReadOnlyFile(In("솔바네.fdb")));
    EXPECT_TRUE(app::RKSys->FileUtils->DeleteFileIfExists(In("솔바네.fdb")));
    EXPECT_FALSE(platform::FileExists(In("솔바네.fdb")));
    EXPECT_FALSE(app::RKSys->FileUtils->DeleteFileIfExists(In("솔바네.fdb")));
    CreateDirectoryW(platform::win32::Widen(In("folder.fdb")).c_str(), nullptr);
    EXPECT_FALSE(app::RKSys->FileUtils->DeleteFileIfExists(In("folder.fdb")));
    EXPECT_TRUE(platform::DirectoryExists(In("folder.fdb")));
}

// --- processes ------------------------------------------------------------------

using ProcessTest = Scratch;

TEST_F(ProcessTest, TwoInstancesOfAStandInAreFoundAndBothEnded) {
    const std::string program = In("Solvane.exe");
    ASSERT_TRUE(wintest::CopyFileTo(wintest::WinPath(STANDIN_DIR "/Solvane.exe"), program));
    wintest::TChild first(program, {});
    wintest::TChild second(program, {});
    ASSERT_TRUE(first.Started() && second.Started());
    ASSERT_TRUE(wintest::WaitUntil([] { return app::IsProgramRunning("solvane.EXE"); }, 10000));

    std::vector<platform::ProcessEntry> entries;
    ASSERT_TRUE(platform::ListProcesses(entries));
    int found = 0;
    for (const auto& entry : entries) {
        if (entry.ProcessId == first.Id() || entry.ProcessId == second.Id()) {
            EXPECT_EQ(entry.ExeFile, "Solvane.exe");
            ++found;
        }
    }
    EXPECT_EQ(found, 2);

    // Only the file-name part counts when looking; in full when ending.
    EXPECT_TRUE(app::IsProgramRunning("C:\\Other\\Solvane.exe"));
    EXPECT_FALSE(app::TerminateProgram("C:\\Other\\Solvane.exe"));
    EXPECT_TRUE(first.Running() && second.Running());

    EXPECT_TRUE(app::TerminateProgram("Solvane.exe"));
    EXPECT_EQ(first.Wait(10000), 0);
    EXPECT_EQ(second.Wait(10000), 0);
    EXPECT_FALSE(app::IsProgramRunning("Solvane.exe"));

    // The shell's "open" starts it again.
    ASSERT_TRUE(app::ShellOpen(program));
    EXPECT_TRUE(wintest::WaitUntil([] { return app::IsProgramRunning("Solvane.exe"); }, 10000));
    EXPECT_TRUE(app::TerminateProgram("Solvane.exe"));
    EXPECT_FALSE(app::ShellOpen(In("NoSuchProgram.exe")));

    EXPECT_EQ(rtl::ExtractFileName(platform::ExecutableFile()), "windows_platform_tests.exe");
    EXPECT_EQ(platform::ExecutableFolder().back(), '\\');
}

// --- module loading ---------------------------------------------------------------

TEST(ModuleLoaderTest, ALoadFailureCarriesTheSystemsCodeAndText) {
    EXPECT_EQ(platform::LoadModule("slv-no-such-client.dll"), nullptr);
    EXPECT_EQ(platform::LastModuleErrorCode(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(platform::LastModuleErrorText().empty());
    try {
        fib::AcquireClientLibrary("slv-no-such-client.dll");
        FAIL() << "no error";
    } catch (const rtl::EOSError& error) {
        EXPECT_EQ(error.ErrorCode(), ERROR_MOD_NOT_FOUND);
        EXPECT_EQ(error.Message().rfind("System Error.  Code: 126.\r\n", 0), 0u) << error.Message();
    }

    // A library without the client's entry points: the missing-procedure code.
    try {
        fib::AcquireClientLibrary("kernel32.dll");
        FAIL() << "no error";
    } catch (const rtl::EOSError& error) {
        EXPECT_EQ(error.ErrorCode(), ERROR_PROC_NOT_FOUND);
    }
    EXPECT_TRUE(fib::RegisteredClientLibraries().empty());
    EXPECT_EQ(fib::DefaultLibraryName, "gds32.dll");
}

// --- texts at the client library's edge -------------------------------------------

// The backup component with its start block opened up.
class TBackupBlock : public fib::TpFIBBackupService {
public:
    using TpFIBBackupService::BuildStartItems;
    using TpFIBBackupService::StartItems;
};

TEST(ClientEdgeTest, FileNamesGoInTheAnsiCodePageAndComeBackAsUtf8) {
    TBackupBlock backup;
    backup.SetDatabaseName("D:\\자료\\솔바네.fdb");
    backup.BackupFile().Add("D:\\백업\\SLV_Backup_240619_2217.fbk");
    backup.BuildStartItems();
    const std::string block = backup.StartItems();
    EXPECT_TRUE(Contains(block, ToCodePage("D:\\자료\\솔바네.fdb", 949)));
    EXPECT_TRUE(Contains(block, ToCodePage("D:\\백업\\SLV_Backup_240619_2217.fbk", 949)));
    EXPECT_FALSE(Contains(block, "솔바네"));

    // A name the code page cannot hold is refused, not sent changed.
    backup.SetDatabaseName("D:\\자료\\\xF0\x9F\x98\x80.fdb");
    try {
        backup.BuildStartItems();
        FAIL() << "no error";
    } catch (const fib::EFIBClientError& error) {
        EXPECT_TRUE(Contains(error.what(), "code page cannot hold")) << error.what();
    }

    // What the library hands back: its code page's text, or UTF-8 as it is.
    const std::string line = "gbak:opened file D:\\백업\\SLV_Backup_240619_2217.fbk";
    EXPECT_EQ(platform::win32::FromSystemText(ToCodePage(line, 949)), line);
    EXPECT_EQ(platform::win32::FromSystemText(line), line);
}

// --- the trace channel -------------------------------------------------------------

TEST(TraceChannelTest, AMonitorInAnotherProcessHearsTheServiceEvents) {
    // A prefix of this run's own, so that no other process's channel is met.
    const std::string prefix = "slvtest." + std::to_string(GetCurrentProcessId()) + ".";
    ASSERT_EQ(_putenv_s("SLV_TRACE_PREFIX", prefix.c_str()), 0);
    const std::string folder = wintest::MakeScratchFolder("slv-trace");
    const std::string output = folder + "\\fbtracemon.txt";
    {
        wintest::TChild monitor(wintest::WinPath(FBTRACEMON_PATH),
                                {"--prefix", prefix, "--count", "2", "--timeout", "60"}, output);
        ASSERT_TRUE(monitor.Started());
        fib::TTraceChannel channel(prefix);
        ASSERT_TRUE(wintest::WaitUntil([&] { return channel.MonitorCount() > 0; }, 20000))
            << ReadBytes(output);

        rtl::TComponent probe(nullptr);
        probe.SetName("probe");
        fib::TFIBSQLMonitorHook* hook = fib::MonitorHook();
        ASSERT_NE(hook, nullptr);
        hook->TraceServiceAttach(&probe);
        hook->TraceServiceDetach(&probe);
        EXPECT_EQ(monitor.Wait(60000), 0) << ReadBytes(output);
    }
    const std::string heard = ReadBytes(output);
    EXPECT_TRUE(Contains(heard, "[Application: windows_platform_tests.exe]")) << heard;
    EXPECT_TRUE(Contains(heard, "probe: [Attach]")) << heard;
    EXPECT_TRUE(Contains(heard, "probe: [Detach]")) << heard;
    wintest::RemoveTree(folder);
}

} // namespace
