// SPDX-License-Identifier: MIT
// Interrupted runs' history lines on Windows, where an ending request is
// handled on a thread of its own while the program's threads go on: the
// lines are kept under a lock and appended as any other.
#include "interrupted_record.h"

#include <array>
#include <mutex>
#include <optional>
#include <utility>

namespace velmorin::cli {
namespace {

struct Held {
    std::filesystem::path path;
    LedgerEntry entry;
};

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::array<std::optional<Held>, 32>& Lines() {
    static std::array<std::optional<Held>, 32> lines;
    return lines;
}

}  // namespace

void HoldInterruptedLine(int run, const std::filesystem::path& path, LedgerEntry entry) {
    if (run < 0 || run >= static_cast<int>(Lines().size()) || path.empty()) {
        return;
    }
    entry.outcome = LedgerOutcome::Interrupted;
    // The folder is made now: the handler can only open the file.
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    const std::lock_guard hold(Lock());
    Lines()[static_cast<std::size_t>(run)] = Held{path, std::move(entry)};
}

void DropInterruptedLine(int run) {
    if (run < 0 || run >= static_cast<int>(Lines().size())) {
        return;
    }
    const std::lock_guard hold(Lock());
    Lines()[static_cast<std::size_t>(run)].reset();
}

void WriteInterruptedLines() {
    const std::lock_guard hold(Lock());
    for (std::optional<Held>& line : Lines()) {
        if (line) {
            AppendToLedger(line->path, line->entry);
            line.reset();
        }
    }
}

}  // namespace velmorin::cli
