// SPDX-License-Identifier: MIT
// Both upgrades of the known-answer files against the simulated chargers,
// compared byte for byte with the conversations that an implementation
// written apart from velmorin puts on the wire: every serial exchange (the
// paced enter line, the wake, the length frame, each masked block and its
// check byte) and every HID report (model command, start packet, reply,
// masked blocks) with a fixed nonce and challenge.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "protocol/challenge_crc.h"
#include "protocol/hid_upgrade.h"
#include "protocol/protocol_clock.h"
#include "protocol/serial_upgrade.h"
#include "protocol/upgrade_fixture.h"
#include "support/recording_host.h"

namespace velmorin {
namespace {

using testing::Bytes;
using testing::RecordingHost;
// One exchange: what the charger took the bytes for, and the bytes in hex.
using Exchange = std::pair<std::string, std::string>;

const std::filesystem::path kKnownAnswers = VELMORIN_KNOWN_ANSWERS;

nlohmann::json ReadJson(const std::string& name) {
    const Bytes text = testing::ReadBytes(kKnownAnswers / name);
    return nlohmann::json::parse(text.begin(), text.end());
}

std::vector<Exchange> Exchanges(const nlohmann::json& wire) {
    std::vector<Exchange> exchanges;
    for (const auto& exchange : wire) {
        exchanges.emplace_back(exchange[0], exchange[1]);
    }
    return exchanges;
}

// Names the first exchange that differs, rather than printing both lists.
void ExpectSameExchanges(const std::vector<Exchange>& seen, const std::vector<Exchange>& known) {
    for (std::size_t i = 0; i < std::min(seen.size(), known.size()); ++i) {
        if (seen[i] != known[i]) {
            ADD_FAILURE() << "exchange " << i << " differs:\n  seen  " << seen[i].first << ' '
                          << seen[i].second << "\n  known " << known[i].first << ' '
                          << known[i].second;
            return;
        }
    }
    EXPECT_EQ(seen.size(), known.size()) << "the charger received a different number of exchanges";
}

// A HID report as the charger receives it: report ID 0, then the data,
// zero-filled to 64 bytes.
std::string ReportHex(const std::string& dataHex) {
    return "00" + dataHex + std::string(128 - dataHex.size(), '0');
}

std::string TextHex(const std::string& text) {
    std::ostringstream hex;
    for (const unsigned char c : text) {
        hex << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 0x0F];
    }
    return hex.str();
}

// A seed whose nonce source gives `nonce` first.
std::optional<std::uint32_t> SeedForNonce(std::uint32_t nonce) {
    for (std::uint32_t seed = 1; seed < (1u << 24); ++seed) {
        if (NonceSource(seed).Next() == nonce) {
            return seed;
        }
    }
    return std::nullopt;
}

class KnownAnswerUpgrade : public testing::UpgradeFixture {};

TEST_F(KnownAnswerUpgrade, SerialWireOfTheWholeFile) {
    StartCharger("serial", "COM201.json",
                 {"--port", "COM201", "--model-code", "33", "--record-wire"});
    RecordingHost host((kKnownAnswers / "whole-file.bin").string(), "COM201");
    const UpgradeReport report = UpgradeOverSerial(host);
    EXPECT_EQ(host.messageBoxes, std::vector<std::string>{"Upgrade completion!|Success|none"});
    EXPECT_EQ(report.attempts, 1);
    const auto seen = StopCharger();

    std::vector<Exchange> known;
    std::ifstream lines(kKnownAnswers / "serial-wire.txt");
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') {
            const auto space = line.find(' ');
            known.emplace_back(line.substr(0, space), line.substr(space + 1));
        }
    }
    ASSERT_FALSE(known.empty());
    ExpectSameExchanges(Exchanges(seen.value("wire", nlohmann::json::array())), known);
    EXPECT_EQ(testing::ReadBytes(Received()),
              testing::ReadBytes(kKnownAnswers / "whole-file.payload"));
}

TEST_F(KnownAnswerUpgrade, HidConversationOfTheHeaderFormFile) {
    const auto known = ReadJson("hid-wire.json");
    const auto& words = known["challenge_words_N_w1_w2_w3_w4"];
    StartCharger("hid", "charger1.json",
                 {"--model-code", "16", "--record-wire", "--challenge",
                  std::to_string(words[1].get<std::uint32_t>()) + "," +
                      std::to_string(words[2].get<std::uint32_t>()) + "," +
                      std::to_string(words[3].get<std::uint32_t>())});
    // The bytes past the payload in the last block are zeros: the run loads
    // the file into an image of its own.
    const std::optional<std::uint32_t> seed = SeedForNonce(known["nonce"]);
    ASSERT_TRUE(seed);
    NonceSource nonces(*seed);
    RecordingHost host((kKnownAnswers / "header-form.bin").string(), "HID0");
    const UpgradeReport report = UpgradeOverHid(host, nonces);
    ASSERT_EQ(host.messageBoxes.size(), 1u);
    EXPECT_EQ(host.messageBoxes[0].rfind("Upgrade completion!", 0), 0u) << host.messageBoxes[0];
    EXPECT_EQ(report.attempts, 1);
    const auto seen = StopCharger();

    std::vector<Exchange> expected = {
        {"model-command", ReportHex(TextHex(known["model_command_line"]))},
        {"start-packet", ReportHex(known["start_packet"])},
        {"reply", ReportHex(known["reply_bytes"])},
    };
    for (std::size_t i = 0; i < known["blocks"].size(); ++i) {
        expected.emplace_back("block-" + std::to_string(i), ReportHex(known["blocks"][i]));
    }
    ExpectSameExchanges(Exchanges(seen.value("wire", nlohmann::json::array())), expected);
    // The simulator's challenge is the known one, its check word included.
    EXPECT_EQ(seen.value("challenges", nlohmann::json::array()),
              nlohmann::json::array({known["challenge_answer_bytes_0_to_19"]}));
    EXPECT_EQ(testing::ReadBytes(Received()),
              testing::ReadBytes(kKnownAnswers / "header-form.payload"));
}

TEST(KnownAnswerChallenge, CrcOfTheFiveWordsIsZero) {
    const auto known = ReadJson("hid-wire.json");
    const auto all = known["challenge_words_N_w1_w2_w3_w4"].get<std::vector<std::uint32_t>>();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(ChallengeCrc(all), 0u);
    EXPECT_EQ(ChallengeCrc(std::span(all).first(4)), all[4]);
}

}  // namespace
}  // namespace velmorin
