// SPDX-License-Identifier: MIT
// The update catalogue against a real HTTP server on 127.0.0.1: the release
// check, the fallback server, the failure texts, the catalogue's entries, and
// the guards against a hostile or broken server.
#include "online/catalogue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "online/http_transfer.h"
#include "online/private_profile.h"
#include "support/http_server.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::HttpServer;

// Each test works in a directory of its own: the catalogue's temporary file
// lives in the current directory.
class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_directory.Path());
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    void UseServers(const std::string& update, const std::string& fallback) {
        m_update.reset();  // the old settings go back first
        m_fallback.reset();
        m_update = std::make_unique<testing::ScopedEnvironment>("VELMORIN_UPDATE_SERVER", update);
        m_fallback =
            std::make_unique<testing::ScopedEnvironment>("VELMORIN_FALLBACK_SERVER", fallback);
    }

    static bool TemporaryFileGone() { return !std::filesystem::exists(kTemporaryCatalogue); }

    testing::TempDirectory m_directory;
    std::filesystem::path m_previous;
    HttpServer m_server;
    std::unique_ptr<testing::ScopedEnvironment> m_update;
    std::unique_ptr<testing::ScopedEnvironment> m_fallback;
    testing::ScopedEnvironment m_webSite{"VELMORIN_WEB_SITE", std::string("www.test.example")};
};

const std::string kCatalogue(kCatalogueAddressPath);

TEST_F(CatalogueTest, ReleaseCheck) {
    UseServers(m_server.Host(), HttpServer::RefusingHost());
    struct Row {
        const char* catalogue;
        bool newer;
        const char* address;
    };
    const Row rows[] = {
        {"[Software]\nVer=V2.3\nURL=http://get.example/v23\n", true, "http://get.example/v23"},
        {"[Software]\nVer=V2.2\nURL=http://get.example/v22\n", false, ""},
        {"[Software]\nVer=V2.10\nURL=http://get.example/\n", false, ""},
        {"[Software]\nVer=V10.0\nURL=http://get.example/\n", false, ""},
        {"[Software]\nVer=v1.0\nURL=http://get.example/lower\n", true, "http://get.example/lower"},
        {"[software]\r\nver = V3.0\r\n", true, "www.test.example"},  // no URL key
        {"[File List]\nCountEx=0\n", false, ""},                     // no Software section
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.catalogue);
        m_server.Serve(kCatalogue, row.catalogue);
        std::string address = "unchanged";
        EXPECT_EQ(CheckForNewRelease(address), row.newer);
        EXPECT_EQ(address, row.newer ? row.address : "unchanged");
        EXPECT_TRUE(TemporaryFileGone());
    }
}

TEST_F(CatalogueTest, FallbackServerAndFailureTexts) {
    m_server.Serve(kCatalogue, "[Software]\nVer=V9\n");
    UseServers(HttpServer::RefusingHost(), m_server.Host());
    std::string address;
    EXPECT_TRUE(CheckForNewRelease(address));  // from the fallback server
    EXPECT_EQ(address, "www.test.example");

    std::vector<std::string> reports;
    const auto report = [&](const std::string& text) { reports.push_back(text); };
    UseServers(HttpServer::RefusingHost(), HttpServer::RefusingHost());
    EXPECT_FALSE(FetchCatalogue(report));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("Connecting server failed.\n\nError = 0x800C0007\n\n", 0), 0u)
        << reports[0];
    EXPECT_FALSE(CheckForNewRelease(address));  // silent
    EXPECT_EQ(reports.size(), 1u);

    // An HTTP error is a failure with its status in the code.
    UseServers(m_server.Host(), m_server.Host());
    m_server.Serve(kCatalogue, "gone", 404);
    EXPECT_FALSE(FetchCatalogue(report));
    EXPECT_EQ(reports.back().rfind("Connecting server failed.\n\nError = 0x800C0194\n\n", 0), 0u)
        << reports.back();
}

std::string Entries(int countEx, int first, int last, const std::string& extra = "") {
    std::string text = "[File List]\nCountEx=" + std::to_string(countEx) + "\n" + extra;
    for (int i = first; i <= last; ++i) {
        const std::string n = std::to_string(i);
        text += "Type" + n + "=T" + n + "\nFileName" + n + "=F" + n + "\nVer" + n + "=V" + n +
                "\nUpdated" + n + "=U" + n + "\nURL" + n + "=http://x/" + n + "\nNote" + n + "=N" +
                n + "\nRelease" + n + "=R" + n + "\nReleaseURL" + n + "=http://r/" + n + "\n";
    }
    return text;
}

TEST_F(CatalogueTest, Entries) {
    UseServers(m_server.Host(), m_server.Host());
    const auto load = [&](const std::string& catalogue) {
        m_server.Serve(kCatalogue, catalogue);
        EXPECT_TRUE(FetchCatalogue(nullptr));
        auto entries = LoadCatalogue();
        EXPECT_TRUE(TemporaryFileGone());
        return entries;
    };
    // CountEx 3 with keys 1 to 3: row 0 is empty, keys numbered 3 are not read.
    auto entries = load(Entries(3, 1, 3));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].type, "");
    EXPECT_EQ(entries[0].url, "");
    EXPECT_EQ(entries[2].fileName, "F2");
    EXPECT_EQ(entries[2].note, "N2");
    EXPECT_EQ(ReleaseTable[2].caption, "R2");
    EXPECT_EQ(ReleaseTable[1].address, "http://r/1");

    EXPECT_EQ(load(Entries(124, 0, 123)).size(), 124u);
    EXPECT_EQ(ReleaseTable[19].caption, "R19");  // the table's last slot; nothing past it
    for (const int count : {125, 0, -1}) {
        EXPECT_TRUE(load(Entries(count, 0, 2)).empty()) << count;
    }
    EXPECT_TRUE(load("[File List]\nType0=x\n").empty());  // no CountEx

    const std::string longNote(200, 'n');
    entries = load(Entries(1, 0, 0, "Note0=" + longNote + "\n"));
    EXPECT_EQ(entries[0].note, longNote.substr(0, 124));  // the first Note0 counts, cut at 124
}

TEST(PrivateProfile, IntegersAndNames) {
    const auto profile = PrivateProfile::Parse(
        "[A]\nn1=12abc\nn2=abc\nn3= -7 \nn4=\"quoted\"\n[a]\nn1=99\n[B]\nKey=first\nkey=second\n");
    EXPECT_EQ(profile.GetInt("a", "N1", 5), 12);
    EXPECT_EQ(profile.GetInt("A", "n2", 5), 0);
    EXPECT_EQ(profile.GetInt("A", "n3", 5), -7);
    EXPECT_EQ(profile.GetInt("A", "missing", 5), 5);
    EXPECT_EQ(profile.GetString("A", "n4", ""), "quoted");
    EXPECT_EQ(profile.GetString("b", "KEY", ""), "first");
    EXPECT_EQ(profile.GetString("C", "x", "default"), "default");
}

TEST_F(CatalogueTest, HostileOrBrokenServers) {
    // File names from the catalogue become plain local names.
    EXPECT_EQ(ProposedFileName("../../etc/passwd"), "passwd.bin");
    EXPECT_EQ(ProposedFileName("dir\\sub\\Kestrion_1010B"), "Kestrion_1010B.bin");
    EXPECT_EQ(ProposedFileName(".."), "update.bin");
    EXPECT_EQ(ProposedFileName(""), "update.bin");

    // Only http and https, also after a redirect.
    const auto target = m_directory.Path() / "update.bin";
    EXPECT_EQ(DownloadToFile("file:///etc/hostname", target).status,
              static_cast<std::int32_t>(0x800C0001));
    m_server.Redirect("/jump", "file:///etc/hostname");
    EXPECT_FALSE(DownloadToFile("http://" + m_server.Host() + "/jump", target).Succeeded());
    EXPECT_FALSE(std::filesystem::exists(target));

    // A failed download leaves the file that was there.
    std::ofstream(target) << "the old update file";
    m_server.Serve("/update.bin", "", 500);
    EXPECT_FALSE(DownloadToFile("http://" + m_server.Host() + "/update.bin", target).Succeeded());
    std::ifstream old(target);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(old)), {}), "the old update file");

    // Answers past their cap are refused.
    m_server.Serve("/big.bin", std::string(2000, 'b'));
    TransferLimits limits;
    limits.maxBytes = 1000;
    EXPECT_EQ(DownloadToFile("http://" + m_server.Host() + "/big.bin", target, limits).status,
              static_cast<std::int32_t>(0x800C003F));
    UseServers(m_server.Host(), m_server.Host());
    m_server.Serve(kCatalogue, std::string(kMaxCatalogueBytes + 1, ';'));
    EXPECT_FALSE(FetchCatalogue(nullptr));

    // The temporary catalogue does not write through a link of its name.
    const auto victim = m_directory.Path() / "victim.txt";
    std::ofstream(victim) << "keep me";
    std::filesystem::create_symlink(victim, kTemporaryCatalogue);
    m_server.Serve(kCatalogue, "[Software]\nVer=V1.0\n");
    EXPECT_TRUE(FetchCatalogue(nullptr));
    EXPECT_FALSE(std::filesystem::is_symlink(kTemporaryCatalogue));
    LoadCatalogue();
    std::ifstream kept(victim);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "keep me");
    EXPECT_TRUE(TemporaryFileGone());
}

TEST_F(CatalogueTest, ReleaseCheckGivesUpOnASilentServer) {
    m_server.Hang(true);
    UseServers(m_server.Host(), m_server.Host());
    std::string address;
    EXPECT_FALSE(CheckForNewRelease(address));
    EXPECT_GE(m_server.Requests(), 1);
}

}  // namespace
}  // namespace velmorin
