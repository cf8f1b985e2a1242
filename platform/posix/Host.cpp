// Whether a server address names this computer, on POSIX.
#include "platform/Host.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool SameAddress(const sockaddr* address, const in_addr* v4, const in6_addr* v6) {
    if (address == nullptr)
        return false;
    if (address->sa_family == AF_INET && v4 != nullptr) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        return in->sin_addr.s_addr == v4->s_addr;
    }
    if (address->sa_family == AF_INET6 && v6 != nullptr) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(address);
        return std::memcmp(&in->sin6_addr, v6, sizeof *v6) == 0;
    }
    return false;
}

} // namespace

bool NamesThisComputer(const std::string& host) {
    const std::string name = Lower(host);
    if (name.empty())
        return false;
    if (name == "localhost" || name == "localhost.localdomain" || name == "ip6-localhost")
        return true;

    in_addr v4{};
    in6_addr v6{};
    const bool isV4 = ::inet_pton(AF_INET, name.c_str(), &v4) == 1;
    const bool isV6 = !isV4 && ::inet_pton(AF_INET6, name.c_str(), &v6) == 1;
    if (isV4 && (ntohl(v4.s_addr) & 0xFF000000U) == 0x7F000000U) // 127.0.0.0/8
        return true;
    if (isV6 && IN6_IS_ADDR_LOOPBACK(&v6))
        return true;

    if (!isV4 && !isV6) {
        char own[256] = {};
        if (::gethostname(own, sizeof own - 1) != 0)
            return false;
        const std::string full = Lower(own);
        const std::string shortName = full.substr(0, full.find('.'));
        return name == full || name == shortName || name.substr(0, name.find('.')) == full;
    }

    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next)
        found = SameAddress(entry->ifa_addr, isV4 ? &v4 : nullptr, isV6 ? &v6 : nullptr);
    ::freeifaddrs(list);
    return found;
}

std::vector<std::uint16_t> OwnTcpConnectionPorts() {
    std::vector<std::uint16_t> ports;
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr) {
        return ports;
    }
    const int listing = ::dirfd(fds);
    while (const dirent* entry = ::readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        struct stat st {};
        if (end == entry->d_name || *end != '\0' || fd == listing ||
            ::fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) {
            continue;
        }
        int type = 0;
        socklen_t typeLength = sizeof type;
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localLength = sizeof local;
        socklen_t peerLength = sizeof peer;
        if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 ||
            type != SOCK_STREAM ||
            ::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local),
                          &localLength) != 0 ||
            ::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) !=
                0) {
            continue; // not a connected stream socket
        }
        if (local.ss_family == AF_INET) {
            ports.push_back(ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port));
        } else if (local.ss_family == AF_INET6) {
            ports.push_back(ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port));
        }
    }
    ::closedir(fds);
    return ports;
}

} // namespace platform
