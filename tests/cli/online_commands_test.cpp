// SPDX-License-Identifier: MIT
// `velmorin-cli check-release`, `catalogue` and `download` against a real
// HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <fstream>

#include "image/update_sealer.h"
#include "online/catalogue.h"
#include "support/http_server.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::RunProgram;

class CliOnlineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::uint8_t> payload(512, 0x42);
        UpdateHeader fields;
        fields.version = "V3.01";
        fields.type = "2020C";
        fields.modelCode = 0x2A;
        const auto file = SealUpdateFile(fields, payload, SealedForm::WholeFile);
        m_server.Serve("/files/k2020c.bin", std::string(file.begin(), file.end()));
        const std::string base = "http://" + m_server.Host();
        m_server.Serve(std::string(kCatalogueAddressPath),
                       "[Software]\nVer=V2.3\nURL=" + base +
                           "/new\n[File List]\nCountEx=2\n"
                           "Type0=2020C\nFileName0=../../k2020c\nVer0=V3.01\nUpdated0=2026-11-02\n"
                           "URL0=" +
                           base +
                           "/files/k2020c.bin\nNote0=Faster balancing\n"
                           "Type1=1010B\nFileName1=k1010b\nURL1=file:///etc/hostname\n");
    }

    testing::ProgramOutcome Cli(std::vector<std::string> args) {
        args.insert(args.begin(), VELMORIN_CLI);
        // The catalogue's temporary file goes to the current directory.
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(m_directory.Path());
        auto outcome = RunProgram(args);
        std::filesystem::current_path(previous);
        return outcome;
    }

    testing::TempDirectory m_directory;
    testing::HttpServer m_server;
    testing::ScopedEnvironment m_update{"VELMORIN_UPDATE_SERVER", m_server.Host()};
    testing::ScopedEnvironment m_fallback{"VELMORIN_FALLBACK_SERVER",
                                          testing::HttpServer::RefusingHost()};
};

TEST_F(CliOnlineTest, ReleaseCatalogueAndDownload) {
    const auto release = Cli({"check-release"});
    EXPECT_EQ(release.exitCode, 0);
    EXPECT_EQ(release.out,
              "Please download the newly released version: http://" + m_server.Host() + "/new\n");

    const auto catalogue = Cli({"catalogue"});
    EXPECT_EQ(catalogue.exitCode, 0) << catalogue.err;
    EXPECT_EQ(catalogue.out, "0\t2020C\t../../k2020c\tV3.01\t2026-11-02\thttp://" +
                                 m_server.Host() +
                                 "/files/k2020c.bin\tFaster balancing\n"
                                 "1\t1010B\tk1010b\t\t\tfile:///etc/hostname\t\n");

    // The catalogue's "../../k2020c" lands in this directory as k2020c.bin.
    const auto download = Cli({"download", "0"});
    EXPECT_EQ(download.exitCode, 0) << download.err;
    EXPECT_NE(download.out.find("Version: V3.01\nType: 2020C\n"), std::string::npos)
        << download.out;
    EXPECT_TRUE(std::filesystem::exists(m_directory.Path() / "k2020c.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_directory.Path() / kTemporaryCatalogue));

    // A file: address is refused like a failed download.
    const auto refused = Cli({"download", "1", "-o", "other.bin"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err.rfind("Download failed.\n\nError = 0x800C0001\n\n", 0), 0u)
        << refused.err;
    EXPECT_EQ(Cli({"download", "7"}).exitCode, 2);
}

TEST_F(CliOnlineTest, NoServer) {
    const testing::ScopedEnvironment refused("VELMORIN_UPDATE_SERVER",
                                             testing::HttpServer::RefusingHost());
    const auto catalogue = Cli({"catalogue"});
    EXPECT_EQ(catalogue.exitCode, 1);
    EXPECT_EQ(catalogue.err.rfind("Connecting server failed.\n\nError = 0x800C0007\n\n", 0), 0u)
        << catalogue.err;
    EXPECT_EQ(Cli({"check-release"}).exitCode, 1);
}

}  // namespace
}  // namespace velmorin
