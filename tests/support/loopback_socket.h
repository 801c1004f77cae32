// SPDX-License-Identifier: MIT
// The few socket calls the test HTTP server makes, over each platform's
// socket interface (BSD sockets, Winsock).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmorin::testing {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A TCP socket listening on 127.0.0.1 at a port the system picks.
Socket ListenOnLoopback(int& port);
// Waits up to `timeoutMs` for the socket to become readable (a listener:
// for a connection).
bool WaitReadable(Socket socket, int timeoutMs);
Socket AcceptClient(Socket listener);
// What recv and send return: bytes moved, 0 at the end, negative on failure.
long Receive(Socket socket, char* buffer, std::size_t size);
long Send(Socket socket, const char* data, std::size_t size);
void CloseSocket(Socket socket);

}  // namespace velmorin::testing
