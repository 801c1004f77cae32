// SPDX-License-Identifier: MIT
// Holders of a device node on Linux: every process's open descriptors in
// /proc/<pid>/fd, compared with the node's canonical path.
#include "device/node_holders.h"

#include <filesystem>
#include <fstream>

namespace velmorin {

std::vector<NodeHolder> ProcessesHoldingNode(const std::string& node) {
    std::vector<NodeHolder> holders;
    std::error_code error;
    const auto target = std::filesystem::canonical(node, error);
    if (error) {
        return holders;
    }
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(fd.path(), linkError) == target) {
                holders.push_back({pid, ProcessCommand(pid)});
                break;
            }
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
