// SPDX-License-Identifier: MIT
// Why a serial port could not be opened, in words an operator can act on:
// held by another program (and which), no permission (and what fixes it),
// or no such device.
#pragma once

#include <string>
#include <vector>

namespace velmorin::cli {

std::vector<std::string> ExplainPortFailure(const std::string& node, int error);

}  // namespace velmorin::cli
