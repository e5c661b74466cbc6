#include "doctor_checks.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace stridelog_tool::doctor {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCableUsbId = "04fc:0201";
constexpr std::string_view kBridgeDriver = "cp210x";

std::string read_first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// vvvv:pppp of the nearest USB device at or above dir, "" when none below root.
std::string usb_id_above(fs::path dir, const fs::path& root) {
    std::error_code ec;
    for (; !dir.empty() && dir != root && dir != dir.root_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec))
            return lower(read_first_line(dir / "idVendor") + ":" +
                         read_first_line(dir / "idProduct"));
    }
    return "";
}

bool same_device(const struct stat& a, const struct stat& b) {
    return S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) ? a.st_rdev == b.st_rdev
                                                    : a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string mode_text(mode_t mode) {
    std::string text = "---------";
    const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                           S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (int i = 0; i < 9; ++i)
        if (mode & bits[i]) text[i] = "rwxrwxrwx"[i];
    return text;
}

bool in_group(gid_t gid) {
    if (getegid() == gid) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

}  // namespace

SysfsScan scan_sysfs(const std::string& root_text) {
    const fs::path root(root_text.empty() ? "/sys" : root_text);
    std::error_code ec;
    const fs::path canonical_root = fs::weakly_canonical(root, ec);
    SysfsScan scan;
    std::vector<std::string> names;
    for (fs::directory_iterator it(root / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        std::error_code dev_ec;
        const fs::path device = fs::canonical(root / "class" / "tty" / name / "device", dev_ec);
        if (dev_ec) continue;  // virtual terminals have no device
        CableTty tty;
        tty.tty = name;
        tty.device_path = "/dev/" + name;
        tty.usb_id = usb_id_above(device, canonical_root);
        std::error_code drv_ec;
        const fs::path driver = fs::canonical(device / "driver", drv_ec);
        if (!drv_ec) tty.driver = driver.filename().string();
        tty.cable = tty.usb_id == kCableUsbId;
        if (tty.cable || tty.driver == kBridgeDriver) scan.ttys.push_back(std::move(tty));
    }
    for (fs::directory_iterator it(root / "bus" / "usb" / "devices", ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path dir = it->path();
        if (lower(read_first_line(dir / "idVendor") + ":" + read_first_line(dir / "idProduct")) ==
            kCableUsbId)
            scan.cable_usb_devices.push_back(dir.filename().string());
    }
    std::sort(scan.cable_usb_devices.begin(), scan.cable_usb_devices.end());
    return scan;
}

OpenCheck try_open(const std::string& device_path) {
    OpenCheck check;
    int fd;
    do {
        fd = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        check.error = errno;
        switch (check.error) {
            case ENOENT:
            case ENXIO:
            case ENODEV:
                check.result = OpenResult::missing;
                break;
            case EACCES:
            case EPERM:
                check.result = OpenResult::permission;
                break;
            case EBUSY:
                check.result = OpenResult::busy;
                break;
            default:
                check.result = OpenResult::other;
                break;
        }
        return check;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        check.error = errno == EWOULDBLOCK ? EBUSY : errno;
        check.result = check.error == EBUSY ? OpenResult::busy : OpenResult::other;
    } else if (!::isatty(fd)) {
        check.error = ENOTTY;
        check.result = OpenResult::not_a_tty;
    }
    ::close(fd);  // releases the lock
    return check;
}

std::vector<Holder> find_holders(const std::string& device_path, const std::string& proc_root) {
    std::vector<Holder> holders;
    struct stat target {};
    if (::stat(device_path.c_str(), &target) != 0) return holders;
    const int self = static_cast<int>(::getpid());
    std::error_code ec;
    for (fs::directory_iterator it(proc_root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        const int pid = std::atoi(name.c_str());
        if (pid == self) continue;
        std::error_code fd_ec;
        for (fs::directory_iterator fd(it->path() / "fd", fd_ec), fd_end; !fd_ec && fd != fd_end;
             fd.increment(fd_ec)) {
            struct stat st {};
            if (::stat(fd->path().c_str(), &st) != 0 || !same_device(st, target)) continue;
            holders.push_back({pid, read_first_line(it->path() / "comm")});
            break;
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const Holder& a, const Holder& b) { return a.pid < b.pid; });
    return holders;
}

bool is_port_prober(std::string_view process_name) {
    return process_name == "ModemManager" || process_name == "brltty";
}

std::optional<DeviceAccess> describe_access(const std::string& device_path) {
    struct stat st {};
    if (::stat(device_path.c_str(), &st) != 0) return std::nullopt;
    DeviceAccess access;
    if (const passwd* pw = ::getpwuid(st.st_uid))
        access.owner = pw->pw_name;
    else
        access.owner = std::to_string(st.st_uid);
    if (const group* gr = ::getgrgid(st.st_gid))
        access.group = gr->gr_name;
    else
        access.group = std::to_string(st.st_gid);
    access.mode = mode_text(st.st_mode);
    access.user_in_group = in_group(st.st_gid);
    return access;
}

bool rules_text_matches_cable(std::string_view text) {
    static const std::regex vendor(R"(attrs?\{idvendor\}\s*==\s*"04fc")", std::regex::icase);
    static const std::regex product(R"(attrs?\{idproduct\}\s*==\s*"0201")", std::regex::icase);
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        if (std::regex_search(line, vendor) && std::regex_search(line, product)) return true;
    }
    return false;
}

std::vector<std::string> udev_rule_dirs() {
    std::vector<std::string> dirs;
    if (const char* list = std::getenv("STRIDELOG_UDEV_RULES_DIRS")) {
        std::string text(list);
        std::size_t at = 0;
        while (at <= text.size()) {
            const std::size_t colon = std::min(text.find(':', at), text.size());
            if (colon > at) dirs.push_back(text.substr(at, colon - at));
            at = colon + 1;
        }
        return dirs;
    }
    return {"/etc/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
}

std::vector<std::string> find_cable_rules(const std::vector<std::string>& dirs) {
    std::vector<std::string> found;
    for (const auto& dir : dirs) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().extension() == ".rules") files.push_back(it->path());
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            std::ifstream in(file);
            std::stringstream text;
            text << in.rdbuf();
            if (rules_text_matches_cable(text.str())) found.push_back(file.string());
        }
    }
    return found;
}

std::string explain_open_failure(const std::string& device_path, const OpenCheck& check,
                                 const std::vector<Holder>& holders) {
    std::string line = device_path + ": " + std::strerror(check.error);
    switch (check.result) {
        case OpenResult::ok:
            return device_path + ": opens";
        case OpenResult::permission: {
            const auto access = describe_access(device_path);
            if (!access) return line;
            line += " (owner " + access->owner + ", group " + access->group + ", " + access->mode +
                    "); fix: add yourself to the group " + access->group + " (sudo usermod -aG " +
                    access->group +
                    " \"$USER\", then log in again) or install the udev rule 60-stridelog.rules";
            return line;
        }
        case OpenResult::busy: {
            if (holders.empty()) {
                line += "; another program has it open (not one this user can see)";
                return line;
            }
            line += "; held by";
            for (std::size_t i = 0; i < holders.size(); ++i)
                line += (i ? ", " : " ") + holders[i].name + " (pid " +
                        std::to_string(holders[i].pid) + ")";
            return line;
        }
        case OpenResult::missing:
            return line + "; the device node does not exist (unplugged?)";
        case OpenResult::not_a_tty:
            return line + "; it is not a serial device";
        case OpenResult::other:
            return line;
    }
    return line;
}

}  // namespace stridelog_tool::doctor
