// SPDX-License-Identifier: MIT
// HTTP transfer of a resource into a file: a GET, redirects followed, the
// body written whole to the path. Only http and https addresses are
// fetched; the body goes to a temporary file beside the path and replaces
// the path only when it is complete (and, when asked, checked), so a failed
// or refused transfer never destroys what was there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace velmorin {

struct TransferLimits {
    long connectTimeoutMs = 3000;
    long totalTimeoutMs = 60000;
    std::uint64_t maxBytes = 16 * 1024 * 1024;
    // Asked several times a second while the transfer runs; true ends it (an
    // interrupted program uses it so that its temporary file goes).
    std::function<bool()> stop;
};

struct TransferResult {
    // 0 on success; on failure a negative 32-bit status: 0x800C0000 | the
    // HTTP status for an HTTP error, 0x800C0000 | the transfer library's
    // code otherwise.
    std::int32_t status = 0;
    // The system's text for the status, beginning with the host (and port)
    // that failed; empty when there is none.
    std::string message;
    // The body arrived whole but its check refused it: the check's reason.
    // The path was then left as it was.
    std::string rejection;
    // Where a refused body was kept (empty when it could not be kept).
    std::filesystem::path keptAt;
    // True when the existing file at the path was replaced (false for a new name).
    bool replaced = false;

    bool Succeeded() const { return status >= 0 && rejection.empty(); }
    bool Rejected() const { return status >= 0 && !rejection.empty(); }
};

inline constexpr std::uint32_t kTransferStatusBase = 0x800C0000;
// The status of a transfer ended by TransferLimits::stop.
inline constexpr std::uint32_t kTransferStatusStopped = kTransferStatusBase | 42;

// Checks a complete body (in the file at the given path) before it replaces
// anything: empty when it is acceptable, else the reason it is refused.
using BodyCheck = std::function<std::string(const std::filesystem::path& body)>;

// Where a download may go: a regular file or a new name in an existing
// directory. A symbolic link counts as the file it leads to. Returns empty
// when the path may take a download, else why not ("cannot save to
// /dev/null: it is a character device; ...").
std::string DownloadTargetProblem(const std::filesystem::path& path);

// Fetches `url` into `path`. Before the transfer the path is checked as
// DownloadTargetProblem does (a refusal is a failure with the write-error
// status). A symbolic link is followed: its target is replaced, the link
// stays. A replaced file keeps its mode (and its owner where this process
// may keep it). With `check`, a complete body it refuses leaves the path as
// it was and is kept beside it as "<path>.rejected" (see TransferResult).
// The temporary file is removed on every way out, `stop` included.
TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                              const TransferLimits& limits = {}, const BodyCheck& check = {});

}  // namespace velmorin
