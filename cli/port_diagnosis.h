// SPDX-License-Identifier: MIT
// Why a serial port could not be opened, in words an operator can act on:
// held by another program (and which, where the system can tell), no
// permission (and what fixes it), or no such device. The advice is the
// platform's own (udev rules on Linux).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmorin::cli {

// `node` and `error` as the failed open left them; `rateRefused` the rate
// the port could not run at (0 when the rate was not the trouble).
std::vector<std::string> ExplainPortFailure(const std::string& node, int error,
                                            std::uint32_t rateRefused = 0);

}  // namespace velmorin::cli
