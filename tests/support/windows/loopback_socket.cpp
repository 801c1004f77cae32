// SPDX-License-Identifier: MIT
// The test server's sockets: Winsock, started once for the process.
#include "support/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

namespace velmorin::testing {
namespace {

void StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

int Clamped(std::size_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

}  // namespace

Socket ListenOnLoopback(int& port) {
    StartWinsock();
    const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(handle, 16);
    int length = sizeof address;
    ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return static_cast<Socket>(handle);
}

bool WaitReadable(Socket socket, int timeoutMs) {
    WSAPOLLFD wait{static_cast<SOCKET>(socket), POLLRDNORM, 0};
    return ::WSAPoll(&wait, 1, timeoutMs) > 0;
}

Socket AcceptClient(Socket listener) {
    const SOCKET client = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    return client == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(client);
}

long Receive(Socket socket, char* buffer, std::size_t size) {
    return ::recv(static_cast<SOCKET>(socket), buffer, Clamped(size), 0);
}

long Send(Socket socket, const char* data, std::size_t size) {
    return ::send(static_cast<SOCKET>(socket), data, Clamped(size), 0);
}

void CloseSocket(Socket socket) {
    ::closesocket(static_cast<SOCKET>(socket));
}

}  // namespace velmorin::testing
