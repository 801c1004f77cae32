// SPDX-License-Identifier: MIT
// Finding out what keeps a serial port from opening.
#include "port_diagnosis.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace velmorin::cli {
namespace {

// The processes that have `node` open, as "PID (command)".
std::vector<std::string> Holders(const std::string& node) {
    std::vector<std::string> holders;
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
                std::string command;
                std::getline(std::ifstream(process.path() / "comm"), command);
                holders.push_back(pid + " (" + command + ")");
                break;
            }
        }
    }
    return holders;
}

}  // namespace

std::vector<std::string> ExplainPortFailure(const std::string& node, int error) {
    std::vector<std::string> lines;
    if (node.empty() || error == ENOENT || error == ENODEV || error == ENXIO) {
        lines.push_back(
            "No such device" + (node.empty() ? std::string() : ": " + node) +
            ". Is the charger plugged in? `velmorin-cli list` shows what is connected.");
        return lines;
    }
    if (error == EBUSY) {
        lines.push_back(node + " is busy: another program holds it.");
        for (const std::string& holder : Holders(node)) {
            lines.push_back("  held by process " + holder);
        }
        lines.push_back("Close that program (or wait for its upgrade to end) and try again.");
        return lines;
    }
    if (error == EACCES || error == EPERM) {
        lines.push_back("No permission to open " + node + ".");
        // Joining the node's group helps only where that group may read and
        // write it; never advise joining root's group.
        struct stat status {};
        const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
        if (::stat(node.c_str(), &status) == 0 && status.st_gid != 0 &&
            (status.st_mode & groupReadWrite) == groupReadWrite) {
            const group* owner = ::getgrgid(status.st_gid);
            if (owner != nullptr) {
                lines.push_back("  It belongs to the group '" + std::string(owner->gr_name) +
                                "': add yourself with `sudo usermod -aG " + owner->gr_name +
                                " $USER`, then log in again,");
            }
        }
        lines.push_back(
            "  or install a udev rule such as SUBSYSTEM==\"tty\", ATTRS{product}==\"Varno*\", "
            "MODE=\"0660\", TAG+=\"uaccess\" in /etc/udev/rules.d/70-kestrion.rules.");
        return lines;
    }
    lines.push_back(std::string(std::strerror(error)) + " (" + node + ")");
    return lines;
}

}  // namespace velmorin::cli
