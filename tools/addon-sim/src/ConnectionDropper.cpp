#include "ConnectionDropper.h"

#include <filesystem>
#include <netdb.h>
#include <sys/socket.h>

namespace folvane::sim {

namespace {

struct Endpoint {
    std::string address;
    int port = -1;
};

Endpoint describe(const sockaddr_storage& address, socklen_t length) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return {};
    }
    return {host, std::stoi(service)};
}

bool matches(int fd, const std::string& remoteAddress, int remotePort, int localPort) {
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
        return false;
    }
    const Endpoint remote = describe(peer, peerLength);
    return remote.port == remotePort && remote.address == remoteAddress &&
           describe(local, localLength).port == localPort;
}

} // namespace

bool ConnectionDropper::drop(const std::string& remoteAddress, int remotePort, int localPort) {
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        int fd = -1;
        try {
            fd = std::stoi(it->path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        if (matches(fd, remoteAddress, remotePort, localPort)) {
            return shutdown(fd, SHUT_RDWR) == 0;
        }
    }
    return false;
}

} // namespace folvane::sim
