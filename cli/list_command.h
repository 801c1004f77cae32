// SPDX-License-Identifier: MIT
// `velmorin-cli list`: the device table as the device list shows it.
#pragma once

namespace velmorin::cli {

// Prints one line per entry: the device name, a tab, the list line (line
// breaks and tabs in them escaped). Exit status 0, or 1 when the output
// cannot be written; a discovery error is printed and counts as no device.
int RunListCommand(bool includeComPorts, bool json);

}  // namespace velmorin::cli
