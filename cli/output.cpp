// SPDX-License-Identifier: MIT
// Write errors of standard output turned into an exit status.
#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace velmorin::cli {

int FinishOutput(int status) {
    // std::cout writes through stdio's stdout (synchronised with it), so a
    // failed write shows in the stream's state and in stdout's error flag;
    // what is still buffered fails only now, at the flush.
    errno = 0;
    std::cout.flush();
    const bool flushFailed = std::fflush(stdout) != 0;
    const int error = errno;
    if (!flushFailed && std::cout.good() && std::ferror(stdout) == 0) {
        return status;
    }
    // An earlier failed write may have left no reason behind.
    std::cerr << "velmorin-cli: cannot write the output"
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
    return status != 0 ? status : 1;
}

}  // namespace velmorin::cli
