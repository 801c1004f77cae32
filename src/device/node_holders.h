// SPDX-License-Identifier: MIT
// Which processes have a device node open: for telling an operator who holds
// a busy port, and for the simulator to see that its host has gone.
#pragma once

#include <string>
#include <vector>

namespace velmorin {

struct NodeHolder {
    std::string pid;
    std::string command;  // the process's command name, empty when unreadable
};

// The processes that have `node` open, found through /proc; processes this
// one may not inspect are missed. Empty when `node` does not exist. For a
// pseudo-terminal, a process that also holds its master (a simulated
// charger on the far side) stands in for the device, not for a competing
// program, and is left out.
std::vector<NodeHolder> ProcessesHoldingNode(const std::string& node);

// The command name of process `pid`, empty when it cannot be read.
std::string ProcessCommand(const std::string& pid);

}  // namespace velmorin
