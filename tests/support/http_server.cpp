// SPDX-License-Identifier: MIT
// The test HTTP server.
#include "support/http_server.h"

#include <algorithm>
#include <vector>

#include "support/loopback_socket.h"

namespace velmorin::testing {

HttpServer::HttpServer() {
    m_listener = ListenOnLoopback(m_port);
    m_thread = std::thread([this] { Run(); });
}

HttpServer::~HttpServer() {
    m_stop = true;
    m_thread.join();
    CloseSocket(m_listener);
}

std::string HttpServer::RefusingHost() {
    int port = 0;
    CloseSocket(ListenOnLoopback(port));  // nothing listens there any more
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
    std::vector<Socket> hanging;
    while (!m_stop) {
        if (!WaitReadable(m_listener, 50)) {
            continue;
        }
        const Socket client = AcceptClient(m_listener);
        if (client == kNoSocket) {
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
            CloseSocket(client);
        }
    }
    for (const Socket client : hanging) {
        CloseSocket(client);
    }
}

bool HttpServer::Answer(Socket client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (!WaitReadable(client, 2000)) {
            return false;
        }
        const long n = Receive(client, buffer, sizeof buffer);
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
        const long n = Send(client, response.data() + sent, response.size() - sent);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return bodyBytes < route.body.size();
}

}  // namespace velmorin::testing
