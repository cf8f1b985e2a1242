// Whether a server address names this computer, on Windows: the loopback
// names and addresses, the computer's own names (its host name, its full
// DNS name, its NetBIOS name) and the addresses of its network adapters.
// This process's connections from the system's table of TCP connections.
#include "platform/Host.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
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

// The system's table of TCP connections of the address family `family`
// with their owning processes; empty when the system does not give it.
std::vector<unsigned char> ConnectionTable(ULONG family) {
    std::vector<unsigned char> buffer;
    DWORD size = 0;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between the two calls.
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size);
        result = GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, family,
                                     TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    }
    if (result != NO_ERROR) {
        buffer.clear();
    }
    return buffer;
}

// The local ports of the rows of the table in `buffer` (a
// MIB_TCPTABLE_OWNER_PID or MIB_TCP6TABLE_OWNER_PID) that belong to the
// process `pid`.
template <typename Table>
void AddOwnPorts(const std::vector<unsigned char>& buffer, DWORD pid,
                 std::vector<std::uint16_t>& ports) {
    if (buffer.size() < offsetof(Table, table)) {
        return;
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const size_t rows = (buffer.size() - offsetof(Table, table)) / sizeof table->table[0];
    for (size_t i = 0; i < std::min<size_t>(table->dwNumEntries, rows); ++i) {
        if (table->table[i].dwOwningPid == pid) {
            ports.push_back(ntohs(static_cast<u_short>(table->table[i].dwLocalPort)));
        }
    }
}

} // namespace

std::vector<std::uint16_t> OwnTcpConnectionPorts() {
    std::vector<std::uint16_t> ports;
    const DWORD pid = GetCurrentProcessId();
    AddOwnPorts<MIB_TCPTABLE_OWNER_PID>(ConnectionTable(AF_INET), pid, ports);
    AddOwnPorts<MIB_TCP6TABLE_OWNER_PID>(ConnectionTable(AF_INET6), pid, ports);
    return ports;
}

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
