#pragma once

#include <string>

namespace folvane::sim {

// Cuts a client's TCP connection so that it sees a transport error instead of an answer. The HTTP library
// does not hand its sockets to handlers, so the socket is found by its two endpoints among this process's
// open files; it is only shut down, never closed, because the library still owns it.
class ConnectionDropper {
public:
    static bool drop(const std::string& remoteAddress, int remotePort, int localPort);
};

} // namespace folvane::sim
