// SPDX-License-Identifier: MIT
// Opens an update file for reading. Only regular files count: a directory
// cannot be read and a FIFO or a device node could block or never end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace velmorin {

class UpdateFileReader {
public:
    explicit UpdateFileReader(const std::filesystem::path& path);
    ~UpdateFileReader();
    UpdateFileReader(const UpdateFileReader&) = delete;
    UpdateFileReader& operator=(const UpdateFileReader&) = delete;

    bool IsOpen() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    std::uint64_t Length() const { return m_length; }

    // Reads up to `buffer.size()` bytes, from the start at first and on
    // from where the last read ended; returns how many came (fewer only at
    // the file's end), or -1 after a read error (then Error() says why).
    std::int64_t Read(std::span<std::uint8_t> buffer);

private:
    void Fail(const char* reason);

    // The platform's calls on the descriptor: one read of up to `size`
    // bytes (the count, 0 at the end, -1 with errno on failure; an
    // interrupted read is tried again), and the close.
    static long ReadSome(int fd, std::uint8_t* data, std::size_t size);
    static void Close(int fd);

    std::filesystem::path m_path;
    int m_fd = -1;  // the C runtime's descriptor
    std::uint64_t m_length = 0;
    std::string m_error;
};

}  // namespace velmorin
