// The Windows implementations of the platform layer, under Wine with the
// Korean locale (ANSI code page 949): private-profile files as the suite's
// ANSI programs read them, files and folders, finding and ending programs,
// module loading, and the trace channel between two processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
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
#include "platform/Host.h"
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

TEST_F(FilesTest, AProbeTellsWhatStandsThereAndNeverTakesTheUnknownForMissing) {
    using platform::TPathKind;
    WriteBytes(In("원본.fdb"), "database");
    CreateDirectoryW(platform::win32::Widen(In("폴더")).c_str(), nullptr);
    // Wine 8 answers a request for a link with success but makes none.
    const bool linked = CreateSymbolicLinkW(platform::win32::Widen(In("link.fdb")).c_str(),
                                            platform::win32::Widen(In("원본.fdb")).c_str(), 0) &&
                        GetFileAttributesW(platform::win32::Widen(In("link.fdb")).c_str()) !=
                            INVALID_FILE_ATTRIBUTES;
    const struct {
        std::string Path;
        TPathKind Kind;
    } rows[] = {
        {In("원본.fdb"), TPathKind::File},
        {In("폴더"), TPathKind::Folder},
        {In("폴더") + "\\", TPathKind::Folder},
        {In("없는.fdb"), TPathKind::Missing},
        {In("없는 폴더\\x.fdb"), TPathKind::Missing},
        {"", TPathKind::Missing},
        // Characters no file name may hold: the system refuses to say.
        {In("a<b>.fdb"), TPathKind::Unknown},
    };
    for (const auto& row : rows) {
        const platform::TPathProbe probe = platform::ProbePath(row.Path);
        EXPECT_EQ(probe.Kind, row.Kind) << row.Path;
        if (row.Kind == TPathKind::Missing) {
            EXPECT_EQ(probe.Error, ENOENT) << row.Path;
        }
        if (row.Kind == TPathKind::Missing || row.Kind == TPathKind::Unknown) {
            EXPECT_FALSE(probe.Reason.empty()) << row.Path;
        }
    }
    // A link is never followed.
    if (linked) {
        EXPECT_EQ(platform::ProbePath(In("link.fdb")).Kind, TPathKind::Other);
    }

    const struct {
        const char* Path;
        const char* Folder;
    } folders[] = {
        {"D:\\자료\\SOLVANE.FDB", "D:\\자료"},
        {"D:\\SOLVANE.FDB", "D:\\"},
        {"D:/자료/SOLVANE.FDB", "D:/자료"},
        {"\\\\server\\share\\a.fdb", "\\\\server\\share"},
        {"\\a.fdb", "\\"},
        {"a.fdb", "."},
        {"D:a.fdb", "D:"},
    };
    for (const auto& row : folders) {
        EXPECT_EQ(platform::FolderOf(row.Path), row.Folder) << row.Path;
    }
}

TEST_F(FilesTest, AReplacingRenameTakesTheNameInOneStepButNeverAFolder) {
    WriteBytes(In("backup.fbk.7-0.part"), "new backup");
    WriteBytes(In("backup.fbk"), "old backup");
    ASSERT_TRUE(platform::ReplaceFileByRename(In("backup.fbk.7-0.part"), In("backup.fbk")));
    EXPECT_EQ(ReadBytes(In("backup.fbk")), "new backup");
    EXPECT_FALSE(platform::FileExists(In("backup.fbk.7-0.part")));

    WriteBytes(In("work.part"), "restored");
    CreateDirectoryW(platform::win32::Widen(In("target.fdb")).c_str(), nullptr);
    EXPECT_FALSE(platform::ReplaceFileByRename(In("work.part"), In("target.fdb")));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(ReadBytes(In("work.part")), "restored");

    // The plain rename refuses an existing name with EEXIST and the
    // system's own text for it; a missing file is ENOENT.
    WriteBytes(In("aside~.fdb"), "aside");
    EXPECT_FALSE(platform::RenameFile(In("work.part"), In("aside~.fdb")));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(platform::ErrorText(errno), platform::win32::ErrorText(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(platform::RemoveFile(In("없는.fdb")));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(platform::ErrorText(ENOSPC).empty());
}

TEST_F(FilesTest, AFileHeldOpenIsSeenAndAHardLinkIsTheSameFile) {
    WriteBytes(In("솔바네.fdb"), "database");
    WriteBytes(In("other.fdb"), "database");
    EXPECT_TRUE(platform::ProcessesHoldingFile(In("솔바네.fdb")).empty());
    // Held as a server holds its database: shared for reading and writing.
    const HANDLE held =
        CreateFileW(platform::win32::Widen(In("솔바네.fdb")).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::ProcessesHoldingFile(In("솔바네.fdb")), std::vector<std::uint32_t>{0});
    CloseHandle(held);
    EXPECT_TRUE(platform::ProcessesHoldingFile(In("솔바네.fdb")).empty());
    EXPECT_TRUE(platform::ProcessesHoldingFile(In("없는.fdb")).empty());

    ASSERT_TRUE(CreateHardLinkW(platform::win32::Widen(In("link.fdb")).c_str(),
                                platform::win32::Widen(In("솔바네.fdb")).c_str(), nullptr));
    EXPECT_TRUE(platform::SameFile(In("link.fdb"), In("솔바네.fdb")));
    EXPECT_FALSE(platform::SameFile(In("other.fdb"), In("솔바네.fdb")));
    EXPECT_FALSE(platform::SameFile(In("없는.fdb"), In("없는.fdb")));
}

TEST_F(FilesTest, WhereTheToolMayChangeFilesAndWriteItsSettings) {
    std::string reason;
    EXPECT_TRUE(platform::CanChangeFolder(Folder, reason)) << reason;
    EXPECT_TRUE(platform::CanChangeFolder(Folder + "\\", reason)) << reason;
    // The trial leaves nothing behind.
    std::vector<std::string> names;
    ASSERT_TRUE(platform::ListPlainFiles(Folder, names));
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW(platform::win32::Widen(In("*.tmp")).c_str(), &entry);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
    }
    EXPECT_FALSE(platform::CanChangeFolder(In("없는 폴더"), reason));
    EXPECT_FALSE(reason.empty());

    const std::string ini = In("Environment.ini");
    EXPECT_TRUE(platform::CanWriteProfile(ini, reason)) << reason;
    EXPECT_FALSE(platform::FileExists(ini)) << "asking made the file";
    WriteBytes(ini, "[SYSTEM]\r\n");
    EXPECT_TRUE(platform::CanWriteProfile(ini, reason)) << reason;
    SetFileAttributesW(platform::win32::Widen(ini).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(platform::CanWriteProfile(ini, reason));
    EXPECT_EQ(reason, "read-only file");
    SetFileAttributesW(platform::win32::Widen(ini).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(platform::CanWriteProfile(Folder, reason));
    EXPECT_FALSE(platform::CanWriteProfile(In("없는 폴더\\Environment.ini"), reason));
    EXPECT_FALSE(reason.empty());
}

// --- this computer -----------------------------------------------------------------

TEST(HostTest, TheLoopbackTheComputersNamesAndItsAddressesNameThisComputer) {
    wchar_t own[256] = {};
    DWORD size = 256;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsHostname, own, &size));
    const std::string name = platform::win32::Narrow(own);
    const struct {
        std::string Host;
        bool Local;
    } rows[] = {
        {"localhost", true},
        {"LocalHost", true},
        {"127.0.0.1", true},
        {"127.8.9.10", true},
        {"::1", true},
        {name, true},
        {rtl::UpperCaseAscii(name), true},
        {"192.0.2.1", false},
        {"2001:db8::1", false},
        {"db.example.invalid", false},
        {"", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::NamesThisComputer(row.Host), row.Local) << row.Host;
    }
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

    // Both may be ended, and they run until they are.
    EXPECT_TRUE(app::ProgramsBeyondReach("Solvane.exe").empty());
    EXPECT_EQ(platform::CanEndProcess(first.Id()), platform::TEndRight::Allowed);
    EXPECT_TRUE(platform::ProcessRunning(first.Id()));
    EXPECT_FALSE(app::WaitUntilProgramEnded("Solvane.exe", 100, 20));

    EXPECT_TRUE(app::TerminateProgram("Solvane.exe"));
    EXPECT_EQ(first.Wait(10000), 0);
    EXPECT_EQ(second.Wait(10000), 0);
    EXPECT_FALSE(app::IsProgramRunning("Solvane.exe"));
    EXPECT_TRUE(app::WaitUntilProgramEnded("Solvane.exe", 5000));
    // Ended, though this test still holds a handle to it.
    EXPECT_FALSE(platform::ProcessRunning(first.Id()));

    // The shell's "open" starts it again.
    ASSERT_TRUE(app::ShellOpen(program));
    EXPECT_TRUE(wintest::WaitUntil([] { return app::IsProgramRunning("Solvane.exe"); }, 10000));
    EXPECT_TRUE(app::TerminateProgram("Solvane.exe"));
    EXPECT_FALSE(app::ShellOpen(In("NoSuchProgram.exe")));

    EXPECT_EQ(rtl::ExtractFileName(platform::ExecutableFile()), "windows_platform_tests.exe");
    EXPECT_EQ(platform::ExecutableFolder().back(), '\\');
}

TEST_F(ProcessTest, TheAccountOfAProcessAndWhatItMayWrite) {
    platform::TProcessUser user;
    ASSERT_TRUE(platform::ProcessUser(GetCurrentProcessId(), user));
    EXPECT_FALSE(user.Name.empty());
    EXPECT_FALSE(platform::ProcessUser(0xFFFFFFF0u, user));

    // An administrator (Wine's user is one) may write anywhere; another
    // account's rights are left to the server; a folder that is not there
    // cannot be judged.
    platform::TProcessUser administrator;
    platform::TProcessUser other;
    other.Uid = 1001;
    std::string reason;
    EXPECT_EQ(platform::UserMayWriteFolder(administrator, Folder, reason),
              platform::TAccess::Allowed);
    EXPECT_EQ(platform::UserMayWriteFolder(other, Folder, reason), platform::TAccess::Unknown);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(platform::UserMayWriteFolder(administrator, In("없는 폴더"), reason),
              platform::TAccess::Unknown);

    // No id names a process that has gone.
    EXPECT_EQ(platform::CanEndProcess(0xFFFFFFF0u), platform::TEndRight::Gone);
    EXPECT_FALSE(platform::ProcessRunning(0xFFFFFFF0u));
    EXPECT_EQ(platform::CanEndProcess(0), platform::TEndRight::Denied);
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
