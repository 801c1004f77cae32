// SPDX-License-Identifier: MIT
// `velmorin-sim seal`: makes sealed update files, as the maker's tools do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmorin::sim {

struct SealOptions {
    std::string payloadPath;
    std::string outputPath;
    std::string form = "whole-file";  // or "header"
    std::string version = "V1.00";
    std::string type = "1010B";
    std::string memo;
    std::string modelCode = "0x01";
    bool plainPayload = false;
    // Writes this payload length into the header instead of the true one,
    // to make files that the tool must reject.
    std::optional<std::uint32_t> claimedLength;
};

// Writes the sealed file; returns the exit status: 0, 1 with a message on
// standard error when the payload cannot be read (it must be a regular
// file) or sealed or the file cannot be written, 2 for a --form or
// --model-code that is no such value.
int RunSealCommand(const SealOptions& options);

}  // namespace velmorin::sim
