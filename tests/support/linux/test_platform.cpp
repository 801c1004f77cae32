// SPDX-License-Identifier: MIT
// The process's environment and ID, and a FIFO, the POSIX way.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/test_files.h"

namespace velmorin::testing {

void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

int ProcessId() {
    return static_cast<int>(::getpid());
}

bool FileModesAreReal() {
    return true;
}

std::filesystem::path MakeNonRegularFile(const std::filesystem::path& directory) {
    const auto fifo = directory / "pipe.bin";
    if (::mkfifo(fifo.c_str(), 0600) != 0) {
        throw std::filesystem::filesystem_error("cannot make a FIFO", fifo,
                                                std::error_code(errno, std::generic_category()));
    }
    return fifo;
}

}  // namespace velmorin::testing
