// SPDX-License-Identifier: MIT
// Seals a payload file into an update file in either form.
#include "seal_command.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "image/update_header.h"
#include "image/update_sealer.h"
#include "number_text.h"

namespace velmorin::sim {
int RunSealCommand(const SealOptions& options) {
    SealedForm form;
    if (options.form == "whole-file") {
        form = SealedForm::WholeFile;
    } else if (options.form == "header") {
        form = SealedForm::HeaderOnly;
    } else {
        std::cerr << "velmorin-sim seal: --form must be whole-file or header\n";
        return 1;
    }
    const auto modelCode = ParseNumberText(options.modelCode, 0xFF);
    if (!modelCode) {
        std::cerr
            << "velmorin-sim seal: --model-code must be a number from 0 to 255 (0x.. for hex)\n";
        return 1;
    }

    std::ifstream in(options.payloadPath, std::ios::binary);
    if (!in) {
        std::cerr << "velmorin-sim seal: cannot open " << options.payloadPath << ": "
                  << std::strerror(errno) << '\n';
        return 1;
    }
    const std::vector<std::uint8_t> payload((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());

    UpdateHeader fields;
    fields.version = options.version;
    fields.type = options.type;
    fields.memo = options.memo;
    fields.modelCode = static_cast<std::uint8_t>(*modelCode);
    fields.plainPayload = options.plainPayload ? 1 : 0;

    std::vector<std::uint8_t> sealed;
    try {
        if (options.claimedLength) {
            fields.tag = kUpdateTag;
            fields.payloadLength = *options.claimedLength;
            const auto header = BuildPlainHeader(fields);
            std::vector<std::uint8_t> plain(header.begin(), header.end());
            plain.insert(plain.end(), payload.begin(), payload.end());
            sealed = SealPlainFile(plain, form);
        } else {
            sealed = SealUpdateFile(fields, payload, form);
        }
    } catch (const SealError& e) {
        std::cerr << "velmorin-sim seal: " << e.what() << '\n';
        return 1;
    }

    std::ofstream out(options.outputPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(sealed.data()),
              static_cast<std::streamsize>(sealed.size()));
    out.close();
    if (!out) {
        std::cerr << "velmorin-sim seal: cannot write " << options.outputPath << ": "
                  << std::strerror(errno) << '\n';
        return 1;
    }
    if (form == SealedForm::WholeFile && sealed.size() % 8 != 0) {
        std::cerr << "velmorin-sim seal: note: the file is not a whole number of 8-byte blocks, so "
                     "its last "
                  << sealed.size() % 8
                  << " payload bytes will not decipher to themselves; pad the payload to keep "
                     "them\n";
    }
    std::cout << "sealed " << payload.size() << " payload bytes into " << options.outputPath << " ("
              << sealed.size() << " bytes, " << options.form << " form)\n";
    return 0;
}

}  // namespace velmorin::sim
