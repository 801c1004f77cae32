// SPDX-License-Identifier: MIT
// The pre-flight checks on Linux: the node's mode and group against this
// user, the processes that have it open (/proc), ModemManager, and the udev
// rule's marks on the device (libudev). A virtual device is a
// pseudo-terminal or a socket that udev and ModemManager never see.
#include "doctor_checks.h"

#include <grp.h>
#include <libudev.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "device/linux/udev_lock.h"
#include "device/node_holders.h"
#include "device/serial_port.h"
#include "port_diagnosis.h"

namespace velmorin::cli {
namespace {

constexpr char kRuleName[] = "70-kestrion.rules";
constexpr char kReloadRules[] =
    "Then `sudo udevadm control --reload-rules && sudo udevadm trigger` (or re-plug the "
    "charger).";

struct UdevDeleter {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

// What udev knows of a device node: the marks the project's rule leaves.
struct UdevMarks {
    bool known = false;    // udev has the device
    bool uaccess = false;  // tagged "uaccess": logind gives the local session's user access
    bool modemManagerIgnores = false;  // ID_MM_DEVICE_IGNORE=1
};

UdevMarks ReadUdevMarks(const std::string& node) {
    UdevMarks marks;
    struct stat status {};
    if (::stat(node.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return marks;
    }
    const std::lock_guard hold(UdevLock());
    UdevPtr<udev> context(udev_new());
    if (!context) {
        return marks;
    }
    UdevPtr<udev_device> device(udev_device_new_from_devnum(context.get(), 'c', status.st_rdev));
    if (!device) {
        return marks;
    }
    marks.known = true;
    marks.uaccess = udev_device_has_tag(device.get(), "uaccess") > 0;
    const char* ignore = udev_device_get_property_value(device.get(), "ID_MM_DEVICE_IGNORE");
    marks.modemManagerIgnores = ignore != nullptr && std::strcmp(ignore, "1") == 0;
    return marks;
}

// Where the rule may be installed; udev reads only the first two folders
// (and /lib on systems that keep it apart), never one under /usr/local.
struct RuleLocation {
    std::filesystem::path path;
    bool readByUdev = true;
};

std::optional<RuleLocation> InstalledRule() {
    std::error_code error;
    for (const char* folder : {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
        const std::filesystem::path path = std::filesystem::path(folder) / kRuleName;
        if (std::filesystem::exists(path, error)) {
            return RuleLocation{path, true};
        }
    }
    // Under the prefix this program is installed in (PREFIX/bin/velmorin-cli).
    const std::filesystem::path program = std::filesystem::canonical("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path path =
            program.parent_path().parent_path() / "lib/udev/rules.d" / kRuleName;
        if (std::filesystem::exists(path, error)) {
            return RuleLocation{path, false};
        }
    }
    return std::nullopt;
}

bool ModemManagerRuns() {
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") == std::string::npos &&
            ProcessCommand(pid) == "ModemManager") {
            return true;
        }
    }
    return false;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

bool InGroupNow(gid_t group) {
    if (::getegid() == group) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return count > 0 &&
           std::find(groups.begin(), groups.begin() + count, group) != groups.begin() + count;
}

// Whether the group database lists this user in `owner` (a login after the
// change has it; this one may not).
bool ListedInGroup(const group& owner) {
    const passwd* user = ::getpwuid(::geteuid());
    if (user == nullptr || owner.gr_mem == nullptr) {
        return false;
    }
    for (char** member = owner.gr_mem; *member != nullptr; ++member) {
        if (std::strcmp(*member, user->pw_name) == 0) {
            return true;
        }
    }
    return user->pw_gid == owner.gr_gid;
}

DoctorCheck CheckAccess(const DoctorTarget& target, const UdevMarks& marks) {
    DoctorCheck check{"access", CheckStatus::Ok, "", {}};
    struct stat status {};
    if (::stat(target.node.c_str(), &status) != 0) {
        const int error = errno;
        check.status = CheckStatus::Problem;
        check.finding = target.node + ": " + std::strerror(error);
        check.fix = ExplainPortFailure(target.node, error);
        return check;
    }
    if (::access(target.node.c_str(), R_OK | W_OK) == 0) {
        check.finding = "this user may read and write " + target.node;
        return check;
    }
    const int error = errno;
    check.status = CheckStatus::Problem;
    if (error != EACCES && error != EPERM) {
        check.finding = target.node + ": " + std::strerror(error);
        check.fix = ExplainPortFailure(target.node, error);
        return check;
    }
    const group* owner = ::getgrgid(status.st_gid);
    const std::string groupName = owner != nullptr ? owner->gr_name : std::to_string(status.st_gid);
    const bool member = InGroupNow(status.st_gid);
    check.finding = "No permission to open " + target.node + " (mode " + ModeText(status.st_mode) +
                    ", group '" + groupName + "'; this user is " + (member ? "" : "not ") +
                    "in that group)";
    if (target.hid && target.isVirtual) {
        check.fix = {
            "Run as the user who started the simulator, or let this user write its "
            "socket."};
        return check;
    }
    // The advice the update gives for the same refusal, after its first
    // line (the finding above says it).
    const std::vector<std::string> advice = ExplainPortFailure(target.node, error);
    for (std::size_t i = 1; i < advice.size(); ++i) {
        const std::string& line = advice[i];
        check.fix.push_back(line.substr(std::min(line.find_first_not_of(' '), line.size())));
    }
    if (owner != nullptr && !member && ListedInGroup(*owner)) {
        check.fix.insert(check.fix.begin(), "This user was added to the group '" + groupName +
                                                "' after this login began: log in again.");
    }
    if (marks.uaccess) {
        check.fix.push_back(
            "The udev rule tags it uaccess, which gives access to the user of the active local "
            "session only (not to a login over ssh or through su): log in at the machine, or "
            "join the group.");
    }
    return check;
}

DoctorCheck CheckHolders(const DoctorTarget& target, bool accessible) {
    DoctorCheck check{"in use", CheckStatus::Ok, "", {}};
    if (target.hid && target.isVirtual) {
        check.finding = "not checked: a virtual HID device's socket shows no holders";
        return check;
    }
    const std::string own = std::to_string(::getpid());
    std::vector<NodeHolder> holders;
    for (NodeHolder& holder : ProcessesHoldingNode(target.node)) {
        if (holder.pid != own) {
            holders.push_back(std::move(holder));
        }
    }
    if (!holders.empty()) {
        check.status = CheckStatus::Problem;
        bool modemManager = false;
        for (const NodeHolder& holder : holders) {
            const std::string command = holder.command.empty() ? "?" : holder.command;
            check.finding += (check.finding.empty() ? "held by process " : ", process ") +
                             holder.pid + " (" + command + ")";
            modemManager = modemManager || holder.command == "ModemManager";
            if (holder.command != "ModemManager") {
                check.fix.push_back("End that program (" + command + ", PID " + holder.pid +
                                    ": `kill " + holder.pid +
                                    "`), or wait for its upgrade to end.");
            }
        }
        if (modemManager) {
            check.fix.push_back(
                "ModemManager is probing the port as a modem: install the udev rule that tells it "
                "to leave chargers alone (see \"udev rule\" below) and re-plug the charger, or "
                "stop it with `sudo systemctl stop ModemManager`.");
        }
        return check;
    }
    if (!target.hid && accessible && ProbeSerialPort(target.node) == PortProbe::Held) {
        check.status = CheckStatus::Problem;
        check.finding =
            "held by another program (exclusive mode or a lock), which this user "
            "cannot see";
        check.fix = {"Close the program that uses it; `sudo fuser -v " + target.node +
                     "` names it."};
        return check;
    }
    check.finding = "no other program has it open";
    return check;
}

DoctorCheck CheckModemManager(const DoctorTarget& target, const UdevMarks& marks) {
    DoctorCheck check{"ModemManager", CheckStatus::Ok, "", {}};
    if (!ModemManagerRuns()) {
        check.finding = "ModemManager is not running";
        return check;
    }
    if (target.isVirtual) {
        check.finding = "ModemManager runs, but does not see a virtual device";
        return check;
    }
    if (marks.modemManagerIgnores) {
        check.finding = "ModemManager runs and leaves this port alone (ID_MM_DEVICE_IGNORE=1)";
        return check;
    }
    check.status = CheckStatus::Warning;
    check.finding =
        "ModemManager runs and probes this port with AT commands when it appears, "
        "which the bootloader would take for frames";
    check.fix = {
        "Install the udev rule (see \"udev rule\"), which sets ID_MM_DEVICE_IGNORE=1 for "
        "chargers, and re-plug the charger;",
        "or stop it: `sudo systemctl stop ModemManager`."};
    return check;
}

DoctorCheck CheckUdevRule(const DoctorTarget& target, const UdevMarks& marks) {
    DoctorCheck check{"udev rule", CheckStatus::Ok, "", {}};
    const std::optional<RuleLocation> rule = InstalledRule();
    const std::string where = rule ? "installed at " + rule->path.string() : "not installed";
    if (target.isVirtual) {
        check.finding = kRuleName + (" " + where) + "; it has nothing to do for a virtual device";
        return check;
    }
    const std::vector<std::string> install = {
        "Install it: `sudo install -m 644 70-kestrion.rules /etc/udev/rules.d/` (packaging/ in "
        "the sources; the package installs it).",
        kReloadRules};
    if (!rule) {
        check.status = target.plainPort ? CheckStatus::Ok : CheckStatus::Warning;
        check.finding = std::string(kRuleName) + " is not installed";
        if (!target.plainPort) {
            check.fix = install;
        }
        return check;
    }
    if (!rule->readByUdev) {
        check.status = target.plainPort ? CheckStatus::Ok : CheckStatus::Warning;
        check.finding = std::string(kRuleName) + " is installed at " + rule->path.string() +
                        ", where udev does not read it";
        if (!target.plainPort) {
            check.fix = {"Copy it to /etc/udev/rules.d/.", kReloadRules};
        }
        return check;
    }
    const bool applied = marks.uaccess && (target.hid || marks.modemManagerIgnores);
    if (applied) {
        check.finding = std::string(kRuleName) + " " + where + " applies: tagged uaccess" +
                        (target.hid ? "" : ", ID_MM_DEVICE_IGNORE=1");
        return check;
    }
    if (target.plainPort) {
        check.finding = std::string(kRuleName) + " " + where +
                        "; it is for chargers, and this port does not carry its marks";
        return check;
    }
    check.status = CheckStatus::Warning;
    check.finding = std::string(kRuleName) + " " + where + " but does not apply to " + target.node +
                    (marks.known ? " (no uaccess tag)" : " (udev does not know it)");
    check.fix = {
        "Make udev read it again: `sudo udevadm control --reload-rules && sudo udevadm "
        "trigger`, or re-plug the charger."};
    return check;
}

}  // namespace

std::vector<DoctorCheck> CheckDeviceAccess(const DoctorTarget& target) {
    const UdevMarks marks = target.isVirtual ? UdevMarks{} : ReadUdevMarks(target.node);
    std::vector<DoctorCheck> checks;
    checks.push_back(CheckAccess(target, marks));
    checks.push_back(CheckHolders(target, checks.front().status == CheckStatus::Ok));
    if (!target.hid) {
        checks.push_back(CheckModemManager(target, marks));
    }
    checks.push_back(CheckUdevRule(target, marks));
    return checks;
}

}  // namespace velmorin::cli
