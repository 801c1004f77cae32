// SPDX-License-Identifier: MIT
// A small HTTP/1.0 server on 127.0.0.1 for tests: it serves the bodies it is
// given by path, answers 404 otherwise, can redirect, and can be told to
// accept connections and never answer, or to stop answering one path
// part-way through its body.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "support/loopback_socket.h"

namespace velmorin::testing {

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // "127.0.0.1:port"
    std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
    void Serve(const std::string& path, std::string body, int status = 200);
    void Redirect(const std::string& path, const std::string& location);
    // Answers `path` with the headers of the whole `body` and its first
    // `sentBytes` bytes, then holds the connection without a word more.
    void Stall(const std::string& path, std::string body, std::size_t sentBytes);
    // Accept connections but never answer.
    void Hang(bool hang) { m_hang = hang; }
    int Requests() const { return m_requests; }

    // A port on 127.0.0.1 where nothing listens.
    static std::string RefusingHost();

private:
    struct Route {
        int status;
        std::string body;
        std::string location;
        std::size_t sentBytes;  // of the body; npos: all of it
    };
    void Run();
    // True when the connection is to be held open.
    bool Answer(Socket client);

    Socket m_listener = kNoSocket;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_hang{false};
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
    std::map<std::string, Route> m_routes;
    std::thread m_thread;
};

}  // namespace velmorin::testing
