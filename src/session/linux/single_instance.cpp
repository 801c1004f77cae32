// SPDX-License-Identifier: MIT
// The single-instance lock on Linux: a lock on "<base name>.lock" in the
// user's runtime directory (else the temporary directory, with the user id
// in the name).
#include "session/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace velmorin {

struct SingleInstance::Native {
    int fd = -1;
};

SingleInstance::SingleInstance(const std::string& baseName) : m_native(std::make_unique<Native>()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path file =
        runtime != nullptr && *runtime != '\0'
            ? std::filesystem::path(runtime) / (baseName + ".lock")
            : std::filesystem::temp_directory_path() /
                  (baseName + "-" + std::to_string(::getuid()) + ".lock");
    m_native->fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A lock that cannot be made at all does not keep the program from
    // running.
    m_first = m_native->fd < 0 || ::flock(m_native->fd, LOCK_EX | LOCK_NB) == 0;
}

SingleInstance::~SingleInstance() {
    if (m_native->fd >= 0) {
        ::close(m_native->fd);
    }
}

}  // namespace velmorin
