// SPDX-License-Identifier: MIT
// HTTP transfers with libcurl.
#include "online/http_transfer.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace velmorin {
namespace {

struct Sink {
    int fd = -1;
    std::uint64_t written = 0;
    std::uint64_t limit = 0;
    bool tooLarge = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t length = size * count;
    if (sink->written + length > sink->limit) {
        sink->tooLarge = true;
        return 0;  // ends the transfer
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(sink->fd, data + done, length - done);
        if (n <= 0) {
            return 0;
        }
        done += static_cast<size_t>(n);
    }
    sink->written += length;
    return length;
}

std::int32_t Status(std::uint32_t code) {
    return static_cast<std::int32_t>(kTransferStatusBase | (code & 0xFFFF));
}

bool IsWebAddress(const std::string& url) {
    const auto starts = [&](const char* scheme) {
        const std::string prefix(scheme);
        if (url.size() < prefix.size()) {
            return false;
        }
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(url[i])) != prefix[i]) {
                return false;
            }
        }
        return true;
    };
    return starts("http://") || starts("https://");
}

// A file beside `path` that nobody else has: created exclusively.
int CreateTemporary(const std::filesystem::path& path, std::filesystem::path& temporary) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = path;
        temporary += ".part-" + std::to_string(random());
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                              const TransferLimits& limits) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    TransferResult result;
    if (!initialised) {
        result.status = Status(CURLE_FAILED_INIT);
        result.message = curl_easy_strerror(CURLE_FAILED_INIT);
        return result;
    }
    if (!IsWebAddress(url)) {
        result.status = Status(CURLE_UNSUPPORTED_PROTOCOL);
        result.message = "Only http and https addresses are fetched.";
        return result;
    }
    std::filesystem::path temporary;
    Sink sink;
    sink.limit = limits.maxBytes;
    sink.fd = CreateTemporary(path, temporary);
    if (sink.fd < 0) {
        result.status = Status(CURLE_WRITE_ERROR);
        result.message = "cannot create " + temporary.string() + ": " + std::strerror(errno);
        return result;
    }

    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = curl_easy_perform(curl);
    long httpStatus = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &httpStatus);
    curl_easy_cleanup(curl);
    const bool closed = ::close(sink.fd) == 0;

    if (code == CURLE_OK && httpStatus >= 400) {
        result.status = Status(static_cast<std::uint32_t>(httpStatus));
        result.message = "The server answered HTTP " + std::to_string(httpStatus) + ".";
    } else if (sink.tooLarge) {
        result.status = Status(CURLE_FILESIZE_EXCEEDED);
        result.message = "The answer is larger than " + std::to_string(limits.maxBytes) + " bytes.";
    } else if (code != CURLE_OK) {
        result.status = Status(code);
        result.message = curl_easy_strerror(code);
    } else if (!closed) {
        result.status = Status(CURLE_WRITE_ERROR);
        result.message = curl_easy_strerror(CURLE_WRITE_ERROR);
    }
    std::error_code error;
    if (result.Succeeded()) {
        // rename() replaces a link of that name; it never writes through it.
        std::filesystem::rename(temporary, path, error);
        if (error) {
            result.status = Status(CURLE_WRITE_ERROR);
            result.message = "cannot write " + path.string() + ": " + error.message();
        }
    }
    if (!result.Succeeded()) {
        std::filesystem::remove(temporary, error);
    }
    return result;
}

}  // namespace velmorin
