// SPDX-License-Identifier: MIT
// Finding out what keeps a serial port from opening on Windows. A port is
// the property of the one program that has it open, and the system cannot
// say which program that is; access rights rarely stand in the way, so
// both failures point at the other program first.
#include "port_diagnosis.h"

#include <cerrno>
#include <cstring>

#include "device/node_holders.h"

namespace velmorin::cli {
namespace {

// "COM5" for the system's path "\\.\COM5": the name the operator knows.
std::string PortName(const std::string& node) {
    return node.rfind("\\\\.\\", 0) == 0 ? node.substr(4) : node;
}

}  // namespace

std::vector<std::string> ExplainPortFailure(const std::string& node, int error,
                                            std::uint32_t rateRefused) {
    const std::string port = PortName(node);
    std::vector<std::string> lines;
    if (rateRefused != 0) {
        lines.push_back("The port cannot run at " + std::to_string(rateRefused) + " baud (" + port +
                        "): the charger's bootloader needs it. Use a USB-serial adapter that "
                        "can, or the charger's own USB connection.");
        return lines;
    }
    if (node.empty() || error == ENOENT || error == ENODEV || error == ENXIO) {
        lines.push_back(
            "No such device" + (port.empty() ? std::string() : ": " + port) +
            ". Is the charger plugged in? `velmorin-cli list` shows what is connected.");
        return lines;
    }
    if (error == EBUSY) {
        lines.push_back(port + " is busy: another program holds it.");
        for (const NodeHolder& holder : ProcessesHoldingNode(node)) {
            lines.push_back("  held by process " + holder.pid + " (" + holder.command + ")");
        }
        lines.push_back(
            "Close that program (a terminal program, another update tool, or another run of "
            "this one, or wait for its upgrade to end) and try again.");
        return lines;
    }
    if (error == EACCES || error == EPERM) {
        lines.push_back("No permission to open " + port + ".");
        lines.push_back(
            "  Another program may hold it (close it and try again), or this account may not "
            "open it: ask an administrator to give it access to the port.");
        return lines;
    }
    lines.push_back(std::string(std::strerror(error)) + " (" + port + ")");
    return lines;
}

}  // namespace velmorin::cli
