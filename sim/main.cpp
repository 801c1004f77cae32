// SPDX-License-Identifier: MIT
// velmorin-sim: a Kestrion charger simulator and update-file sealer, for
// trying the tool, demonstrations and tests without a charger.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "seal_command.h"
#include "session/upgrade_record.h"
#include "simulated_chargers.h"

namespace {

using velmorin::sim::GadgetOptions;
using velmorin::sim::HidChargerOptions;
using velmorin::sim::SerialChargerOptions;

void AddSealCommand(CLI::App& app, velmorin::sim::SealOptions& seal, CLI::App*& command) {
    command = app.add_subcommand("seal", "Seal a payload into an update file");
    command->add_option("PAYLOAD", seal.payloadPath, "the firmware bytes")->required();
    command->add_option("-o,--output", seal.outputPath, "the update file to write")->required();
    command->add_option("--form", seal.form, "whole-file (Triple DES) or header (AES-128)")
        ->check(CLI::IsMember({"whole-file", "header"}))
        ->capture_default_str();
    command->add_option("--version", seal.version, "firmware version text")->capture_default_str();
    command->add_option("--type", seal.type, "charger model name")->capture_default_str();
    command->add_option("--memo", seal.memo, "free text");
    command->add_option("--model-code", seal.modelCode, "model byte, 0-255 (0x.. for hex)")
        ->capture_default_str();
    command->add_flag("--plain-payload", seal.plainPayload,
                      "ask for the payload to travel unmasked over HID");
    command->add_option("--claim-length", seal.claimedLength,
                        "write this payload length into the header instead of the true one");
}

void AddChargerOptions(CLI::App* command, std::filesystem::path& directory, std::string& modelCode,
                       std::string& product, std::string& serialNumber, std::string& idPath,
                       std::filesystem::path& savePath, std::filesystem::path& reportPath) {
    command->add_option("--id-path", idPath,
                        "where it claims to be plugged in, as udev's ID_PATH names it");
    command->add_option("--dir", directory,
                        "virtual device directory (default: $VELMORIN_VIRTUAL_DEVICES)");
    command->add_option("--model-code", modelCode, "the charger's own model byte")
        ->capture_default_str();
    command->add_option("--product", product, "USB product text (the bus text)")
        ->capture_default_str();
    command->add_option("--serial-number", serialNumber, "USB serial number")
        ->capture_default_str();
    command->add_option("--save", savePath, "write the payload of each completed transfer here");
    command->add_option("--report", reportPath, "write what the charger saw here, as JSON");
}

void AddGadgetOptions(CLI::App* command, GadgetOptions& gadget, const std::string& block,
                      const std::string& gadgetUse) {
    command->add_option(
        "--gadget", gadget.directory,
        "the USB gadget's configfs directory (its UDC file unplugs it); " + gadgetUse);
    command
        ->add_option("--unplug-at-block", gadget.unplugBlock,
                     "the first time " + block +
                         " K (from 0) arrives, unplug the gadget and answer nothing ...")
        ->check(CLI::NonNegativeNumber);
    command
        ->add_option("--replug-after-ms", gadget.replugAfterMs,
                     "... and replug it after this many ms (default: stay unplugged)")
        ->check(CLI::Range(0, 3600000));
}

// Only a gadget can be unplugged; the refusal says so. False when refused.
bool GadgetOptionsFit(const std::string& who, const GadgetOptions& gadget) {
    if (gadget.directory.empty() && (gadget.unplugBlock >= 0 || gadget.replugAfterMs >= 0)) {
        std::cerr << who
                  << ": --unplug-at-block and --replug-after-ms need --gadget DIR: only a "
                     "charger played on a USB gadget can be unplugged (through DIR/UDC)\n";
        return false;
    }
    if (gadget.replugAfterMs >= 0 && gadget.unplugBlock < 0) {
        std::cerr << who << ": --replug-after-ms needs --unplug-at-block\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Kestrion charger simulator and update-file sealer.", "velmorin-sim"};
    app.set_version_flag("--version", "velmorin-sim " + std::string(velmorin::ToolVersion()),
                         "print the version and exit");
    app.require_subcommand(1);

    velmorin::sim::SealOptions seal;
    CLI::App* sealCommand = nullptr;
    AddSealCommand(app, seal, sealCommand);

    const char* directoryVariable = std::getenv("VELMORIN_VIRTUAL_DEVICES");
    const std::string defaultDirectory = directoryVariable != nullptr ? directoryVariable : "";

    SerialChargerOptions serial;
    serial.directory = defaultDirectory;
    CLI::App* serialCommand = app.add_subcommand(
        "serial",
        "Simulate a charger on a pseudo-terminal (or a gadget's tty) until stopped (Ctrl-C)");
    AddChargerOptions(serialCommand, serial.directory, serial.modelCode, serial.product,
                      serial.serialNumber, serial.idPath, serial.savePath, serial.reportPath);
    serialCommand->add_option("--port", serial.port, "its COM name")->capture_default_str();
    serialCommand->add_option("--description", serial.description, "device description")
        ->capture_default_str();
    serialCommand->add_option(
        "--node", serial.node,
        "play the charger on this existing tty (a USB gadget's, e.g. /dev/ttyGS0) instead of a "
        "pseudo-terminal: nothing announced, no rate seen");
    AddGadgetOptions(serialCommand, serial.gadget, "data block", "with --node");
    auto& sf = serial.faults;
    serialCommand->add_option("--silent-enter", sf.silentEnter,
                              "leave the first N enter commands unanswered");
    serialCommand->add_option("--silent-wake", sf.silentWake, "leave the first N wakes unanswered");
    serialCommand->add_option("--wrong-wake", sf.wrongWake, "answer the first N wakes wrongly");
    serialCommand->add_option("--refuse-length", sf.refuseLength,
                              "refuse the first N length frames");
    serialCommand->add_option("--resend-block", sf.resendBlock, "ask for block K again ...");
    serialCommand->add_option("--resend-count", sf.resendCount, "... N times each time it comes");
    serialCommand->add_option("--refuse-block", sf.refuseBlock, "refuse block K ...");
    serialCommand->add_option("--refuse-count", sf.refuseCount, "... the first N times it comes");
    serialCommand->add_option("--late-block", sf.lateBlock,
                              "answer block K late, the first time it comes ...");
    serialCommand->add_option("--late-ms", sf.lateMs, "... by this many ms")
        ->check(CLI::Range(0, 60000));
    serialCommand
        ->add_option("--late-wake-ms", sf.lateWakeMs, "answer every wake this many ms late")
        ->check(CLI::Range(0, 60000));
    serialCommand->add_flag("--record-wire", serial.recordWire,
                            "list every exchange received in the report, as hex");
    serialCommand->add_flag("--any-rate", serial.anyRate,
                            "take every byte at the rate the conversation calls for, whatever "
                            "the terminal's rate (for hosts under Wine, which cannot set 128000)");
    serialCommand->add_option("--hang-up-at-block", sf.hangUpBlock,
                              "when block K arrives, hang up the terminal as an unplugged "
                              "adapter does and exit (needs CAP_SYS_ADMIN)");

    HidChargerOptions hid;
    hid.directory = defaultDirectory;
    CLI::App* hidCommand = app.add_subcommand(
        "hid",
        "Simulate a HID charger on a virtual HID socket (or a gadget) until stopped (Ctrl-C)");
    AddChargerOptions(hidCommand, hid.directory, hid.modelCode, hid.product, hid.serialNumber,
                      hid.idPath, hid.savePath, hid.reportPath);
    hidCommand->add_option("--name", hid.name, "file name of its socket and description")
        ->capture_default_str();
    hidCommand->add_option("--vendor-id", hid.vendorId, "USB vendor ID")->capture_default_str();
    hidCommand->add_option("--product-id", hid.productId, "USB product ID")->capture_default_str();
    hidCommand->add_option("--absence-ms", hid.absenceMs, "time off the bus while restarting")
        ->capture_default_str();
    AddGadgetOptions(hidCommand, hid.gadget, "block",
                     "plays the charger on the gadget's report node instead of a socket");
    CLI::Option* hidgOption =
        hidCommand->add_option("--hidg", hid.hidg, "the gadget's report node, with --gadget")
            ->capture_default_str();
    auto& hf = hid.faults;
    hidCommand->add_option("--silent-model", hf.silentModel,
                           "leave the first N model commands unanswered");
    hidCommand->add_option("--refuse-start", hf.refuseStart, "refuse the first N start packets");
    hidCommand->add_option("--silent-start", hf.silentStart,
                           "leave the first N start packets unanswered");
    hidCommand->add_option("--silent-reply", hf.silentReply,
                           "leave the first N replies unanswered");
    hidCommand->add_option("--refuse-reply", hf.refuseReply, "answer the first N replies 'X'");
    hidCommand->add_option("--wrong-challenge", hf.wrongChallenge,
                           "spoil the CRC of the first N challenges");
    hidCommand->add_option("--restart-after-reply", hf.restartAfterReply,
                           "answer the first N replies with a restart");
    hidCommand->add_option("--silent-block", hf.silentBlock, "leave block K unanswered ...");
    hidCommand->add_option("--silent-count", hf.silentCount, "... the first N times it comes")
        ->capture_default_str();
    hidCommand->add_option("--refuse-block", hf.refuseBlock, "refuse block K ...");
    hidCommand->add_option("--refuse-count", hf.refuseCount, "... the first N times it comes")
        ->capture_default_str();
    hidCommand->add_option("--late-block", hf.lateBlock, "answer block K late ...");
    hidCommand
        ->add_option("--late-count", hf.lateCount, "... and the blocks after it, N in all ...")
        ->capture_default_str();
    hidCommand->add_option("--late-ms", hf.lateMs, "... each by this many ms")
        ->check(CLI::Range(0, 60000));
    hidCommand->add_flag("--never-back", hf.neverBack, "never come back after restarting");
    hidCommand->add_flag("--record-wire", hid.recordWire,
                         "list every report received in the report, as hex");
    hidCommand
        ->add_option("--challenge", hid.challenge,
                     "W1,W2,W3: the words of every challenge (W4 makes its CRC 0)")
        ->delimiter(',')
        ->expected(3);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if ((*serialCommand && !GadgetOptionsFit("velmorin-sim serial", serial.gadget)) ||
        (*hidCommand && !GadgetOptionsFit("velmorin-sim hid", hid.gadget))) {
        return 2;
    }
    if (*serialCommand && !serial.gadget.directory.empty() && serial.node.empty()) {
        std::cerr << "velmorin-sim serial: --gadget needs --node, the gadget's tty "
                     "(e.g. /dev/ttyGS0)\n";
        return 2;
    }
    if (*hidCommand && hid.gadget.directory.empty() && hidgOption->count() > 0) {
        std::cerr << "velmorin-sim hid: --hidg needs --gadget, the gadget's configfs directory\n";
        return 2;
    }
    // On a node nothing is announced: no directory is needed.
    const bool onNode = *serialCommand ? !serial.node.empty() : !hid.gadget.directory.empty();
    if ((*serialCommand || *hidCommand) && !onNode &&
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
