// Error texts of real failures: calls through the real client library
// against the test server, or against an address where no server listens.
#include <gtest/gtest.h>

#include <string>

#include "client/IB_Intf.h"
#include "client/fib.h"
#include "testsupport/FbTestEnv.h"

namespace {

// The SQL text Firebird gives for the failures below (SQL code -902).
const std::string kSystemErrorLine =
    "Unsuccessful execution caused by a system error that precludes successful execution of "
    "subsequent statements.\r\n";

std::string AttachBlock(const std::string& user, const std::string& password) {
    std::string spb;
    spb += static_cast<char>(isc_spb_version);
    spb += static_cast<char>(isc_spb_current_version);
    spb += static_cast<char>(isc_spb_user_name);
    spb += static_cast<char>(user.size());
    spb += user;
    spb += static_cast<char>(isc_spb_password);
    spb += static_cast<char>(password.size());
    spb += password;
    return spb;
}

// Attaches to the service manager; on failure returns the raised error.
fib::EFIBInterBaseError AttachFailure(fib::IIBClientLibrary& lib, const std::string& service,
                                      const std::string& user, const std::string& password,
                                      const rtl::TComponent* raiser) {
    const std::string spb = AttachBlock(user, password);
    isc_svc_handle handle = 0;
    const ISC_STATUS result = lib.isc_service_attach(
        fib::ThreadStatusVector(), static_cast<unsigned short>(service.size()), service.c_str(),
        &handle, static_cast<unsigned short>(spb.size()), spb.data());
    if (result == 0) {
        lib.isc_service_detach(fib::ThreadStatusVector(), &handle);
        ADD_FAILURE() << "the attach to " << service << " succeeded";
        return fib::EFIBInterBaseError(0, nullptr, "", "", "");
    }
    try {
        fib::RaiseStatusError(lib, raiser);
    } catch (const fib::EFIBInterBaseError& e) {
        return e;
    }
    ADD_FAILURE() << "RaiseStatusError raised something else";
    return fib::EFIBInterBaseError(0, nullptr, "", "", "");
}

TEST(ServerErrors, WrongPasswordNamesTheLoginProblem) {
    SLV_REQUIRE_SERVER();
    auto lib = fib::AcquireClientLibrary(fib::DefaultLibraryName);
    rtl::TComponent application;
    auto* form = new rtl::TComponent(&application);
    form->SetName("mainForm");
    auto* service = new rtl::TComponent(form);
    service->SetName("pFIBBackupService1");

    const auto e = AttachFailure(*lib, slvtest::ServerHost() + ":service_mgr",
                                 slvtest::ServerUser(), "not-the-password", service);
    EXPECT_EQ(e.Message(),
              "mainForm.pFIBBackupService1:\r\n" + kSystemErrorLine +
                  "Your user name and password are not defined. Ask your database administrator "
                  "to set up a Firebird login.\r\n");
    EXPECT_EQ(e.SQLCode(), -902);
    EXPECT_EQ(e.StatusCode(), isc_login);
    EXPECT_EQ(e.Raiser(), service);
}

TEST(ServerErrors, NoServerListeningNamesTheHost) {
    // Nothing listens on this port of the local machine.
    auto lib = fib::AcquireClientLibrary(fib::DefaultLibraryName);
    const auto e = AttachFailure(*lib, "127.0.0.1/3099:service_mgr", "SYSDBA", "x", nullptr);
    EXPECT_EQ(e.Message(), kSystemErrorLine +
                               "Unable to complete network request to host \"127.0.0.1\".\r\n"
                               "Failed to establish a connection.\r\n");
    EXPECT_EQ(e.StatusCode(), isc_network_error);
    EXPECT_EQ(e.SQLCode(), -902);
}

TEST(ServerErrors, MissingDatabaseFileNamesTheFile) {
    SLV_REQUIRE_SERVER();
    auto lib = fib::AcquireClientLibrary(fib::DefaultLibraryName);
    const std::string file = slvtest::MakeTempDir("client-missing") + "/absent.fdb";
    const std::string name = slvtest::ServerHost() + ":" + file;
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    for (const auto& [code, value] : {std::pair{isc_dpb_user_name, slvtest::ServerUser()},
                                      std::pair{isc_dpb_password, slvtest::ServerPassword()}}) {
        dpb += static_cast<char>(code);
        dpb += static_cast<char>(value.size());
        dpb += value;
    }
    isc_db_handle db = 0;
    const ISC_STATUS result =
        lib->isc_attach_database(fib::ThreadStatusVector(), static_cast<short>(name.size()),
                                 name.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
    ASSERT_NE(result, 0) << "a database that does not exist was opened";
    try {
        fib::RaiseStatusError(*lib, nullptr);
    } catch (const fib::EFIBInterBaseError& e) {
        EXPECT_EQ(e.Message(), kSystemErrorLine +
                                   "I/O error during \"open\" operation for file \"" + file +
                                   "\".\r\nError while trying to open file.\r\n" +
                                   "No such file or directory.\r\n");
        EXPECT_EQ(e.StatusCode(), isc_io_error);
        return;
    }
    FAIL() << "no status error";
}

TEST(ServerErrors, StatusCodeOfALaterClientErrorIsTheLastFailure) {
    auto lib = fib::AcquireClientLibrary(fib::DefaultLibraryName);
    AttachFailure(*lib, "127.0.0.1/3099:service_mgr", "SYSDBA", "x", nullptr);
    try {
        fib::RaiseClientError(fib::ceServiceNotAttached);
    } catch (const fib::EFIBClientError& e) {
        EXPECT_EQ(e.StatusCode(), isc_network_error);
        EXPECT_EQ(e.Message(), "Cannot perform operation -- service is not attached");
    }
}

} // namespace
