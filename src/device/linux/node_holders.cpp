// SPDX-License-Identifier: MIT
// Holders of a device node on Linux: every process's open descriptors in
// /proc/<pid>/fd, compared with the node's canonical path.
#include "device/node_holders.h"

#include <filesystem>
#include <fstream>

namespace velmorin {

namespace {

constexpr char kPseudoTerminalPrefix[] = "/dev/pts/";

// Whether descriptor `fd` of the process at `process` is the master of the
// pseudo-terminal numbered `index`: a /dev/ptmx descriptor whose fdinfo names
// that tty-index.
bool IsPseudoTerminalMaster(const std::filesystem::path& process, const std::filesystem::path& fd,
                            const std::filesystem::path& target, const std::string& index) {
    if (target != "/dev/ptmx" && target != "/dev/pts/ptmx") {
        return false;
    }
    std::ifstream info(process / "fdinfo" / fd.filename());
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("tty-index:", 0) == 0) {
            const auto start = line.find_first_not_of(" \t", 10);
            return start != std::string::npos && line.substr(start) == index;
        }
    }
    return false;
}

}  // namespace

std::vector<NodeHolder> ProcessesHoldingNode(const std::string& node) {
    std::vector<NodeHolder> holders;
    std::error_code error;
    const auto target = std::filesystem::canonical(node, error);
    if (error) {
        return holders;
    }
    const std::string path = target.string();
    const std::string ptyIndex = path.rfind(kPseudoTerminalPrefix, 0) == 0
                                     ? path.substr(sizeof kPseudoTerminalPrefix - 1)
                                     : std::string();
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        bool holds = false;
        bool otherEnd = false;
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            const auto link = std::filesystem::read_symlink(fd.path(), linkError);
            if (linkError) {
                continue;
            }
            holds = holds || link == target;
            otherEnd =
                otherEnd || (!ptyIndex.empty() &&
                             IsPseudoTerminalMaster(process.path(), fd.path(), link, ptyIndex));
            if (holds && ptyIndex.empty()) {
                break;
            }
        }
        if (holds && !otherEnd) {
            holders.push_back({pid, ProcessCommand(pid)});
        }
    }
    return holders;
}

std::string ProcessCommand(const std::string& pid) {
    std::string command;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), command);
    return command;
}

}  // namespace velmorin
