// SPDX-License-Identifier: MIT
// Update files through the C runtime's descriptors, opened by their wide
// (UTF-16) names so that any file name the system can hold opens, in binary
// mode. Names such as COM1 or NUL lead to devices, which the type check
// turns away before anything is read.
#include "image/update_file_reader.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace velmorin {

UpdateFileReader::UpdateFileReader(const std::filesystem::path& path) : m_path(path) {
    m_fd = ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (m_fd < 0) {
        // A directory fails the open with EACCES; say what it is instead.
        std::error_code error;
        Fail(std::filesystem::is_directory(path, error) ? std::strerror(EISDIR)
                                                        : std::strerror(errno));
        return;
    }
    struct _stat64 status {};
    if (::_fstat64(m_fd, &status) != 0) {
        Fail(std::strerror(errno));
    } else if ((status.st_mode & _S_IFMT) == _S_IFDIR) {
        Fail(std::strerror(EISDIR));
    } else if ((status.st_mode & _S_IFMT) != _S_IFREG) {
        Fail("not a regular file");
    } else {
        m_length = static_cast<std::uint64_t>(status.st_size);
    }
}

long UpdateFileReader::ReadSome(int fd, std::uint8_t* data, std::size_t size) {
    return ::_read(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX / 2)));
}

void UpdateFileReader::Close(int fd) {
    ::_close(fd);
}

}  // namespace velmorin
