// fbsvcversion [host [user [password]]]
//
// Loads the client library, attaches to <host>:service_mgr, asks for the
// server's version and prints it. Errors are printed with their database
// layer text and end the program with exit code 1.
#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>

#include "client/IB_Intf.h"
#include "client/ParamBlock.h"
#include "client/SuiteAccount.h"
#include "client/fib.h"

namespace {

const char* const DefaultHost = "127.0.0.1";

void AddText(fib::TBlockWriter& spb, uint8_t code, const std::string& value) {
    if (!spb.Text8(code, value)) {
        fib::RaiseClientErrorFmt(
            "The %s is too long: at most 255 bytes are allowed.",
            {std::string(code == isc_spb_user_name ? "user name" : "password")});
    }
}

std::string ServerVersion(const std::string& host, const std::string& user,
                          const std::string& password) {
    fib::IIBClientLibraryPtr lib = fib::AcquireClientLibrary(fib::DefaultLibraryName);

    const std::string service = host + ":service_mgr";
    std::string spb;
    fib::TBlockWriter writer(spb);
    writer.Byte(isc_spb_version).Byte(isc_spb_current_version);
    AddText(writer, isc_spb_user_name, user);
    AddText(writer, isc_spb_password, password);
    if (service.size() > fib::MaxBlockLength) {
        fib::RaiseClientError(fib::ceServerNameMissing);
    }

    isc_svc_handle handle = 0;
    if (lib->isc_service_attach(
            fib::ThreadStatusVector(), static_cast<unsigned short>(service.size()), service.c_str(),
            &handle, static_cast<unsigned short>(spb.size()), spb.data()) != 0) {
        fib::RaiseStatusError(*lib, nullptr);
    }

    const char request[] = {isc_info_svc_server_version};
    char buffer[1024] = {};
    if (lib->isc_service_query(fib::ThreadStatusVector(), &handle, nullptr, 0, nullptr,
                               sizeof request, request, sizeof buffer, buffer) != 0) {
        // Keep the failure's texts before the detach overwrites the vector.
        const fib::EFIBInterBaseError error = fib::MakeStatusError(*lib, nullptr);
        lib->isc_service_detach(fib::ThreadStatusVector(), &handle);
        throw error;
    }
    // The reply: the item, then the version text behind its 16-bit length.
    fib::TBlockReader reply(buffer, sizeof buffer);
    uint8_t item = 0;
    std::string_view version;
    const bool found =
        reply.Byte(item) && item == isc_info_svc_server_version && reply.Text16(version);

    if (lib->isc_service_detach(fib::ThreadStatusVector(), &handle) != 0) {
        fib::RaiseStatusError(*lib, nullptr);
    }
    if (!found) {
        fib::RaiseClientError(fib::ceUnexpectedOutput);
    }
    return std::string(version);
}

// The message as terminal lines: LF line ends, no empty line at the end.
void PrintError(const std::string& message) {
    std::string text;
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
            continue;
        }
        text += message[i];
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (argc > 4 ||
        (argc > 1 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
        std::fprintf(stderr,
                     "usage: fbsvcversion [host [user [password]]]\n"
                     "  default host %s, user %s\n",
                     DefaultHost, fib::SuiteUserName);
        return argc > 4 ? 1 : 0;
    }
    const std::string host = argc > 1 ? argv[1] : DefaultHost;
    const std::string user = argc > 2 ? argv[2] : fib::SuiteUserName;
    const std::string password = argc > 3 ? argv[3] : fib::SuitePassword;
    try {
        const std::string version = ServerVersion(host, user, password);
        std::printf("Server version: %s\n", version.c_str());
        return 0;
    } catch (const fib::EFIBError& e) {
        PrintError(e.Message());
    } catch (const rtl::Exception& e) {
        // The client library could not be loaded.
        PrintError(e.Message());
    }
    return 1;
}
