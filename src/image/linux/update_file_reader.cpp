// SPDX-License-Identifier: MIT
// Update files through POSIX descriptors. The open does not block on a FIFO
// and does not make a terminal the controlling one.
#include "image/update_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

long UpdateFileReader::ReadSome(int fd, std::uint8_t* data, std::size_t size) {
    ssize_t count = 0;
    do {
        count = ::read(fd, data, size);
    } while (count < 0 && errno == EINTR);
    return static_cast<long>(count);
}

void UpdateFileReader::Close(int fd) {
    ::close(fd);
}

}  // namespace velmorin
