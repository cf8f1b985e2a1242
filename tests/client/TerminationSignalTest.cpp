// Requests to end the program and the client library: the library installs
// SIGINT and SIGTERM handlers of its own at the first attach of the process
// (loading it installs none); the binding puts the program's own back after
// every attach, and a request then only becomes a notification, leaving the
// connection alone. The first test must see the process's first attach, so
// this program holds nothing else.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "client/IB_Intf.h"
#include "client/SuiteAccount.h"
#include "platform/Signals.h"
#include "testsupport/FbTestEnv.h"

namespace {

// The attach parameter block of the test account.
std::string AccountBlock() {
    std::string spb = {isc_spb_version, isc_spb_current_version};
    for (const auto& [code, text] : {std::pair{isc_spb_user_name, slvtest::ServerUser()},
                                     std::pair{isc_spb_password, slvtest::ServerPassword()}}) {
        spb += static_cast<char>(code);
        spb += static_cast<char>(text.size());
        spb += text;
    }
    return spb;
}

TEST(TerminationSignals, ClientLibraryTakesThemAtItsFirstAttachAndTheBindingGivesThemBack) {
    SLV_REQUIRE_SERVER();
    ASSERT_GE(platform::WatchTerminationRequests(), 0);
    ASSERT_TRUE(platform::TerminationHandlerInstalled(SIGTERM));

    using Attach = decltype(&isc_service_attach);
    using Detach = decltype(&isc_service_detach);
    void* raw = dlopen(fib::DefaultLibraryName.c_str(), RTLD_NOW);
    ASSERT_NE(raw, nullptr) << dlerror();
    EXPECT_TRUE(platform::TerminationHandlerInstalled(SIGTERM)) << "loading took the handler";
    const auto attach = reinterpret_cast<Attach>(dlsym(raw, "isc_service_attach"));
    const auto detach = reinterpret_cast<Detach>(dlsym(raw, "isc_service_detach"));
    ASSERT_TRUE(attach != nullptr && detach != nullptr);

    const std::string name = slvtest::ServiceManagerAddress();
    const std::string spb = AccountBlock();
    ISC_STATUS_ARRAY status = {};
    isc_svc_handle handle = 0;
    // Past the binding: the library's first attach takes both signals.
    ASSERT_EQ(attach(status, static_cast<unsigned short>(name.size()), name.c_str(), &handle,
                     static_cast<unsigned short>(spb.size()), spb.c_str()),
              0);
    detach(status, &handle);
    EXPECT_FALSE(platform::TerminationHandlerInstalled(SIGTERM));
    EXPECT_FALSE(platform::TerminationHandlerInstalled(SIGINT));

    // Through the binding: they are the program's again after the attach.
    fib::IIBClientLibraryPtr library = fib::AcquireClientLibrary(fib::DefaultLibraryName);
    handle = 0;
    ASSERT_EQ(library->isc_service_attach(status, static_cast<unsigned short>(name.size()),
                                          name.c_str(), &handle,
                                          static_cast<unsigned short>(spb.size()), spb.c_str()),
              0);
    EXPECT_TRUE(platform::TerminationHandlerInstalled(SIGTERM));
    EXPECT_TRUE(platform::TerminationHandlerInstalled(SIGINT));

    // A request now is a notification only: the process goes on and the
    // connection stays open (the library's handler would have shut it).
    EXPECT_EQ(platform::TakeTerminationRequest(), 0);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(platform::TakeTerminationRequest(), SIGTERM);
    EXPECT_EQ(platform::TakeTerminationRequest(), 0);
    const char query[] = {isc_info_svc_server_version};
    char reply[256] = {};
    EXPECT_EQ(library->isc_service_query(status, &handle, nullptr, 0, nullptr, 1, query,
                                         sizeof reply, reply),
              0);
    EXPECT_EQ(reply[0], isc_info_svc_server_version);
    EXPECT_EQ(library->isc_service_detach(status, &handle), 0);
    dlclose(raw);
}

} // namespace
