// SPDX-License-Identifier: MIT
// HTTP transfer of a resource into a file: a GET, redirects followed, the
// body written whole to the path. Only http and https addresses are
// fetched; the body goes to a temporary file beside the path and replaces
// the path only when it is complete, so a failed transfer never destroys
// what was there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace velmorin {

struct TransferLimits {
    long connectTimeoutMs = 3000;
    long totalTimeoutMs = 60000;
    std::uint64_t maxBytes = 16 * 1024 * 1024;
};

struct TransferResult {
    // 0 on success; on failure a negative 32-bit status: 0x800C0000 | the
    // HTTP status for an HTTP error, 0x800C0000 | the transfer library's
    // code otherwise.
    std::int32_t status = 0;
    std::string message;  // the system's text for the status; empty when there is none

    bool Succeeded() const { return status >= 0; }
};

inline constexpr std::uint32_t kTransferStatusBase = 0x800C0000;

TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                              const TransferLimits& limits = {});

}  // namespace velmorin
