// SPDX-License-Identifier: MIT
// velmorin-sim: a Kestrion charger simulator and update-file sealer, for
// trying the tool, demonstrations and tests without a charger.
#include <CLI/CLI.hpp>

#include "seal_command.h"

int main(int argc, char** argv) {
    CLI::App app{"Kestrion charger simulator and update-file sealer.", "velmorin-sim"};
    app.require_subcommand(1);

    velmorin::sim::SealOptions seal;
    CLI::App* sealCommand = app.add_subcommand("seal", "Seal a payload into an update file");
    sealCommand->add_option("PAYLOAD", seal.payloadPath, "the firmware bytes")->required();
    sealCommand->add_option("-o,--output", seal.outputPath, "the update file to write")->required();
    sealCommand->add_option("--form", seal.form, "whole-file (Triple DES) or header (AES-128)")
        ->check(CLI::IsMember({"whole-file", "header"}))
        ->capture_default_str();
    sealCommand->add_option("--version", seal.version, "firmware version text")
        ->capture_default_str();
    sealCommand->add_option("--type", seal.type, "charger model name")->capture_default_str();
    sealCommand->add_option("--memo", seal.memo, "free text");
    sealCommand->add_option("--model-code", seal.modelCode, "model byte, 0-255 (0x.. for hex)")
        ->capture_default_str();
    sealCommand->add_flag("--plain-payload", seal.plainPayload,
                          "ask for the payload to travel unmasked over HID");
    sealCommand->add_option("--claim-length", seal.claimedLength,
                            "write this payload length into the header instead of the true one");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if (*sealCommand) {
        return velmorin::sim::RunSealCommand(seal);
    }
    return 2;
}
