// SPDX-License-Identifier: MIT
// Finding out what keeps a serial port from opening on Linux: who holds
// it, and which group or udev rule gives access.
#include "port_diagnosis.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "device/node_holders.h"

namespace velmorin::cli {
namespace {

// The udev rule that gives the logged-in user a charger's serial port and
// keeps ModemManager from probing it; the project installs it.
constexpr char kSerialUdevRule[] =
    "SUBSYSTEM==\"tty\", ATTRS{product}==\"Varno*\", MODE=\"0660\", TAG+=\"uaccess\", "
    "ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
constexpr char kHidUdevRule[] =
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"575[0-9a-fA-F]\", "
    "MODE=\"0660\", TAG+=\"uaccess\"";
constexpr char kUdevRulePath[] = "/etc/udev/rules.d/70-kestrion.rules";

}  // namespace

std::vector<std::string> ExplainPortFailure(const std::string& node, int error,
                                            std::uint32_t rateRefused) {
    std::vector<std::string> lines;
    if (rateRefused != 0) {
        lines.push_back("The port cannot run at " + std::to_string(rateRefused) + " baud (" + node +
                        "): the charger's bootloader needs it. Use a USB-serial adapter that "
                        "can, or the charger's own USB connection.");
        return lines;
    }
    if (node.empty() || error == ENOENT || error == ENODEV || error == ENXIO) {
        lines.push_back(
            "No such device" + (node.empty() ? std::string() : ": " + node) +
            ". Is the charger plugged in? `velmorin-cli list` shows what is connected.");
        return lines;
    }
    if (error == EBUSY) {
        lines.push_back(node + " is busy: another program holds it.");
        bool modemManager = false;
        for (const NodeHolder& holder : ProcessesHoldingNode(node)) {
            lines.push_back("  held by process " + holder.pid + " (" + holder.command + ")");
            modemManager = modemManager || holder.command == "ModemManager";
        }
        if (modemManager) {
            // It probes new serial devices with AT commands for several
            // seconds, which a bootloader would take for frames.
            lines.push_back(
                "ModemManager is probing the port as a modem. Install the udev rule that tells "
                "it to leave chargers alone (" +
                std::string(kSerialUdevRule) + " in " + kUdevRulePath +
                "), re-plug the charger, or stop it with `sudo systemctl stop ModemManager`.");
            return lines;
        }
        lines.push_back("Close that program (or wait for its upgrade to end) and try again.");
        return lines;
    }
    if (error == EACCES || error == EPERM) {
        lines.push_back("No permission to open " + node + ".");
        const bool hid = node.rfind("/dev/hidraw", 0) == 0;
        const std::string rule =
            "install the udev rule " + std::string(hid ? kHidUdevRule : kSerialUdevRule) + " in " +
            kUdevRulePath + " and re-plug the charger (it serves local logins)";
        // Joining the node's group helps only where that group may read and
        // write it; never advise joining root's group.
        struct stat status {};
        const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
        const group* owner = nullptr;
        if (::stat(node.c_str(), &status) == 0 && status.st_gid != 0 &&
            (status.st_mode & groupReadWrite) == groupReadWrite) {
            owner = ::getgrgid(status.st_gid);
        }
        if (owner != nullptr) {
            lines.push_back("  It belongs to the group '" + std::string(owner->gr_name) +
                            "': add yourself with `sudo usermod -aG " + owner->gr_name +
                            " $USER`, then log in again;");
            lines.push_back("  or " + rule + ".");
        } else {
            lines.push_back("  To fix it, " + rule + ".");
        }
        return lines;
    }
    lines.push_back(std::string(std::strerror(error)) + " (" + node + ")");
    return lines;
}

}  // namespace velmorin::cli
