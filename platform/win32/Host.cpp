// Whether a server address names this computer, on Windows: the loopback
// names and addresses, the computer's own names (its host name, its full
// DNS name, its NetBIOS name) and the addresses of its network adapters.
#include "platform/Host.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/Text.h"

namespace platform {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

std::string ComputerName(COMPUTER_NAME_FORMAT format) {
    DWORD size = 0;
    GetComputerNameExW(format, nullptr, &size);
    if (size == 0) {
        return std::string();
    }
    std::wstring name(size, L'\0');
    if (!GetComputerNameExW(format, name.data(), &size)) {
        return std::string();
    }
    name.resize(size);
    return Lower(win32::Narrow(name));
}

bool IsOwnName(const std::string& name) {
    for (const COMPUTER_NAME_FORMAT format :
         {ComputerNameDnsHostname, ComputerNameDnsFullyQualified, ComputerNameNetBIOS}) {
        const std::string own = ComputerName(format);
        if (own.empty()) {
            continue;
        }
        // "pc" names "pc.example.com" and the other way round.
        if (name == own || name == own.substr(0, own.find('.')) ||
            name.substr(0, name.find('.')) == own) {
            return true;
        }
    }
    return false;
}

bool SameAddress(const SOCKADDR* address, const IN_ADDR* v4, const IN6_ADDR* v6) {
    if (address == nullptr) {
        return false;
    }
    if (address->sa_family == AF_INET && v4 != nullptr) {
        const auto* in = reinterpret_cast<const SOCKADDR_IN*>(address);
        return std::memcmp(&in->sin_addr, v4, sizeof *v4) == 0;
    }
    if (address->sa_family == AF_INET6 && v6 != nullptr) {
        const auto* in = reinterpret_cast<const SOCKADDR_IN6*>(address);
        return std::memcmp(&in->sin6_addr, v6, sizeof *v6) == 0;
    }
    return false;
}

bool IsAdapterAddress(const IN_ADDR* v4, const IN6_ADDR* v6) {
    constexpr ULONG flags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16384;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result =
            GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) {
        return false;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* entry = adapter->FirstUnicastAddress;
             entry != nullptr; entry = entry->Next) {
            if (SameAddress(entry->Address.lpSockaddr, v4, v6)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

bool NamesThisComputer(const std::string& host) {
    const std::string name = Lower(host);
    if (name.empty()) {
        return false;
    }
    if (name == "localhost" || name == "localhost.localdomain" || name == "ip6-localhost") {
        return true;
    }
    IN_ADDR v4{};
    IN6_ADDR v6{};
    const bool isV4 = inet_pton(AF_INET, name.c_str(), &v4) == 1;
    const bool isV6 = !isV4 && inet_pton(AF_INET6, name.c_str(), &v6) == 1;
    if (isV4) {
        return v4.S_un.S_un_b.s_b1 == 127 || IsAdapterAddress(&v4, nullptr);
    }
    if (isV6) {
        static const IN6_ADDR loopback = IN6ADDR_LOOPBACK_INIT;
        return std::memcmp(&v6, &loopback, sizeof v6) == 0 || IsAdapterAddress(nullptr, &v6);
    }
    return IsOwnName(name);
}

} // namespace platform
