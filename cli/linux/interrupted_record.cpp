// SPDX-License-Identifier: MIT
// Interrupted runs' history lines on Linux: fixed buffers that a signal
// handler reads with nothing but open, write, fsync and close. Each run has
// two buffers; a new line goes into the one not shown and is then made the
// shown one in a single store, so the handler never reads a line half
// written.
#include "interrupted_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "session/ledger.h"

namespace velmorin::cli {
namespace {

constexpr int kRuns = 32;
constexpr std::size_t kLineRoom = 4096;
constexpr std::size_t kPathRoom = 4096;

struct Buffer {
    char path[kPathRoom];
    char line[kLineRoom];
    std::size_t length;
};

struct Slot {
    Buffer buffers[2];
    // -1: nothing held; else the buffer shown.
    std::atomic<int> shown{-1};
};

Slot slots[kRuns];

static_assert(std::atomic<int>::is_always_lock_free);

void WriteLine(const Buffer& buffer) {
    const int fd = ::open(buffer.path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        return;
    }
    const char* data = buffer.line;
    std::size_t left = buffer.length;
    while (left > 0) {
        const ssize_t count = ::write(fd, data, left);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        data += count;
        left -= static_cast<std::size_t>(count);
    }
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

void HoldInterruptedLine(int run, const std::filesystem::path& path, LedgerEntry entry) {
    if (run < 0 || run >= kRuns || path.empty()) {
        return;
    }
    entry.outcome = LedgerOutcome::Interrupted;
    // The folder is made now: the handler can only open the file.
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    // The line starts on a line of its own: the file may end in another
    // program's torn line, which the handler cannot look at.
    const std::string line = "\n" + LedgerLine(entry) + "\n";
    const std::string& where = path.native();
    if (line.size() > kLineRoom || where.size() + 1 > kPathRoom) {
        return;
    }
    Slot& slot = slots[run];
    const int shown = slot.shown.load();
    Buffer& spare = slot.buffers[shown == 0 ? 1 : 0];
    std::memcpy(spare.path, where.c_str(), where.size() + 1);
    std::memcpy(spare.line, line.data(), line.size());
    spare.length = line.size();
    slot.shown.store(shown == 0 ? 1 : 0);
}

void DropInterruptedLine(int run) {
    if (run >= 0 && run < kRuns) {
        slots[run].shown.store(-1);
    }
}

void WriteInterruptedLines() {
    for (Slot& slot : slots) {
        const int shown = slot.shown.exchange(-1);
        if (shown >= 0) {
            WriteLine(slot.buffers[shown]);
        }
    }
}

}  // namespace velmorin::cli
