// SPDX-License-Identifier: MIT
// The upgrade history on Linux: under the XDG state folder, appended with
// O_APPEND in one write and fsync'd, so that lines from programs running
// side by side never interleave and a finished upgrade's line survives a
// power cut.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/file_path.h"
#include "session/ledger.h"
#include "session/ledger_path.h"

namespace velmorin {
namespace {

// A variable's value; empty when unset.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Makes `folder` and the folders above it. Returns 0, or the errno value of
// the failure (ENOTDIR when something else is in the way).
int MakeFolders(const std::filesystem::path& folder) {
    std::filesystem::path prefix;
    for (const std::filesystem::path& part : folder) {
        prefix /= part;
        if (!prefix.has_relative_path()) {
            continue;  // the root
        }
        if (::mkdir(prefix.c_str(), 0755) == 0) {
            continue;
        }
        const int error = errno;
        struct stat status {};
        if (::stat(prefix.c_str(), &status) == 0) {
            if (S_ISDIR(status.st_mode)) {
                continue;
            }
            return ENOTDIR;
        }
        return error;
    }
    return 0;
}

// Writes all of `bytes`; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace

std::filesystem::path DefaultLedgerPath() {
    // Relative state folders are to be ignored, as if unset.
    const std::filesystem::path state = Environment("XDG_STATE_HOME");
    if (state.is_absolute()) {
        return state / "velmorin" / "history.jsonl";
    }
    const std::string home = Environment("HOME");
    if (home.empty()) {
        return {};
    }
    return std::filesystem::path(home) / ".local" / "state" / "velmorin" / "history.jsonl";
}

std::string_view LedgerFolderVariable() {
    return "XDG_STATE_HOME";
}

std::string AppendToLedger(const std::filesystem::path& path, const LedgerEntry& entry) {
    const auto fail = [&path](int error) {
        return "cannot write the history to " + TextOfPath(path) + ": " + std::strerror(error);
    };
    std::string line = LedgerLine(entry);
    if (line.empty()) {
        return fail(ENOMEM);
    }
    line += '\n';
    if (path.has_parent_path()) {
        if (const int error = MakeFolders(path.parent_path()); error != 0) {
            return fail(error);
        }
    }
    // Read and write: the last byte tells whether a torn line needs ending.
    // Non-blocking, so that a FIFO put in the history's place is refused
    // below rather than waited on; a regular file ignores the flag.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        return fail(errno);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    }
    char last = '\n';
    errno = 0;
    if (status.st_size > 0 && ::pread(fd, &last, 1, status.st_size - 1) != 1) {
        const int error = errno;
        ::close(fd);
        return fail(error != 0 ? error : EIO);
    }
    if (last != '\n') {
        line.insert(line.begin(), '\n');
    }
    if (!WriteAll(fd, line) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (::close(fd) != 0) {
        return fail(errno);
    }
    return {};
}

std::string StationName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::string OperatorName() {
    if (std::string name = Environment("USER"); !name.empty()) {
        return name;
    }
    // Services and cron jobs run without $USER: the passwd entry of the
    // user the process acts as names them.
    const uid_t uid = ::geteuid();
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error == 0 && found != nullptr && found->pw_name != nullptr &&
            found->pw_name[0] != '\0') {
            return found->pw_name;
        }
        break;
    }
    return "uid " + std::to_string(uid);
}

}  // namespace velmorin
