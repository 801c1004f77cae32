// SPDX-License-Identifier: MIT
// Update files: the parts of the reader that every platform shares (the
// open is each platform's own).
#include "image/update_file_reader.h"

#include <cerrno>
#include <cstring>

#include "image/file_path.h"

namespace velmorin {

UpdateFileReader::~UpdateFileReader() {
    if (m_fd >= 0) {
        Close(m_fd);
    }
}

std::int64_t UpdateFileReader::Read(std::span<std::uint8_t> buffer) {
    std::size_t total = 0;
    while (total < buffer.size()) {
        const long count = ReadSome(m_fd, buffer.data() + total, buffer.size() - total);
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
        Close(m_fd);
        m_fd = -1;
    }
}

}  // namespace velmorin
