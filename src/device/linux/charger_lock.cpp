// SPDX-License-Identifier: MIT
// Charger locks on Linux: a flock on a file per charger in the temporary
// directory, readable and writable by every user (a run as root and one as
// an operator must see each other), holding the holder's process ID. The
// kernel drops the lock when the holder ends, however it ends.
#include "device/charger_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "device/node_holders.h"

namespace velmorin {

// The lock file's descriptor (-1 for a run that goes on unguarded).
struct ChargerLock::Native {
    explicit Native(int descriptor) : fd(descriptor) {}
    int fd;
};

ChargerLock::ChargerLock(std::unique_ptr<Native> native) : m_native(std::move(native)) {}
namespace {

std::string HolderOf(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    const std::string pid = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : "";
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
        return "another process";
    }
    const std::string command = ProcessCommand(pid);
    return command.empty() ? "process " + pid : "process " + pid + " (" + command + ")";
}

}  // namespace

std::unique_ptr<ChargerLock> ChargerLock::Acquire(std::string_view identity, std::string& holder,
                                                  std::string& lockPath) {
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    lockPath = ((error ? std::filesystem::path("/tmp") : directory) /
                (ChargerLockName(identity) + ".lock"))
                   .string();
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        // A lock file another user made without access for us: held or
        // not, it cannot be checked, so the run goes on unguarded rather
        // than never.
        return std::unique_ptr<ChargerLock>(new ChargerLock(std::make_unique<Native>(-1)));
    }
    ::fchmod(fd, 0666);  // past the umask, for the other users' runs
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        holder = HolderOf(fd);
        ::close(fd);
        return nullptr;
    }
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    return std::unique_ptr<ChargerLock>(new ChargerLock(std::make_unique<Native>(fd)));
}

ChargerLock::~ChargerLock() {
    if (m_native->fd >= 0) {
        // Emptying the file tells a reader that no process holds the lock; if
        // it cannot be emptied, the next holder overwrites the stale PID.
        [[maybe_unused]] const int emptied = ::ftruncate(m_native->fd, 0);
        ::close(m_native->fd);  // also releases the lock
    }
}

}  // namespace velmorin
