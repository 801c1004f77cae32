// SPDX-License-Identifier: MIT
// The update catalogue against a real HTTP server on 127.0.0.1: the release
// check, the fallback server, the failure texts, the catalogue's entries, and
// the guards against a hostile or broken server.
#include "online/catalogue.h"

#include <gtest/gtest.h>

#include <fstream>

#include "image/update_image.h"
#include "image/update_sealer.h"
#include "online/catalogue_fixture.h"
#include "online/http_transfer.h"
#include "online/private_profile.h"

namespace velmorin {
namespace {

using testing::HttpServer;
using testing::ReadText;

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
        // Bytes of 0x80 and above are greater than every ASCII one, whatever
        // the sign of char: 0xE9 after "V" beats '2', and so does 0xB0 after "V2.".
        {"[Software]\nVer=V\xE9\nURL=http://get.example/high\n", true, "http://get.example/high"},
        {"[Software]\nVer=V2.\xB0\nURL=http://get.example/b0\n", true, "http://get.example/b0"},
        {"[Software]\nVer=V\xC3\xA9 1\nURL=http://get.example/utf8\n", true,
         "http://get.example/utf8"},
        {"[Software]\nVer=V1\xFF\nURL=http://get.example/\n", false, ""},  // '1' decides first
        {"[software]\r\nver = V3.0\r\n", true, "www.test.example"},        // no URL key
        {"[File List]\nCountEx=0\n", false, ""},                           // no Software section
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
    const std::string first = HttpServer::RefusingHost();
    const std::string second = HttpServer::RefusingHost();
    UseServers(first, second);
    EXPECT_FALSE(FetchCatalogue(report).fetched);
    ASSERT_EQ(reports.size(), 1u);
    // The fallback's status, and each server named with its failure.
    EXPECT_EQ(reports[0], "Connecting server failed.\n\nError = 0x800C0007\n\n" + first +
                              ": Couldn't connect to server\n" + second +
                              ": Couldn't connect to server");
    EXPECT_FALSE(CheckForNewRelease(address));  // silent
    EXPECT_EQ(reports.size(), 1u);

    // An HTTP error is a failure with its status in the code.
    UseServers(m_server.Host(), m_server.Host());
    m_server.Serve(kCatalogue, "gone", 404);
    EXPECT_FALSE(FetchCatalogue(report).fetched);
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
        CatalogueFetchResult fetch = FetchCatalogue(nullptr);
        EXPECT_TRUE(fetch.fetched);
        CatalogueContents contents = LoadCatalogue(fetch.catalogue);
        EXPECT_TRUE(fetch.catalogue.Path().empty());
        EXPECT_TRUE(TemporaryFileGone());
        return contents;
    };
    // CountEx 3 with keys 1 to 3: row 0 is empty, keys numbered 3 are not read.
    CatalogueContents contents = load(Entries(3, 1, 3));
    const std::vector<UpdateEntry>& entries = contents.entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].type, "");
    EXPECT_EQ(entries[0].url, "");
    EXPECT_EQ(entries[2].fileName, "F2");
    EXPECT_EQ(entries[2].note, "N2");
    EXPECT_EQ(contents.releases[2].caption, "R2");
    EXPECT_EQ(contents.releases[1].address, "http://r/1");

    contents = load(Entries(124, 0, 123));
    EXPECT_EQ(contents.entries.size(), 124u);
    EXPECT_EQ(contents.releases[19].caption, "R19");  // the table's last slot; nothing past it
    for (const int count : {125, 0, -1}) {
        EXPECT_TRUE(load(Entries(count, 0, 2)).entries.empty()) << count;
    }
    EXPECT_TRUE(load("[File List]\nType0=x\n").entries.empty());  // no CountEx

    const std::string longNote(200, 'n');
    contents = load(Entries(1, 0, 0, "Note0=" + longNote + "\n"));
    EXPECT_EQ(contents.entries[0].note,
              longNote.substr(0, 124));  // the first Note0 counts, cut at 124
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
    // A byte-order mark before the first section is not part of its name.
    EXPECT_EQ(PrivateProfile::Parse("\xEF\xBB\xBF[File List]\r\nCountEx=2\r\n")
                  .GetInt("File List", "CountEx", 0),
              2);
}

TEST(ServerSettings, HostAndPortOnly) {
    const struct {
        const char* value;
        bool usable;
    } rows[] = {
        {"update.varno.example", true},
        {"127.0.0.1:8080", true},
        {"[::1]:80", true},
        {"host_1.example:65535", true},
        {"http://host", false},
        {"host/UploadFiles", false},
        {"user@host", false},
        {"host:0", false},
        {"host:65536", false},
        {"host:", false},
        {"host port", false},
        {"[::1", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        const testing::ScopedEnvironment setting("VELMORIN_FALLBACK_SERVER",
                                                 std::string(row.value));
        const std::string problem = ServerSettingsProblem();
        EXPECT_EQ(problem.empty(), row.usable) << problem;
        if (!row.usable) {
            EXPECT_EQ(problem.rfind("VELMORIN_FALLBACK_SERVER=" + std::string(row.value) +
                                        ": the variable takes host[:port]",
                                    0),
                      0u)
                << problem;
        }
    }
}

TEST_F(CatalogueTest, HostileOrBrokenServers) {
    // File names from the catalogue become plain local names.
    EXPECT_EQ(ProposedFileName("../../etc/passwd"), "passwd.bin");
    EXPECT_EQ(ProposedFileName("dir\\sub\\Kestrion_1010B"), "Kestrion_1010B.bin");
    EXPECT_EQ(ProposedFileName(".."), "update.bin");
    EXPECT_EQ(ProposedFileName(""), "update.bin");

    // Only http and https, also after a redirect.
    const auto target = m_outside.Path() / "update.bin";
    EXPECT_EQ(DownloadToFile("file:///etc/hostname", target).status,
              static_cast<std::int32_t>(0x800C0001));
    m_server.Redirect("/jump", "file:///etc/hostname");
    EXPECT_FALSE(DownloadToFile("http://" + m_server.Host() + "/jump", target).Succeeded());
    EXPECT_FALSE(std::filesystem::exists(target));

    // A failed download leaves the file that was there.
    std::ofstream(target) << "the old update file";
    m_server.Serve("/update.bin", "", 500);
    const TransferResult failed =
        DownloadToFile("http://" + m_server.Host() + "/update.bin", target);
    EXPECT_EQ(failed.message, m_server.Host() + ": the server answered HTTP 500.");
    EXPECT_EQ(ReadText(target), "the old update file");

    // Answers past their cap are refused.
    m_server.Serve("/big.bin", std::string(2000, 'b'));
    TransferLimits limits;
    limits.maxBytes = 1000;
    EXPECT_EQ(DownloadToFile("http://" + m_server.Host() + "/big.bin", target, limits).status,
              static_cast<std::int32_t>(0x800C003F));
    UseServers(m_server.Host(), m_server.Host());
    m_server.Serve(kCatalogue, std::string(kMaxCatalogueBytes + 1, ';'));
    EXPECT_FALSE(FetchCatalogue(nullptr).fetched);
    EXPECT_TRUE(TemporaryFileGone());

    // The fetched catalogue is in a directory only this user can enter, not
    // in the working directory, and goes with its directory once read.
    m_server.Serve(kCatalogue, "[Software]\nVer=V1.0\n");
    CatalogueFetchResult fetch = FetchCatalogue(nullptr);
    EXPECT_TRUE(fetch.fetched);
    const std::filesystem::path fetched = fetch.catalogue.Path();
    EXPECT_EQ(fetched.parent_path().parent_path(), m_temporary);
    if (testing::FileModesAreReal()) {  // Windows' access lists are checked on their own
        EXPECT_EQ(std::filesystem::status(fetched.parent_path()).permissions(),
                  std::filesystem::perms::owner_all);
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_directory.Path()));
    LoadCatalogue(fetch.catalogue);
    EXPECT_TRUE(fetch.catalogue.Path().empty());
    EXPECT_TRUE(TemporaryFileGone());

    // A fetched catalogue that is never read goes with the result.
    {
        const CatalogueFetchResult unread = FetchCatalogue(nullptr);
        ASSERT_TRUE(unread.fetched);
        EXPECT_TRUE(std::filesystem::exists(unread.catalogue.Path()));
    }
    EXPECT_TRUE(TemporaryFileGone());
}

// The downloaded bytes pass the header check before they replace anything;
// refused bytes are kept beside the target, which stays as it was.
TEST_F(CatalogueTest, RejectedDownloads) {
    const auto seal = [](const char* version, std::size_t payloadLength) {
        UpdateHeader fields;
        fields.version = version;
        fields.type = "2020C";
        const auto file = SealUpdateFile(fields, std::vector<std::uint8_t>(payloadLength, 0x42),
                                         SealedForm::WholeFile);
        return std::string(file.begin(), file.end());
    };
    const std::string good = seal("V1.00", 512);
    const std::string newer = seal("V2.00", 512);
    struct Row {
        const char* name;
        std::string body;
        bool targetExists;
        std::string rejection;
    };
    const Row rows[] = {
        {"accepted file", newer, true, ""},
        {"web page", "<html>Not found</html>", true, "File format error!"},
        {"empty answer", "", true, "File format error!"},
        {"file past the largest size", std::string(kMaxUpdateFileSize + 1, 'x'), true,
         "The file is big!"},
        {"web page, no file before", "<html>Not found</html>", false, "File format error!"},
    };
    const auto target = m_outside.Path() / "keep.bin";
    const auto kept = m_outside.Path() / "keep.bin.rejected";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::error_code ignored;
        std::filesystem::remove(target, ignored);
        if (row.targetExists) {
            testing::WriteBytes(target, std::vector<std::uint8_t>(good.begin(), good.end()));
        }
        m_server.Serve("/file.bin", row.body);

        const TransferResult result =
            DownloadUpdateFile("http://" + m_server.Host() + "/file.bin", target);
        EXPECT_EQ(result.rejection, row.rejection);
        if (row.rejection.empty()) {
            EXPECT_TRUE(result.Succeeded()) << result.message;
            EXPECT_EQ(ReadText(target), newer);
            continue;
        }
        EXPECT_TRUE(result.Rejected());
        EXPECT_EQ(std::filesystem::exists(target), row.targetExists);
        if (row.targetExists) {
            EXPECT_EQ(ReadText(target), good);
        }
        EXPECT_EQ(result.keptAt, kept);
        EXPECT_EQ(ReadText(kept), row.body);
        EXPECT_EQ(RejectedDownloadText(result, target),
                  "The downloaded file is rejected: " + row.rejection + "\n" +
                      (row.targetExists ? target.string() + " is left as it was"
                                        : "Nothing was saved as " + target.string()) +
                      "; the downloaded bytes are kept in " + kept.string() + ".");
    }
}

// A server that takes the connection and never answers holds the catalogue
// for its own bound only, and the failure names it and says so.
TEST_F(CatalogueTest, SilentServerIsBoundedAndNamed) {
    m_server.Hang(true);
    const std::string refusing = HttpServer::RefusingHost();
    UseServers(m_server.Host(), refusing);
    std::string report;
    EXPECT_FALSE(FetchCatalogue([&](const std::string& text) { report = text; }).fetched);
    EXPECT_EQ(report, "Connecting server failed.\n\nError = 0x800C0007\n\n" + m_server.Host() +
                          ": Timeout was reached, no answer within 10 s\n" + refusing +
                          ": Couldn't connect to server");
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
