// The client library binding: loading in its order with required and
// optional entries, versions, sharing through the registry, unloading and the
// errors of a library that cannot be used.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <thread>

#include "StubSupport.h"
#include "client/IB_Intf.h"
#include "client/fib.h"
#include "platform/ModuleLoader.h"

namespace {

using fib::AcquireClientLibrary;
using fib::IIBClientLibraryPtr;
using stubtest::EventCount;
using stubtest::StubCopy;

bool IsRegistered(const std::string& name) {
    for (const auto& binding : fib::RegisteredClientLibraries()) {
        if (binding->LibraryFileName() == name) {
            return true;
        }
    }
    return false;
}

int RegisteredCount(const std::string& name) {
    int count = 0;
    for (const auto& binding : fib::RegisteredClientLibraries()) {
        count += binding->LibraryFileName() == name ? 1 : 0;
    }
    return count;
}

// Expects `call` to raise the missing-procedure error naming `entry` and the
// library, and nothing of the database layer's own classes.
template <typename Call>
void ExpectMissing(Call call, const std::string& entry, const std::string& library) {
    try {
        call();
        ADD_FAILURE() << entry << " did not raise";
    } catch (const fib::EFIBError& e) {
        ADD_FAILURE() << "a database error came: " << e.what();
    } catch (const rtl::EOSError& e) {
        ADD_FAILURE() << "an OS error came: " << e.what();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Can't find procedure " + entry + " in " + library);
    }
}

class ProbeGuard {
public:
    explicit ProbeGuard(std::function<void(const std::string&)> probe) {
        stubtest::SetCallProbe(std::move(probe));
    }
    ~ProbeGuard() { stubtest::SetCallProbe(nullptr); }
    ProbeGuard(const ProbeGuard&) = delete;
    ProbeGuard& operator=(const ProbeGuard&) = delete;
};

// --- libraries of other client versions

TEST(ClientLibraryLoad, FullLibraryTakesItsVersionFromTheLibrary) {
    const std::string path = StubCopy("fbstub_full", "full_version.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    EXPECT_TRUE(lib->IsLoaded());
    EXPECT_EQ(lib->LibraryFileName(), path);
    EXPECT_EQ(lib->ClientVersionMajor(), 9);
    EXPECT_EQ(lib->ClientVersionMinor(), 7);
    EXPECT_FALSE(lib->InClientCall());
    char version[64] = {};
    lib->isc_get_client_version(version);
    EXPECT_STREQ(version, "stub 9.7");
}

TEST(ClientLibraryLoad, WithoutRollbackRetainingIsVersion5WithoutServices) {
    const std::string path = StubCopy("fbstub_no_rollback_retaining", "v5.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    EXPECT_TRUE(lib->IsLoaded());
    EXPECT_EQ(lib->ClientVersionMajor(), 5);
    EXPECT_EQ(lib->ClientVersionMinor(), 0);

    ISC_STATUS* status = fib::ThreadStatusVector();
    isc_svc_handle handle = 0;
    const int attachCalls = EventCount(path, "isc_service_attach");
    ExpectMissing([&] { lib->isc_service_attach(status, 3, "abc", &handle, 0, nullptr); },
                  "isc_service_attach", path);
    EXPECT_EQ(EventCount(path, "isc_service_attach"), attachCalls) << "the stub was called";
    EXPECT_FALSE(lib->InClientCall());
    ExpectMissing([&] { lib->isc_service_detach(status, &handle); }, "isc_service_detach", path);
    ExpectMissing([&] { lib->isc_service_start(status, &handle, nullptr, 0, nullptr); },
                  "isc_service_start", path);
    ExpectMissing(
        [&] {
            lib->isc_service_query(status, &handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr);
        },
        "isc_service_query", path);
    ExpectMissing([&] { lib->isc_rollback_retaining(status, nullptr); }, "isc_rollback_retaining",
                  path);
    ExpectMissing([&] { lib->isc_portable_integer(nullptr, 0); }, "isc_portable_integer", path);
    ExpectMissing([&] { lib->isc_decode_timestamp(nullptr, nullptr); }, "isc_decode_timestamp",
                  path);
    ExpectMissing([&] { lib->isc_get_client_major_version(); }, "isc_get_client_major_version",
                  path);

    // The binding stays usable for what the library has.
    const char bytes[] = {0x10, 0x27};
    EXPECT_EQ(lib->isc_vax_integer(bytes, 2), 10000);
}

TEST(ClientLibraryLoad, WithoutClientVersionIsVersion6WithoutBatchOrCancel) {
    const std::string path = StubCopy("fbstub_no_client_version", "v6.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    EXPECT_EQ(lib->ClientVersionMajor(), 6);
    EXPECT_EQ(lib->ClientVersionMinor(), 0);

    ISC_STATUS* status = fib::ThreadStatusVector();
    ExpectMissing([&] { lib->fb_cancel_operation(status, nullptr, 0); }, "fb_cancel_operation",
                  path);
    ExpectMissing(
        [&] {
            lib->isc_dsql_batch_execute(status, nullptr, nullptr, 3, nullptr, 0, nullptr, nullptr);
        },
        "isc_dsql_batch_execute", path);
    ExpectMissing(
        [&] {
            lib->isc_dsql_batch_execute_immed(status, nullptr, nullptr, 3, 0, nullptr, nullptr);
        },
        "isc_dsql_batch_execute_immed", path);
    ExpectMissing([&] { lib->isc_get_client_version(nullptr); }, "isc_get_client_version", path);
    ExpectMissing([&] { lib->isc_get_client_minor_version(); }, "isc_get_client_minor_version",
                  path);

    // The services were resolved.
    isc_svc_handle handle = 0;
    EXPECT_EQ(lib->isc_service_attach(status, 3, "abc", &handle, 0, nullptr), 0);
    EXPECT_EQ(EventCount(path, "isc_service_attach"), 1);
}

TEST(ClientLibraryLoad, ArrayDescriptorEntriesAreResolvedWhenPresent) {
    const std::string path = StubCopy("fbstub_full", "array_desc.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    ISC_STATUS* status = fib::ThreadStatusVector();
    // The stand-in has neither: the operations raise instead of calling.
    ExpectMissing([&] { lib->isc_array_lookup_desc(status, nullptr, nullptr, "T", "F", nullptr); },
                  "isc_array_lookup_desc", path);
    ExpectMissing(
        [&] { lib->isc_array_set_desc(status, "T", "F", nullptr, nullptr, nullptr, nullptr); },
        "isc_array_set_desc", path);
}

TEST(ClientLibraryLoad, WithoutFbInterpretFallsBackToIscInterprete) {
    const std::string path = StubCopy("fbstub_no_fb_interpret", "no_fb_interpret.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    stubtest::Script(path, -902, "", {"first line", "second line"});
    lib->isc_sqlcode(fib::ThreadStatusVector()); // restarts the stand-in's walk

    char buffer[1024] = {};
    const ISC_STATUS* cursor = fib::ThreadStatusVector();
    const ISC_LONG length = lib->fb_interpret(buffer, sizeof buffer, &cursor);
    EXPECT_EQ(std::string(buffer), "old first line");
    EXPECT_EQ(length, static_cast<ISC_LONG>(std::string("old first line").size()));
    EXPECT_EQ(cursor, fib::ThreadStatusVector() + 2) << "the cursor moves as the library says";
    EXPECT_EQ(EventCount(path, "isc_interprete"), 1);
}

TEST(ClientLibraryLoad, MissingRequiredEntryIsAnOSErrorAndRegistersNothing) {
    const std::string path = StubCopy("fbstub_no_dsql_fetch", "no_fetch.so");
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            AcquireClientLibrary(path);
            FAIL() << "the library loaded";
        } catch (const rtl::EOSError& e) {
            EXPECT_EQ(e.ErrorCode(), platform::ProcNotFoundCode);
            EXPECT_EQ(e.Message(), "System Error.  Code: " + std::to_string(ENOSYS) + ".\r\n" +
                                       platform::SystemErrorText(ENOSYS));
        }
        EXPECT_FALSE(IsRegistered(path));
    }
    // The module was released again each time.
    EXPECT_EQ(EventCount(path, "load"), 2);
    EXPECT_EQ(EventCount(path, "unload"), 2);
}

TEST(ClientLibraryLoad, FileThatIsNotAModuleIsAnOSErrorWithTheSystemText) {
    const std::string path = stubtest::ScratchDir() + "/not_a_module.so";
    std::ofstream(path) << "this is only text\n";
    try {
        AcquireClientLibrary(path);
        FAIL() << "the text file loaded";
    } catch (const rtl::EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOEXEC);
        const std::string prefix = "System Error.  Code: " + std::to_string(ENOEXEC) + ".\r\n";
        EXPECT_EQ(e.Message().substr(0, prefix.size()), prefix);
        EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(IsRegistered(path));
}

TEST(ClientLibraryLoad, MissingFileFailsUntilTheFileIsThere) {
    const std::string path = stubtest::ScratchDir() + "/arrives_later.so";
    try {
        AcquireClientLibrary(path);
        FAIL() << "a missing file loaded";
    } catch (const rtl::EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_NE(e.Message().find("No such file or directory"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(IsRegistered(path));

    StubCopy("fbstub_full", "arrives_later.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    EXPECT_TRUE(lib->IsLoaded());
    EXPECT_EQ(RegisteredCount(path), 1);
}

TEST(ClientLibraryLoad, EmptyNameIsNotTheProgramItself) {
    EXPECT_THROW(AcquireClientLibrary(""), rtl::EOSError);
    EXPECT_FALSE(IsRegistered(""));
}

// --- registry and lifecycle

TEST(ClientLibraryRegistry, SameNameSharesOneBindingLoadedOnce) {
    const std::string path = StubCopy("fbstub_full", "shared.so");
    IIBClientLibraryPtr first = AcquireClientLibrary(path);
    IIBClientLibraryPtr second = AcquireClientLibrary(path);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(EventCount(path, "load"), 1);
    EXPECT_EQ(RegisteredCount(path), 1);
}

TEST(ClientLibraryRegistry, UnloadThenAcquireReloadsTheSameBinding) {
    const std::string path = StubCopy("fbstub_full", "reload.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    lib->Unload();
    EXPECT_FALSE(lib->IsLoaded());
    EXPECT_EQ(EventCount(path, "unload"), 1);
    lib->Unload(); // nothing more to do
    EXPECT_EQ(EventCount(path, "unload"), 1);

    IIBClientLibraryPtr again = AcquireClientLibrary(path);
    EXPECT_EQ(again.get(), lib.get());
    EXPECT_TRUE(lib->IsLoaded());
    EXPECT_EQ(EventCount(path, "load"), 2);
    EXPECT_EQ(lib->ClientVersionMajor(), 9);
    EXPECT_EQ(RegisteredCount(path), 1);
}

TEST(ClientLibraryRegistry, CallsOnAnUnloadedBindingRaiseInsteadOfJumping) {
    const std::string path = StubCopy("fbstub_full", "unloaded_calls.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    lib->Unload();
    ISC_STATUS* status = fib::ThreadStatusVector();
    isc_db_handle db = 0;
    ExpectMissing([&] { lib->isc_attach_database(status, 1, "x", &db, 0, nullptr); },
                  "isc_attach_database", path);
    ExpectMissing([&] { lib->isc_sqlcode(status); }, "isc_sqlcode", path);
    const ISC_STATUS* cursor = status;
    char buffer[16];
    ExpectMissing([&] { lib->fb_interpret(buffer, sizeof buffer, &cursor); }, "isc_interprete",
                  path);
    EXPECT_FALSE(lib->InClientCall());

    lib->Load();
    EXPECT_TRUE(lib->IsLoaded());
    EXPECT_EQ(lib->isc_attach_database(status, 1, "x", &db, 0, nullptr), 0);
    EXPECT_EQ(db, 77u);
}

TEST(ClientLibraryRegistry, DestructionUnloads) {
    const std::string path = StubCopy("fbstub_full", "private.so");
    {
        auto lib = std::make_shared<fib::TIBClientLibrary>(path);
        EXPECT_TRUE(lib->IsLoaded());
        EXPECT_EQ(EventCount(path, "unload"), 0);
    }
    EXPECT_EQ(EventCount(path, "load"), 1);
    EXPECT_EQ(EventCount(path, "unload"), 1);
    EXPECT_FALSE(IsRegistered(path)) << "a binding built directly is not shared";
}

TEST(ClientLibraryRegistry, TwoThreadsAskingAtOnceGetOneBindingLoadedOnce) {
    // The stand-in takes 200 ms to load, so the second request arrives while
    // the first is still loading.
    const std::string path = StubCopy("fbstub_slow", "slow.so");
    IIBClientLibraryPtr a;
    IIBClientLibraryPtr b;
    std::thread first([&] { a = AcquireClientLibrary(path); });
    std::thread second([&] { b = AcquireClientLibrary(path); });
    first.join();
    second.join();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(EventCount(path, "load"), 1);
    EXPECT_EQ(RegisteredCount(path), 1);
}

// --- the busy flag

TEST(ClientLibraryCalls, BusyFlagIsSetOnlyInsideCallsThatSetIt) {
    const std::string path = StubCopy("fbstub_full", "busy.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    std::map<std::string, bool> seen;
    ProbeGuard guard([&](const std::string& entry) { seen[entry] = lib->InClientCall(); });

    isc_db_handle db = 0;
    lib->isc_attach_database(fib::ThreadStatusVector(), 1, "x", &db, 0, nullptr);
    EXPECT_EQ(lib->BLOB_get(nullptr), 42);
    lib->BLOB_put('a', nullptr);
    lib->isc_array_get_slice(fib::ThreadStatusVector(), nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr);
    lib->fb_cancel_operation(fib::ThreadStatusVector(), nullptr, 0);
    lib->isc_dsql_fetch(fib::ThreadStatusVector(), nullptr, 1, nullptr);
    EXPECT_FALSE(lib->InClientCall());

    EXPECT_TRUE(seen.at("isc_attach_database"));
    EXPECT_TRUE(seen.at("isc_dsql_fetch"));
    EXPECT_FALSE(seen.at("BLOB_get"));
    EXPECT_FALSE(seen.at("BLOB_put"));
    EXPECT_FALSE(seen.at("isc_array_get_slice"));
    EXPECT_FALSE(seen.at("fb_cancel_operation"));
}

TEST(ClientLibraryCalls, BusyFlagIsClearedWhenTheCallRaises) {
    const std::string path = StubCopy("fbstub_full", "busy_raise.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    ProbeGuard guard([](const std::string&) { throw std::runtime_error("from inside"); });
    isc_db_handle db = 0;
    EXPECT_THROW(lib->isc_attach_database(fib::ThreadStatusVector(), 1, "x", &db, 0, nullptr),
                 std::runtime_error);
    EXPECT_FALSE(lib->InClientCall());
}

TEST(ClientLibraryCalls, EventBlockTakesAtMostFifteenNames) {
    const std::string path = StubCopy("fbstub_full", "events.so");
    IIBClientLibraryPtr lib = AcquireClientLibrary(path);
    const char* names[16] = {"a", "b", "c", "d", "e", "f", "g", "h",
                             "i", "j", "k", "l", "m", "n", "o", "p"};
    ISC_UCHAR* events = nullptr;
    ISC_UCHAR* results = nullptr;
    EXPECT_EQ(lib->isc_event_block(&events, &results, 15, names), 0);
    EXPECT_THROW(lib->isc_event_block(&events, &results, 16, names), rtl::Exception);
}

// --- the real client library

TEST(RealClientLibrary, DefaultNameLoadsWithTheLibrarysOwnVersion) {
    EXPECT_EQ(fib::DefaultLibraryName, "libfbclient.so.2");
    IIBClientLibraryPtr lib = AcquireClientLibrary(fib::DefaultLibraryName);
    ASSERT_TRUE(lib->IsLoaded());
    // Firebird 3 answers with the InterBase-compatible version 6.3.
    EXPECT_EQ(lib->ClientVersionMajor(), lib->isc_get_client_major_version());
    EXPECT_EQ(lib->ClientVersionMinor(), lib->isc_get_client_minor_version());
    EXPECT_EQ(lib->ClientVersionMajor(), 6);
    EXPECT_EQ(lib->ClientVersionMinor(), 3);
    char version[256] = {};
    lib->isc_get_client_version(version);
    EXPECT_NE(std::string(version).find("Firebird 3.0"), std::string::npos) << version;
}

TEST(RealClientLibrary, TwoAcquisitionsShareOneBinding) {
    IIBClientLibraryPtr first = AcquireClientLibrary(fib::DefaultLibraryName);
    IIBClientLibraryPtr second = AcquireClientLibrary(fib::DefaultLibraryName);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(RegisteredCount(fib::DefaultLibraryName), 1);
}

TEST(RealClientLibrary, NamesAreComparedExactly) {
    // The same library reached under a name in capitals is another binding.
    const std::string upper = stubtest::ScratchDir() + "/LIBFBCLIENT.SO.2";
    const std::string lower = stubtest::ScratchDir() + "/libfbclient.so.2";
    // Where the system finds the library under its default name.
    void* handle = dlopen(fib::DefaultLibraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    link_map* map = nullptr;
    ASSERT_EQ(dlinfo(handle, RTLD_DI_LINKMAP, &map), 0);
    const std::string real = map->l_name;
    dlclose(handle);
    std::error_code ignored;
    std::filesystem::remove(upper, ignored);
    std::filesystem::remove(lower, ignored);
    std::filesystem::create_symlink(real, upper);
    std::filesystem::create_symlink(real, lower);
    IIBClientLibraryPtr a = AcquireClientLibrary(lower);
    IIBClientLibraryPtr b = AcquireClientLibrary(upper);
    EXPECT_NE(a.get(), b.get());
    EXPECT_TRUE(a->IsLoaded());
    EXPECT_TRUE(b->IsLoaded());
    EXPECT_EQ(RegisteredCount(lower), 1);
    EXPECT_EQ(RegisteredCount(upper), 1);
    EXPECT_EQ(AcquireClientLibrary(upper).get(), b.get());
}

TEST(RealClientLibrary, UnloadAndAcquireAgainGivesTheSameObject) {
    IIBClientLibraryPtr lib = AcquireClientLibrary(fib::DefaultLibraryName);
    lib->Unload();
    EXPECT_FALSE(lib->IsLoaded());
    IIBClientLibraryPtr again = AcquireClientLibrary(fib::DefaultLibraryName);
    EXPECT_EQ(again.get(), lib.get());
    EXPECT_TRUE(lib->IsLoaded());
    const char bytes[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(lib->isc_vax_integer(bytes, 4), 0x04030201);
}

} // namespace
