// SPDX-License-Identifier: MIT
// Update files through POSIX descriptors. The open does not block on a FIFO
// and does not make a terminal the controlling one.
#include "image/update_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/file_path.h"

namespace velmorin {

UpdateFileReader::UpdateFileReader(const std::filesystem::path& path) : m_path(path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        Fail(std::strerror(errno));
        return;
    }
    struct stat status {};
    if (::fstat(m_fd, &status) != 0) {
        Fail(std::strerror(errno));
    } else if (S_ISDIR(status.st_mode)) {
        Fail(std::strerror(EISDIR));
    } else if (!S_ISREG(status.st_mode)) {
        Fail("not a regular file");
    } else {
        m_length = static_cast<std::uint64_t>(status.st_size);
    }
}

UpdateFileReader::~UpdateFileReader() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::int64_t UpdateFileReader::Read(std::span<std::uint8_t> buffer) {
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t count = ::read(m_fd, buffer.data() + total, buffer.size() - total);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            Fail(std::strerror(errno));
            return -1;
        }
        if (count == 0) {
            break;
        }
        total += static_cast<std::size_t>(count);
    }
    return static_cast<std::int64_t>(total);
}

void UpdateFileReader::Fail(const char* reason) {
    m_error = "cannot open " + TextOfPath(m_path) + ": " + reason;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace velmorin
