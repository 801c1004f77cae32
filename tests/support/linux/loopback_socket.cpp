// SPDX-License-Identifier: MIT
// The test server's sockets: BSD sockets.
#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmorin::testing {

Socket ListenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 16);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool WaitReadable(Socket socket, int timeoutMs) {
    pollfd wait{static_cast<int>(socket), POLLIN, 0};
    return ::poll(&wait, 1, timeoutMs) > 0;
}

Socket AcceptClient(Socket listener) {
    return ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
}

long Receive(Socket socket, char* buffer, std::size_t size) {
    return ::recv(static_cast<int>(socket), buffer, size, 0);
}

long Send(Socket socket, const char* data, std::size_t size) {
    return ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
}

void CloseSocket(Socket socket) {
    ::close(static_cast<int>(socket));
}

}  // namespace velmorin::testing
