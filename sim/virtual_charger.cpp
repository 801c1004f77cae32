// SPDX-License-Identifier: MIT
// Announcing simulated chargers. For now a charger takes what the host
// sends and stays silent; it only has to be found and opened.
#include "virtual_charger.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "device/device_name.h"
#include "number_text.h"

namespace velmorin::sim {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void RequestStop(int /*signal*/) {
    g_stopRequested = 1;
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// Owns a file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// The description file, written whole under a temporary name and then
// renamed, so that discovery never reads half of it; removed on destruction.
class Announcement {
public:
    Announcement(std::filesystem::path file, const nlohmann::json& description)
        : m_file(std::move(file)) {
        const std::filesystem::path temporary = m_file.string() + ".tmp";
        std::ofstream(temporary) << description.dump(2) << '\n';
        std::filesystem::rename(temporary, m_file);
    }
    ~Announcement() {
        std::error_code error;
        std::filesystem::remove(m_file, error);
    }
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;

private:
    std::filesystem::path m_file;
};

bool PrepareDirectory(const std::filesystem::path& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::cerr << "velmorin-sim: cannot create " << directory << ": " << error.message() << '\n';
        return false;
    }
    return true;
}

// Waits for input on `fds` until a stop is requested; calls `onReadable`
// with each readable descriptor.
template <typename OnReadable>
void Serve(std::vector<int> fds, OnReadable onReadable) {
    while (g_stopRequested == 0) {
        std::vector<pollfd> waits;
        for (const int fd : fds) {
            waits.push_back({fd, POLLIN, 0});
        }
        if (::poll(waits.data(), waits.size(), 200) <= 0) {
            continue;
        }
        for (const pollfd& wait : waits) {
            if ((wait.revents & (POLLIN | POLLHUP)) != 0) {
                onReadable(wait.fd, fds);
            }
        }
    }
}

}  // namespace

int RunSerialCharger(const SerialChargerOptions& options) {
    const auto name = ParseDeviceName(options.port);
    if (!name || name->kind != DeviceKind::Serial || name->number == 0) {
        std::cerr << "velmorin-sim serial: --port must be COM1 to COM256\n";
        return 2;
    }
    if (!PrepareDirectory(options.directory)) {
        return 1;
    }
    Descriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.Get() < 0 || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        std::cerr << "velmorin-sim serial: cannot make a pseudo-terminal: " << std::strerror(errno)
                  << '\n';
        return 1;
    }
    const std::string node = ::ptsname(master.Get());
    // Holding the terminal side open keeps it alive between the host's opens;
    // raw, so that nothing is echoed before the host sets it up.
    Descriptor terminal(::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    struct termios settings {};
    if (terminal.Get() >= 0 && ::tcgetattr(terminal.Get(), &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(terminal.Get(), TCSANOW, &settings);
    }

    const std::string port = "COM" + std::to_string(name->number);
    CatchStopSignals();
    const Announcement announcement(options.directory / (port + ".json"),
                                    {{"kind", "serial"},
                                     {"port", port},
                                     {"node", node},
                                     {"friendly_name", options.description + " (" + port + ")"},
                                     {"description", options.description},
                                     {"bus_description", options.product},
                                     {"serial_number", options.serialNumber}});
    std::cout << port << ": simulated charger \"" << options.product << "\" S/N "
              << options.serialNumber << " on " << node << std::endl;

    Serve({master.Get()}, [](int fd, std::vector<int>&) {
        std::uint8_t discard[256];
        [[maybe_unused]] const ssize_t n = ::read(fd, discard, sizeof discard);
    });
    return 0;
}

int RunHidCharger(const HidChargerOptions& options) {
    const auto vendorId = ParseNumberText(options.vendorId, 0xFFFF);
    const auto productId = ParseNumberText(options.productId, 0xFFFF);
    if (!vendorId || !productId) {
        std::cerr << "velmorin-sim hid: --vendor-id and --product-id must be 0 to 0xFFFF\n";
        return 2;
    }
    if (!PrepareDirectory(options.directory)) {
        return 1;
    }
    const std::filesystem::path socketPath = options.directory / (options.name + ".sock");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.string().size() >= sizeof address.sun_path) {
        std::cerr << "velmorin-sim hid: socket path too long: " << socketPath << '\n';
        return 1;
    }
    std::strcpy(address.sun_path, socketPath.c_str());
    std::filesystem::remove(socketPath);
    Descriptor listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (listener.Get() < 0 ||
        ::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), 4) != 0) {
        std::cerr << "velmorin-sim hid: cannot listen on " << socketPath << ": "
                  << std::strerror(errno) << '\n';
        return 1;
    }

    CatchStopSignals();
    {
        const Announcement announcement(options.directory / (options.name + ".json"),
                                        {{"kind", "hid"},
                                         {"socket", socketPath.filename().string()},
                                         {"vendor_id", *vendorId},
                                         {"product_id", *productId},
                                         {"product", options.product},
                                         {"serial_number", options.serialNumber}});
        std::cout << options.name << ": simulated HID charger \"" << options.product << "\" S/N "
                  << options.serialNumber << " on " << socketPath << std::endl;

        const int listenFd = listener.Get();
        std::vector<Descriptor> connections;
        Serve({listenFd}, [&](int fd, std::vector<int>& fds) {
            if (fd == listenFd) {
                connections.emplace_back(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
                fds.push_back(connections.back().Get());
                return;
            }
            std::uint8_t report[65];
            if (::recv(fd, report, sizeof report, 0) <= 0) {
                std::erase(fds, fd);  // the host closed its end
            }
        });
    }
    std::filesystem::remove(socketPath);
    return 0;
}

}  // namespace velmorin::sim
