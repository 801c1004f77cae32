// SPDX-License-Identifier: MIT
// The history's place checked as a program starts: a regular file or
// nothing yet, never a FIFO, a folder, a socket or a device.
#include "session/ledger_path.h"

#include <system_error>

#include "image/file_path.h"

namespace velmorin {
namespace {

// What the thing at the history's place is, in words; empty for a regular
// file, for nothing at all and for a kind that cannot be told.
std::string_view KindText(std::filesystem::file_type type) {
    switch (type) {
    case std::filesystem::file_type::directory:
        return "a directory";
    case std::filesystem::file_type::fifo:
        return "a FIFO";
    case std::filesystem::file_type::socket:
        return "a socket";
    case std::filesystem::file_type::block:
        return "a block device";
    case std::filesystem::file_type::character:
        return "a character device";
    case std::filesystem::file_type::regular:
    case std::filesystem::file_type::none:
    case std::filesystem::file_type::not_found:
    case std::filesystem::file_type::symlink:
    case std::filesystem::file_type::unknown:  // its kind cannot be told (no permission)
        break;
    }
    return {};
}

}  // namespace

std::string LedgerPathProblem(const std::filesystem::path& path) {
    if (path.empty()) {
        return {};
    }
    // Follows links: a link to the history file is as good as the file.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    const std::string_view kind = KindText(status.type());
    if (kind.empty()) {
        return {};
    }
    return "the history " + TextOfPath(path) + " is not a regular file (it is " +
           std::string(kind) + "); remove it or set " + std::string(LedgerFolderVariable()) +
           " to another folder";
}

}  // namespace velmorin
