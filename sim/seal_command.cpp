// SPDX-License-Identifier: MIT
// Seals a payload file into an update file in either form.
#include "seal_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "image/update_header.h"
#include "image/update_sealer.h"
#include "number_text.h"

namespace velmorin::sim {
namespace {

constexpr int kUsageError = 2;

void ReportUnreadable(const std::string& path, const std::string& reason) {
    std::cerr << "velmorin-sim seal: cannot read " << path << ": " << reason << '\n';
}

// Reads the whole payload file. Only a regular file will do: a directory
// cannot be read, a FIFO would wait for a writer and a device may never end.
// False with a message on standard error when it cannot be read.
bool ReadPayload(const std::string& path, std::vector<std::uint8_t>& payload) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        std::cerr << "velmorin-sim seal: cannot open " << path << ": " << std::strerror(errno)
                  << '\n';
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        ReportUnreadable(path, std::strerror(EISDIR));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        ReportUnreadable(path, "not a regular file");
        return false;
    }
    // Non-blocking, and checked again once open, in case the name has
    // become a FIFO meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "velmorin-sim seal: cannot open " << path << ": " << std::strerror(errno)
                  << '\n';
        return false;
    }
    bool complete = false;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ReportUnreadable(path, "not a regular file");
    } else {
        std::uint8_t buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                ReportUnreadable(path, std::strerror(errno));
                break;
            }
            if (n == 0) {
                complete = true;
                break;
            }
            payload.insert(payload.end(), buffer, buffer + n);
        }
    }
    ::close(fd);
    return complete;
}

}  // namespace

int RunSealCommand(const SealOptions& options) {
    SealedForm form;
    if (options.form == "whole-file") {
        form = SealedForm::WholeFile;
    } else if (options.form == "header") {
        form = SealedForm::HeaderOnly;
    } else {
        std::cerr << "velmorin-sim seal: --form must be whole-file or header\n";
        return kUsageError;
    }
    const auto modelCode = ParseNumberText(options.modelCode, 0xFF);
    if (!modelCode) {
        std::cerr
            << "velmorin-sim seal: --model-code must be a number from 0 to 255 (0x.. for hex)\n";
        return kUsageError;
    }

    std::vector<std::uint8_t> payload;
    if (!ReadPayload(options.payloadPath, payload)) {
        return 1;
    }

    UpdateHeader fields;
    fields.version = options.version;
    fields.type = options.type;
    fields.memo = options.memo;
    fields.modelCode = static_cast<std::uint8_t>(*modelCode);
    fields.plainPayload = options.plainPayload ? 1 : 0;

    std::vector<std::uint8_t> sealed;
    try {
        if (options.claimedLength) {
            fields.tag = kUpdateTag;
            fields.payloadLength = *options.claimedLength;
            const auto header = BuildPlainHeader(fields);
            std::vector<std::uint8_t> plain(header.begin(), header.end());
            plain.insert(plain.end(), payload.begin(), payload.end());
            sealed = SealPlainFile(plain, form);
        } else {
            sealed = SealUpdateFile(fields, payload, form);
        }
    } catch (const SealError& e) {
        std::cerr << "velmorin-sim seal: " << e.what() << '\n';
        return 1;
    }

    std::ofstream out(options.outputPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(sealed.data()),
              static_cast<std::streamsize>(sealed.size()));
    out.close();
    if (!out) {
        std::cerr << "velmorin-sim seal: cannot write " << options.outputPath << ": "
                  << std::strerror(errno) << '\n';
        return 1;
    }
    if (form == SealedForm::WholeFile && sealed.size() % 8 != 0) {
        std::cerr << "velmorin-sim seal: note: the file is not a whole number of 8-byte blocks, so "
                     "its last "
                  << sealed.size() % 8
                  << " payload bytes will not decipher to themselves; pad the payload to keep "
                     "them\n";
    }
    std::cout << "sealed " << payload.size() << " payload bytes into " << options.outputPath << " ("
              << sealed.size() << " bytes, " << options.form << " form)\n";
    return 0;
}

}  // namespace velmorin::sim
