// SPDX-License-Identifier: MIT
// What the upgrade tests share: a virtual device directory, a simulated
// charger running as its own process, update files sealed for it, and what
// the charger reported and received once it is stopped.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <numeric>
#include <string>
#include <vector>

#include "device/virtual/virtual_devices.h"
#include "image/update_sealer.h"
#include "support/recording_host.h"
#include "support/test_support.h"

namespace velmorin::testing {

using Bytes = std::vector<std::uint8_t>;

// Whole-file-form files whose length is not a multiple of 8 cannot carry
// their last bytes (the format deciphers a short last block as if zeros
// completed it), so tests of that form use lengths that keep 512 + length a
// multiple of 8.
inline Bytes Payload(std::size_t length, std::uint8_t seed = 7) {
    Bytes payload(length);
    for (std::size_t i = 0; i < length; ++i) {
        payload[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 8));
    }
    return payload;
}

class UpgradeFixture : public ::testing::Test {
protected:
    // Starts `velmorin-sim kind args...` and waits for it to announce
    // `announced` (its description file).
    void StartCharger(const std::string& kind, const std::string& announced,
                      std::vector<std::string> args) {
        std::vector<std::string> command = {VELMORIN_SIM, kind,
                                            "--dir",      Dir().string(),
                                            "--save",     Received().string(),
                                            "--report",   ReportPath().string()};
        command.insert(command.end(), args.begin(), args.end());
        m_charger = std::make_unique<BackgroundProgram>(command);
        ASSERT_TRUE(WaitForFile(Dir() / announced)) << "the simulator did not announce itself";
    }

    // Stops the charger; its report afterwards.
    nlohmann::json StopCharger() {
        m_charger.reset();
        std::ifstream in(ReportPath());
        return nlohmann::json::parse(in, nullptr, false);
    }

    std::filesystem::path Seal(const Bytes& payload, SealedForm form, std::uint8_t modelCode = 0x01,
                               std::uint8_t plainPayload = 0,
                               const std::string& version = "V1.00") {
        UpdateHeader fields;
        fields.version = version;
        fields.type = "1010B";
        fields.modelCode = modelCode;
        fields.plainPayload = plainPayload;
        const Bytes file = SealUpdateFile(fields, payload, form);
        const auto path = Dir() / ("update-" + std::to_string(m_files++) + ".bin");
        testing::WriteBytes(path, file);
        return path;
    }

    // What every way out of an upgrade leaves behind in the window.
    static void ExpectWindowSetBack(const RecordingHost& host) {
        EXPECT_FALSE(host.statusVisible);
        EXPECT_FALSE(host.progressVisible);
        EXPECT_TRUE(host.updateEnabled);
    }

    const std::filesystem::path& Dir() const { return m_directory.Path(); }
    std::filesystem::path Received() const { return Dir() / "received.bin"; }
    std::filesystem::path ReportPath() const { return Dir() / "report.json"; }

private:
    TempDirectory m_directory;
    ScopedEnvironment m_environment{kVirtualDevicesVariable, m_directory.Path().string()};
    std::unique_ptr<BackgroundProgram> m_charger;
    int m_files = 0;
};

}  // namespace velmorin::testing
