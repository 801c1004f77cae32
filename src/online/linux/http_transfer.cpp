// SPDX-License-Identifier: MIT
// HTTP transfers with libcurl.
#include "online/http_transfer.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "image/file_path.h"
#include "online/http_address.h"

namespace velmorin {

// Failures carry libcurl's own codes, which the shared names stand for.
static_assert(kTransferUnsupportedProtocol == CURLE_UNSUPPORTED_PROTOCOL);
static_assert(kTransferFailedInit == CURLE_FAILED_INIT);
static_assert(kTransferMalformedAddress == CURLE_URL_MALFORMAT);
static_assert(kTransferHostNotResolved == CURLE_COULDNT_RESOLVE_HOST);
static_assert(kTransferCannotConnect == CURLE_COULDNT_CONNECT);
static_assert(kTransferWeirdServerReply == CURLE_WEIRD_SERVER_REPLY);
static_assert(kTransferPartialFile == CURLE_PARTIAL_FILE);
static_assert(kTransferWriteError == CURLE_WRITE_ERROR);
static_assert(kTransferOutOfMemory == CURLE_OUT_OF_MEMORY);
static_assert(kTransferTimedOut == CURLE_OPERATION_TIMEDOUT);
static_assert(kTransferSecureConnectError == CURLE_SSL_CONNECT_ERROR);
static_assert(kTransferAborted == CURLE_ABORTED_BY_CALLBACK);
static_assert(kTransferTooManyRedirects == CURLE_TOO_MANY_REDIRECTS);
static_assert(kTransferGotNothing == CURLE_GOT_NOTHING);
static_assert(kTransferSendError == CURLE_SEND_ERROR);
static_assert(kTransferReceiveError == CURLE_RECV_ERROR);
static_assert(kTransferPeerNotVerified == CURLE_PEER_FAILED_VERIFICATION);
static_assert(kTransferTooLarge == CURLE_FILESIZE_EXCEEDED);

namespace {

struct Sink {
    int fd = -1;
    std::uint64_t written = 0;
    std::uint64_t limit = 0;
    bool tooLarge = false;
    int writeErrno = 0;
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
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            sink->writeErrno = n < 0 ? errno : ENOSPC;
            return 0;
        }
        done += static_cast<size_t>(n);
    }
    sink->written += length;
    return length;
}

int AskStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* stop = static_cast<const std::function<bool()>*>(user);
    return (*stop)() ? 1 : 0;
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// The file a download replaces: the path itself, or for a symbolic link the
// regular file it leads to (the link stays a link to the new content).
struct Target {
    std::filesystem::path path;
    bool exists = false;
    struct stat status {};
    std::string problem;
};

Target ResolveTarget(const std::filesystem::path& requested) {
    Target target;
    target.path = requested;
    const std::string shown = TextOfPath(requested);
    if (requested.empty()) {
        target.problem = "cannot save a download: no file name is given";
        return target;
    }
    struct stat status {};
    if (::lstat(requested.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            target.problem = "cannot save to " + shown + ": " + std::strerror(errno);
        }
        return target;  // a new name
    }
    if (S_ISLNK(status.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(requested.c_str(), resolved) == nullptr) {
            target.problem = "cannot save to " + shown + ": the link leads nowhere (" +
                             std::strerror(errno) + ")";
            return target;
        }
        target.path = resolved;
        if (::stat(resolved, &status) != 0) {
            target.problem = "cannot save to " + shown + ": " + std::strerror(errno);
            return target;
        }
    }
    if (!S_ISREG(status.st_mode)) {
        target.problem = "cannot save to " + shown + ": it is " + KindOf(status.st_mode) +
                         "; a download goes only to a regular file or a new name";
        return target;
    }
    target.exists = true;
    target.status = status;
    return target;
}

// A file beside `path` that nobody else has: created exclusively. A file
// that replaces another is private until it takes the old file's mode.
int CreateTemporary(const std::filesystem::path& path, bool replacing,
                    std::filesystem::path& temporary) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = path;
        temporary += ".part-" + std::to_string(random());
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              replacing ? 0600 : 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Keeps a refused body as "<path>.rejected", replacing only an earlier
// refused body (a regular file), never anything else of that name.
std::filesystem::path KeepRejected(const std::filesystem::path& temporary,
                                   const std::filesystem::path& path) {
    std::filesystem::path kept = path;
    kept += ".rejected";
    struct stat status {};
    if (::lstat(kept.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        return {};
    }
    return ::rename(temporary.c_str(), kept.c_str()) == 0 ? kept : std::filesystem::path();
}

}  // namespace

std::string DownloadTargetProblem(const std::filesystem::path& path) {
    return ResolveTarget(path).problem;
}

TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                              const TransferLimits& limits, const BodyCheck& check) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    TransferResult result;
    if (!initialised) {
        result.status = TransferStatus(CURLE_FAILED_INIT);
        result.message = curl_easy_strerror(CURLE_FAILED_INIT);
        return result;
    }
    if (!IsWebAddress(url)) {
        result.status = TransferStatus(CURLE_UNSUPPORTED_PROTOCOL);
        result.message = kOnlyWebAddresses;
        return result;
    }
    const Target target = ResolveTarget(path);
    if (!target.problem.empty()) {
        result.status = TransferStatus(CURLE_WRITE_ERROR);
        result.message = target.problem;
        return result;
    }
    std::filesystem::path temporary;
    Sink sink;
    sink.limit = limits.maxBytes;
    sink.fd = CreateTemporary(target.path, target.exists, temporary);
    if (sink.fd < 0) {
        result.status = TransferStatus(CURLE_WRITE_ERROR);
        result.message = "cannot create " + TextOfPath(temporary) + ": " + std::strerror(errno);
        return result;
    }

    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (limits.stop) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, AskStop);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &limits.stop);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode code = curl_easy_perform(curl);
    long httpStatus = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &httpStatus);
    curl_off_t connectedAfterUs = 0;
    curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectedAfterUs);
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    const std::string host = HostOf(effectiveUrl != nullptr ? effectiveUrl : url.c_str());
    curl_easy_cleanup(curl);

    bool written = ::fsync(sink.fd) == 0;
    if (target.exists) {
        // The new content takes the place of the old file: its mode too.
        const struct stat& old = target.status;
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] const int kept = ::fchown(sink.fd, old.st_uid, old.st_gid);
        }
        written = ::fchmod(sink.fd, old.st_mode & 07777) == 0 && written;
    }
    written = ::close(sink.fd) == 0 && written;

    if (code == CURLE_OK && httpStatus >= 400) {
        result.status = TransferStatus(static_cast<std::uint32_t>(httpStatus));
        result.message = HttpErrorMessage(host, httpStatus);
    } else if (sink.tooLarge) {
        result.status = TransferStatus(CURLE_FILESIZE_EXCEEDED);
        result.message = TooLargeMessage(host, limits.maxBytes);
    } else if (code == CURLE_ABORTED_BY_CALLBACK) {
        result.status = static_cast<std::int32_t>(kTransferStatusStopped);
        result.message = StoppedMessage(host);
    } else if (code == CURLE_WRITE_ERROR && sink.writeErrno != 0) {
        result.status = TransferStatus(code);
        result.message =
            "cannot write " + TextOfPath(temporary) + ": " + std::strerror(sink.writeErrno);
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result.status = TransferStatus(code);
        result.message = TimedOutMessage(host, connectedAfterUs > 0, limits.connectTimeoutMs,
                                         limits.totalTimeoutMs);
    } else if (code != CURLE_OK) {
        result.status = TransferStatus(code);
        result.message = host + ": " + curl_easy_strerror(code);
    } else if (!written) {
        result.status = TransferStatus(CURLE_WRITE_ERROR);
        result.message = "cannot write " + TextOfPath(temporary) + ": " + std::strerror(errno);
    }
    std::error_code error;
    if (result.Succeeded() && check) {
        result.rejection = check(temporary);
        if (!result.rejection.empty()) {
            result.keptAt = KeepRejected(temporary, target.path);
        }
    }
    if (result.Succeeded()) {
        // rename() puts the complete file in place at once; a link that
        // appeared at the name since is replaced, never written through.
        std::filesystem::rename(temporary, target.path, error);
        if (error) {
            result.status = TransferStatus(CURLE_WRITE_ERROR);
            result.message = "cannot write " + TextOfPath(target.path) + ": " + error.message();
        } else {
            result.replaced = target.exists;
        }
    }
    if (!result.Succeeded()) {
        std::filesystem::remove(temporary, error);  // a kept body is no longer there
    }
    return result;
}

}  // namespace velmorin
