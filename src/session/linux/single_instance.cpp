// SPDX-License-Identifier: MIT
// The single-instance lock.
#include "session/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace velmorin {

SingleInstance::SingleInstance(const std::string& baseName) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path file =
        runtime != nullptr && *runtime != '\0'
            ? std::filesystem::path(runtime) / (baseName + ".lock")
            : std::filesystem::temp_directory_path() /
                  (baseName + "-" + std::to_string(::getuid()) + ".lock");
    m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A lock that cannot be made at all does not keep the program from
    // running.
    m_first = m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

}  // namespace velmorin
