// SPDX-License-Identifier: MIT
// `velmorin-cli check-release`, `catalogue` and `download` against a real
// HTTP server on 127.0.0.1: their outcomes and texts, what a download may
// replace, and what an interrupted run leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "image/update_sealer.h"
#include "online/catalogue.h"
#include "support/http_server.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::HttpServer;
using testing::RunProgram;

std::string SealedFile(const char* version) {
    std::vector<std::uint8_t> payload(512, 0x42);
    UpdateHeader fields;
    fields.version = version;
    fields.type = "2020C";
    fields.modelCode = 0x2A;
    const auto file = SealUpdateFile(fields, payload, SealedForm::WholeFile);
    return std::string(file.begin(), file.end());
}

std::string ReadText(const std::filesystem::path& path) {
    const auto bytes = testing::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The names in a directory, sorted.
std::vector<std::string> Names(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// velmorin-cli started beside the test, so that a test can signal it while
// it waits, give it a terminal as standard error, or take its working
// directory away before it starts.
class CliChild {
public:
    struct Options {
        std::filesystem::path directory;
        std::filesystem::path output;  // where standard output (and error) go
        bool directoryGone = false;    // removed before the program starts
        bool errorOnTerminal = false;
    };

    CliChild(const std::vector<std::string>& args, const Options& options) {
        int terminal = -1;
        if (options.errorOnTerminal) {
            EXPECT_EQ(::openpty(&m_master, &terminal, nullptr, nullptr, nullptr), 0);
        }
        m_output = options.output;
        std::filesystem::create_directories(m_output);
        const std::string out = (m_output / "out").string();
        const std::string err = (m_output / "err").string();
        m_pid = ::fork();
        if (m_pid == 0) {
            if (::chdir(options.directory.c_str()) != 0 ||
                (options.directoryGone && ::rmdir(options.directory.c_str()) != 0)) {
                ::_exit(126);
            }
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            ::dup2(
                terminal >= 0 ? terminal : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(VELMORIN_CLI)};
            for (const auto& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (terminal >= 0) {
            ::close(terminal);
        }
    }
    ~CliChild() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    CliChild(const CliChild&) = delete;
    CliChild& operator=(const CliChild&) = delete;

    void Signal(int signal) const { ::kill(m_pid, signal); }

    // The wait status; standard error (from the terminal, when it has one)
    // is read on the way.
    int Wait() {
        int status = 0;
        while (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == 0) {
            DrainTerminal(50);
        }
        if (m_pid > 0) {
            m_status = status;
            m_pid = -1;
            DrainTerminal(0);
        }
        return m_status;
    }
    std::string Out() const { return ReadText(m_output / "out"); }
    std::string Err() const { return m_master >= 0 ? m_terminalText : ReadText(m_output / "err"); }

private:
    void DrainTerminal(int waitMs) {
        if (m_master < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            return;
        }
        pollfd wait{m_master, POLLIN, 0};
        char buffer[1024];
        while (::poll(&wait, 1, waitMs) > 0) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            m_terminalText.append(buffer, static_cast<std::size_t>(n));
        }
    }

    std::filesystem::path m_output;
    pid_t m_pid = -1;
    int m_status = 0;
    int m_master = -1;
    std::string m_terminalText;
};

class CliOnlineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_work);
        std::filesystem::create_directories(m_temporary);
        m_server.Serve("/files/k2020c.bin", SealedFile("V3.01"));
        m_server.Serve(std::string(kCatalogueAddressPath),
                       "[Software]\nVer=V2.3\nURL=" + Base() +
                           "/new\n[File List]\nCountEx=2\n"
                           "Type0=2020C\nFileName0=../../k2020c\nVer0=V3.01\nUpdated0=2026-11-02\n"
                           "URL0=" +
                           Base() +
                           "/files/k2020c.bin\nNote0=Faster balancing\n"
                           "Type1=1010B\nFileName1=k1010b\nURL1=file:///etc/hostname\n");
    }

    std::string Base() const { return "http://" + m_server.Host(); }

    CliChild::Options In(const std::filesystem::path& directory, bool directoryGone = false,
                         bool errorOnTerminal = false) const {
        return {directory, m_directory.Path() / "output", directoryGone, errorOnTerminal};
    }

    testing::ProgramOutcome Cli(std::vector<std::string> args) {
        args.insert(args.begin(), VELMORIN_CLI);
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(m_work);
        auto outcome = RunProgram(args);
        std::filesystem::current_path(previous);
        return outcome;
    }

    // The catalogue names one entry, whose file is at `path` on the server.
    void ServeOneEntry(const std::string& path) {
        m_server.Serve(std::string(kCatalogueAddressPath),
                       "[File List]\nCountEx=1\nFileName0=k\nURL0=" + Base() + path + "\n");
    }

    testing::TempDirectory m_directory;
    const std::filesystem::path m_work = m_directory.Path() / "work";
    // The system's temporary directory as the program sees it.
    const std::filesystem::path m_temporary = m_directory.Path() / "tmp";
    testing::ScopedEnvironment m_tmpdir{"TMPDIR", m_temporary.string()};
    HttpServer m_server;
    testing::ScopedEnvironment m_update{"VELMORIN_UPDATE_SERVER", m_server.Host()};
    const std::string m_refusing = HttpServer::RefusingHost();
    testing::ScopedEnvironment m_fallback{"VELMORIN_FALLBACK_SERVER", m_refusing};
};

TEST_F(CliOnlineTest, ReleaseCatalogueAndDownload) {
    const auto release = Cli({"check-release"});
    EXPECT_EQ(release.exitCode, 0);
    EXPECT_EQ(release.out, "Please download the newly released version: " + Base() + "/new\n");

    const auto catalogue = Cli({"catalogue"});
    EXPECT_EQ(catalogue.exitCode, 0) << catalogue.err;
    EXPECT_EQ(catalogue.out, "0\t2020C\t../../k2020c\tV3.01\t2026-11-02\t" + Base() +
                                 "/files/k2020c.bin\tFaster balancing\n"
                                 "1\t1010B\tk1010b\t\t\tfile:///etc/hostname\t\n");

    // The catalogue's "../../k2020c" lands in this directory as k2020c.bin;
    // nothing else is left there or in the temporary directory.
    const auto download = Cli({"download", "0"});
    EXPECT_EQ(download.exitCode, 0) << download.err;
    EXPECT_NE(download.out.find("Version: V3.01\nType: 2020C\n"), std::string::npos)
        << download.out;
    EXPECT_EQ(Names(m_work), std::vector<std::string>{"k2020c.bin"});
    EXPECT_TRUE(Names(m_temporary).empty());

    // A file: address is refused like a failed download.
    const auto refused = Cli({"download", "1", "-o", "other.bin"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err.rfind("Download failed.\n\nError = 0x800C0001\n\n", 0), 0u)
        << refused.err;
    EXPECT_EQ(Cli({"download", "7"}).exitCode, 2);
}

// "Could not check" is neither "newer" nor "not newer": its own text and
// status. The fallback server gets its share of the time when the update
// server is silent, and the working directory plays no part.
TEST_F(CliOnlineTest, ReleaseCheckOutcomes) {
    HttpServer silent;
    silent.Hang(true);
    HttpServer fallback;
    fallback.Serve(std::string(kCatalogueAddressPath), "[Software]\nVer=V3.0\nURL=http://v3\n");
    const std::string refusing2 = HttpServer::RefusingHost();
    struct Row {
        const char* name;
        std::string update;
        std::string fallback;
        bool directoryGone;
        int exitCode;
        std::string out;
        std::vector<std::string> errParts;
    };
    const Row rows[] = {
        {"no server answers",
         m_refusing,
         refusing2,
         false,
         3,
         "",
         {"Could not check for a newer release:\n", m_refusing + ": ", refusing2 + ": "}},
        {"silent update server",
         silent.Host(),
         fallback.Host(),
         false,
         0,
         "Please download the newly released version: http://v3\n",
         {}},
        {"no working directory",
         fallback.Host(),
         refusing2,
         true,
         0,
         "Please download the newly released version: http://v3\n",
         {}},
        {"same release",
         m_server.Host(),
         refusing2,
         false,
         1,
         "No newer release than V2.2 is named.\n",
         {}},
    };
    m_server.Serve(std::string(kCatalogueAddressPath), "[Software]\nVer=V2.2\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", row.update);
        const testing::ScopedEnvironment second("VELMORIN_FALLBACK_SERVER", row.fallback);
        const auto directory = m_directory.Path() / "gone";
        std::filesystem::create_directories(directory);
        CliChild child({"check-release"},
                       In(row.directoryGone ? directory : m_work, row.directoryGone));
        const int status = child.Wait();
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), row.exitCode) << child.Err();
        EXPECT_EQ(child.Out(), row.out);
        for (const std::string& part : row.errParts) {
            EXPECT_NE(child.Err().find(part), std::string::npos) << child.Err();
        }
        EXPECT_TRUE(Names(m_temporary).empty());
    }
}

TEST_F(CliOnlineTest, ServerSettingTakesHostAndPort) {
    const std::string setting = "http://" + m_server.Host();
    const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", setting);
    const std::string text =
        "VELMORIN_UPDATE_SERVER=" + setting + ": the variable takes host[:port]";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check-release"}, {"catalogue"}, {"download", "0"}}) {
        SCOPED_TRACE(args[0]);
        const auto outcome = Cli(args);
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_NE(outcome.err.find(text), std::string::npos) << outcome.err;
    }
    const auto json = Cli({"catalogue", "--json"});
    const auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["outcome"], "bad-setting");
    EXPECT_NE(parsed["reason"].get<std::string>().find(text), std::string::npos);
    EXPECT_EQ(m_server.Requests(), 0);
}

// The listing: one line per entry whatever the values hold, a catalogue
// saved with a byte-order mark, an empty one, and one JSON value for every
// way out under --json.
TEST_F(CliOnlineTest, CatalogueListing) {
    struct Row {
        const char* name;
        std::string catalogue;  // empty: no server answers
        bool json;
        int exitCode;
        std::string out;  // text: exactly; JSON: the "outcome" of the object
        std::string err;  // a part of standard error
    };
    const Row rows[] = {
        {"tab and line breaks in values",
         "[File List]\nCountEx=1\nType0=A\tB\nNote0=one\\two\r\nFileName0=f\r\rx\n", false, 0,
         "0\tA\\tB\tf\\r\\rx\t\t\t\tone\\\\two\n", ""},
        {"byte-order mark", "\xEF\xBB\xBF[File List]\nCountEx=1\nType0=2020C\n", false, 0,
         "0\t2020C\t\t\t\t\t\n", ""},
        {"no entries", "[File List]\nCountEx=0\n", false, 1, "",
         "The catalogue lists no update files."},
        {"no entries, JSON", "[Software]\nVer=V2.2\n", true, 1, "empty", ""},
        {"no server, JSON", "", true, 1, "fetch-failed", "Connecting server failed."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const testing::ScopedEnvironment update(
            "VELMORIN_UPDATE_SERVER", row.catalogue.empty() ? m_refusing : m_server.Host());
        m_server.Serve(std::string(kCatalogueAddressPath), row.catalogue);
        const auto outcome = Cli(row.json ? std::vector<std::string>{"catalogue", "--json"}
                                          : std::vector<std::string>{"catalogue"});
        EXPECT_EQ(outcome.exitCode, row.exitCode) << outcome.err;
        EXPECT_NE(outcome.err.find(row.err), std::string::npos) << outcome.err;
        if (!row.json) {
            EXPECT_EQ(outcome.out, row.out);
            continue;
        }
        const auto parsed = nlohmann::json::parse(outcome.out, nullptr, false);
        ASSERT_TRUE(parsed.is_object()) << outcome.out;
        EXPECT_EQ(parsed["outcome"], row.out);
        EXPECT_FALSE(parsed["reason"].get<std::string>().empty());
    }
}

// A target that cannot take a download is refused before anything is
// fetched; a download the header check refuses leaves the good file alone.
TEST_F(CliOnlineTest, DownloadProtectsItsTarget) {
    const auto fifo = m_work / "fifo.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto refused = Cli({"download", "0", "-o", fifo.string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("cannot save to " + fifo.string() + ": it is a FIFO"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(m_server.Requests(), 0);

    const std::string good = SealedFile("V1.00");
    testing::WriteBytes(m_work / "keep.bin", std::vector<std::uint8_t>(good.begin(), good.end()));
    m_server.Serve("/bad.bin", "<html>Not an update file</html>");
    ServeOneEntry("/bad.bin");
    const auto rejected = Cli({"download", "0", "-o", "keep.bin"});
    EXPECT_EQ(rejected.exitCode, 1);
    EXPECT_EQ(rejected.err,
              "The downloaded file is rejected: File format error!\n"
              "keep.bin is left as it was; the downloaded bytes are kept in keep.bin.rejected.\n");
    EXPECT_EQ(ReadText(m_work / "keep.bin"), good);
    EXPECT_EQ(ReadText(m_work / "keep.bin.rejected"), "<html>Not an update file</html>");
}

// SIGINT, SIGTERM and SIGHUP while the catalogue or the file is on its way:
// no temporary file stays, neither in the working directory nor in the
// temporary one, and the program ends by the signal.
TEST_F(CliOnlineTest, InterruptedTransfersLeaveNothing) {
    const std::string file = SealedFile("V3.01");
    m_server.Stall("/slow.bin", file, file.size() / 2);
    HttpServer silent;
    silent.Hang(true);
    struct Row {
        const char* name;
        std::vector<std::string> args;
        bool silentCatalogue;
    };
    const Row rows[] = {{"catalogue", {"catalogue"}, true},
                        {"download", {"download", "0", "-o", "k.bin"}, false}};
    for (const Row& row : rows) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(std::string(row.name) + " " + ::strsignal(signal));
            ServeOneEntry("/slow.bin");
            const testing::ScopedEnvironment update(
                "VELMORIN_UPDATE_SERVER", row.silentCatalogue ? silent.Host() : m_server.Host());
            const int asked = silent.Requests() + m_server.Requests();
            CliChild child(row.args, In(m_work));
            // Signalled once the transfer that it interrupts has begun.
            const int transfers = row.silentCatalogue ? 1 : 2;
            for (int i = 0; i < 500 && silent.Requests() + m_server.Requests() < asked + transfers;
                 ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            child.Signal(signal);
            const int status = child.Wait();
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << child.Err();
            EXPECT_TRUE(Names(m_work).empty());
            EXPECT_TRUE(Names(m_temporary).empty());
        }
    }
}

// The server being asked is named on a terminal only.
TEST_F(CliOnlineTest, NamesTheServerOnATerminal) {
    const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", m_refusing);
    const testing::ScopedEnvironment second("VELMORIN_FALLBACK_SERVER", m_server.Host());
    const std::string asking = "Asking " + m_refusing + " for the catalogue...";
    for (const bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal" : "file");
        CliChild child({"catalogue"}, In(m_work, false, terminal));
        EXPECT_EQ(child.Wait(), 0) << child.Err();
        EXPECT_EQ(child.Err().find(asking) != std::string::npos, terminal) << child.Err();
        EXPECT_EQ(child.Err().find("Asking " + m_server.Host()) != std::string::npos, terminal);
    }
}

}  // namespace
}  // namespace velmorin
