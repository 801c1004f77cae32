// SPDX-License-Identifier: MIT
// velmorin-sim: a Kestrion charger simulator and update-file sealer, for
// trying the tool, demonstrations and tests without a charger.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "seal_command.h"
#include "virtual_charger.h"

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

    const char* directoryVariable = std::getenv("VELMORIN_VIRTUAL_DEVICES");
    const std::string defaultDirectory = directoryVariable != nullptr ? directoryVariable : "";

    velmorin::sim::SerialChargerOptions serial;
    serial.directory = defaultDirectory;
    CLI::App* serialCommand =
        app.add_subcommand("serial", "Announce a simulated charger on a pseudo-terminal");
    serialCommand->add_option("--dir", serial.directory,
                              "virtual device directory (default: $VELMORIN_VIRTUAL_DEVICES)");
    serialCommand->add_option("--port", serial.port, "its COM name")->capture_default_str();
    serialCommand->add_option("--description", serial.description, "device description")
        ->capture_default_str();
    serialCommand->add_option("--product", serial.product, "USB product text (the bus text)")
        ->capture_default_str();
    serialCommand->add_option("--serial-number", serial.serialNumber, "USB serial number")
        ->capture_default_str();

    velmorin::sim::HidChargerOptions hid;
    hid.directory = defaultDirectory;
    CLI::App* hidCommand = app.add_subcommand("hid", "Announce a simulated HID charger");
    hidCommand->add_option("--dir", hid.directory,
                           "virtual device directory (default: $VELMORIN_VIRTUAL_DEVICES)");
    hidCommand->add_option("--name", hid.name, "file name of its socket and description")
        ->capture_default_str();
    hidCommand->add_option("--vendor-id", hid.vendorId, "USB vendor ID")->capture_default_str();
    hidCommand->add_option("--product-id", hid.productId, "USB product ID")->capture_default_str();
    hidCommand->add_option("--product", hid.product, "USB product text")->capture_default_str();
    hidCommand->add_option("--serial-number", hid.serialNumber, "USB serial number")
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if ((*serialCommand || *hidCommand) &&
        (*serialCommand ? serial.directory : hid.directory).empty()) {
        std::cerr << "velmorin-sim: name the virtual device directory with --dir or "
                     "VELMORIN_VIRTUAL_DEVICES\n";
        return 2;
    }
    if (*serialCommand) {
        return velmorin::sim::RunSerialCharger(serial);
    }
    if (*hidCommand) {
        return velmorin::sim::RunHidCharger(hid);
    }
    if (*sealCommand) {
        return velmorin::sim::RunSealCommand(seal);
    }
    return 2;
}
