// SPDX-License-Identifier: MIT
// The test HTTP server.
#include "support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace velmorin::testing {
namespace {

int ListenOnLoopback(int& port) {
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

}  // namespace

HttpServer::HttpServer() {
    m_listener = ListenOnLoopback(m_port);
    m_thread = std::thread([this] { Run(); });
}

HttpServer::~HttpServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

std::string HttpServer::RefusingHost() {
    int port = 0;
    const int fd = ListenOnLoopback(port);
    ::close(fd);  // nothing listens there any more
    return "127.0.0.1:" + std::to_string(port);
}

void HttpServer::Serve(const std::string& path, std::string body, int status) {
    const std::lock_guard lock(m_mutex);
    m_routes[path] = {status, std::move(body), "", std::string::npos};
}

void HttpServer::Stall(const std::string& path, std::string body, std::size_t sentBytes) {
    const std::lock_guard lock(m_mutex);
    m_routes[path] = {200, std::move(body), "", sentBytes};
}

void HttpServer::Redirect(const std::string& path, const std::string& location) {
    const std::lock_guard lock(m_mutex);
    m_routes[path] = {302, "", location, std::string::npos};
}

void HttpServer::Run() {
    std::vector<int> hanging;
    while (!m_stop) {
        pollfd wait{m_listener, POLLIN, 0};
        if (::poll(&wait, 1, 50) <= 0) {
            continue;
        }
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        ++m_requests;
        if (m_hang) {
            hanging.push_back(client);
            continue;
        }
        if (Answer(client)) {
            hanging.push_back(client);
        } else {
            ::close(client);
        }
    }
    for (const int client : hanging) {
        ::close(client);
    }
}

bool HttpServer::Answer(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd wait{client, POLLIN, 0};
        if (::poll(&wait, 1, 2000) <= 0) {
            return false;
        }
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    Route route{404, "not found", "", std::string::npos};
    {
        const std::lock_guard lock(m_mutex);
        if (const auto found = m_routes.find(path); found != m_routes.end()) {
            route = found->second;
        }
    }
    std::string response = "HTTP/1.0 " + std::to_string(route.status) +
                           " X\r\nContent-Length: " + std::to_string(route.body.size()) + "\r\n";
    if (!route.location.empty()) {
        response += "Location: " + route.location + "\r\n";
    }
    const std::size_t bodyBytes = std::min(route.sentBytes, route.body.size());
    response += "\r\n" + route.body.substr(0, bodyBytes);
    std::size_t sent = 0;
    while (sent < response.size()) {
        const ssize_t n =
            ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return bodyBytes < route.body.size();
}

}  // namespace velmorin::testing
