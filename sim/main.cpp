// stridelog-sim: a simulated watch on a pseudo-terminal, for the host tool and
// for trying the SDK without a watch. Prints the pty path, serves until SIGINT
// or SIGTERM, then withdraws its device-map line and saves the flash image.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cable/cable_identity.hpp"
#include "sim/firmware_image.hpp"
#include "sim/pty_server.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"

namespace {

using stridelog::sim::NumericVersion;
using stridelog::sim::PtyServer;
using stridelog::sim::Watch;
using stridelog::sim::WatchConfig;

// Port numbers handed out by simulators, clear of the usual real ones.
constexpr int kFirstPortNumber = 40;

bool parse_hex(const std::string& text, std::vector<std::uint8_t>& out) {
    out.clear();
    if (text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1 ||
            !std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return false;
        out.push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

// The device-map file is shared by every simulator and the SDK's registry; an
// exclusive lock keeps two simulators from picking the same port.
class MapFile {
  public:
    explicit MapFile(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~MapFile() {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    bool ok() const { return fd_ >= 0; }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    bool write(const std::vector<std::string>& lines) const {
        std::ofstream out(path_, std::ios::trunc);
        for (const auto& line : lines) out << line << '\n';
        return static_cast<bool>(out);
    }

  private:
    std::string path_;
    int fd_ = -1;
};

std::string add_map_line(const std::string& path, const std::string& pty) {
    MapFile file(path);
    if (!file.ok()) return {};
    std::vector<std::string> lines = file.lines();
    std::set<int> used;
    for (const auto& line : lines) {
        const auto parsed = stridelog::cable::parse_device_map_line(line);
        if (parsed.kind == stridelog::cable::DeviceMapLine::Kind::entry)
            used.insert(stridelog::cable::com_port_number(parsed.entry.port_name));
    }
    int n = kFirstPortNumber;
    while (used.count(n) != 0) ++n;
    const std::string entry = stridelog::cable::format_device_map_line(
        {stridelog::cable::usb_identity("sim" + std::to_string(::getpid())),
         "COM" + std::to_string(n), pty});
    lines.push_back(entry);
    return file.write(lines) ? entry : std::string{};
}

void remove_map_line(const std::string& path, const std::string& entry) {
    MapFile file(path);
    if (!file.ok()) return;
    std::vector<std::string> kept;
    for (const auto& line : file.lines())
        if (line != entry) kept.push_back(line);
    file.write(kept);
}

int generate_firmware(const std::string& dir, const std::string& version, const std::string& model,
                      const std::string& header, const std::string& damage) {
    using stridelog::sim::FirmwareDamage;
    using stridelog::sim::FirmwareHeader;
    stridelog::sim::FirmwareFolder folder;
    folder.firmware.version = version;
    folder.model = model;
    folder.firmware.header = header == "1.0"   ? FirmwareHeader::v1_0
                             : header == "1.2" ? FirmwareHeader::v1_2
                             : header == "1.3" ? FirmwareHeader::v1_3
                                               : FirmwareHeader::v1_1;
    folder.firmware.damage = damage == "wrong-size"       ? FirmwareDamage::wrong_size
                             : damage == "wrong-header"   ? FirmwareDamage::wrong_header
                             : damage == "wrong-checksum" ? FirmwareDamage::wrong_checksum
                             : damage == "short-file"     ? FirmwareDamage::short_file
                             : damage == "body-byte"      ? FirmwareDamage::body_byte
                                                          : FirmwareDamage::none;
    if (version.empty() || version.size() > stridelog::sim::kVersionTextSize ||
        version.find('_') == std::string::npos) {
        std::cerr << "stridelog-sim: --version takes a text such as 1.32.01_VUNA0_00 "
                     "(at most 16 characters)\n";
        return 2;
    }
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    stridelog::sim::WrittenFirmwareFolder written;
    std::string error;
    if (!stridelog::sim::write_firmware_folder(dir, folder, &written, &error)) {
        std::cerr << "stridelog-sim: " << error << '\n';
        return 1;
    }
    for (const std::string& name :
         {written.description, written.history, written.settings, written.firmware})
        if (!name.empty()) std::cout << name << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated Stridelog watch on a pseudo-terminal"};
    std::string image;
    std::uint32_t baud = 115200;
    std::string version = "Ver1.30";
    std::string numeric;
    std::string status_hex;
    unsigned status_flag = 1;
    bool agps_refuse = false;
    std::string device_map;
    std::uint32_t reboot_ms = 5000;
    std::string generate;
    bool realistic = false;
    app.add_option("--image", image,
                   "Flash image file (1 MiB); loaded when present, saved on exit");
    app.add_option("--baud", baud, "Line rate to pace at; 0 for no pacing")->capture_default_str();
    auto* version_option =
        app.add_option("--version", version,
                       "Version text of the version reply; with --generate-firmware the long "
                       "version text of the firmware (default 1.32.01_VUNA0_00)")
            ->capture_default_str();
    app.add_option("--numeric-version", numeric,
                   "Answer the version request in numeric form, MAJOR.MINOR (such as 1.21)");
    auto* status_option =
        app.add_option("--status", status_hex,
                       "Status reply bytes in hex, two or more, sent as they stand (the A-GPS "
                       "state no longer shows in them)");
    auto* status_flag_option =
        app.add_option("--status-flag", status_flag,
                       "Fourth status byte: non-zero for the large reserve, A-GPS data loadable")
            ->capture_default_str()
            ->check(CLI::Range(0, 255));
    status_option->excludes(status_flag_option);
    app.add_flag("--agps-refuse", agps_refuse,
                 "Acknowledge A-GPS expiry dates but never take them (status stays not updated)");
    app.add_option("--device-map", device_map,
                   "Device-map file to announce the pty in (as a cable on COM40 and up)");
    app.add_option("--reboot-ms", reboot_ms,
                   "Silence while rebooting once the program sum of an update is written")
        ->capture_default_str();
    bool never_back = false;
    app.add_flag("--never-back", never_back,
                 "Never answer again after rebooting from a program update");
    std::string firmware_dir;
    std::string firmware_version = "1.32.01_VUNA0_00";
    std::string firmware_model;
    std::string firmware_header = "1.1";
    std::string firmware_damage = "none";
    app.add_option("--generate-firmware", firmware_dir,
                   "Write an update folder (description, history, settings, fw2 image) into "
                   "DIR and exit");
    app.add_option("--model", firmware_model,
                   "Model number in the description's name (default: from the version)");
    app.add_option("--header", firmware_header, "Header version of the image: 1.0 .. 1.3")
        ->capture_default_str()
        ->check(CLI::IsMember({"1.0", "1.1", "1.2", "1.3"}));
    app.add_option("--damage", firmware_damage,
                   "Break the image: wrong-size, wrong-header, wrong-checksum, short-file, "
                   "body-byte")
        ->capture_default_str()
        ->check(CLI::IsMember(
            {"none", "wrong-size", "wrong-header", "wrong-checksum", "short-file", "body-byte"}));
    app.add_option(
        "--generate", generate,
        "Write the realistic flash image (sessions, directory, version) to FILE and exit");
    app.add_flag("--realistic", realistic,
                 "Serve the realistic content (an --image FILE that exists is loaded instead)");
    CLI11_PARSE(app, argc, argv);

    WatchConfig config;
    config.version_text = version;
    config.reboot_ms = never_back ? WatchConfig::kNeverBack : reboot_ms;
    config.flash_image_path = image;
    config.agps_refuse = agps_refuse;
    config.status_bytes = {0x00, 0x00, 0x00, static_cast<std::uint8_t>(status_flag)};
    if (!status_hex.empty()) {
        if (!parse_hex(status_hex, config.status_bytes) || config.status_bytes.size() < 2) {
            std::cerr
                << "stridelog-sim: --status needs two or more bytes in hex, such as 01000001\n";
            return 2;
        }
        config.fixed_status_bytes = true;
    }
    if (!numeric.empty()) {
        unsigned major = 0, minor = 0;
        char end = 0;
        if (std::sscanf(numeric.c_str(), "%u.%u%c", &major, &minor, &end) != 2 || major > 0xFFFF ||
            minor > 0xFFFF) {
            std::cerr << "stridelog-sim: --numeric-version takes MAJOR.MINOR\n";
            return 2;
        }
        config.numeric_version =
            NumericVersion{static_cast<std::uint16_t>(major), static_cast<std::uint16_t>(minor)};
    }

    if (!firmware_dir.empty() && version_option->count() > 0) firmware_version = version;
    if (!firmware_dir.empty())
        return generate_firmware(firmware_dir, firmware_version, firmware_model, firmware_header,
                                 firmware_damage);

    // The reserved tail follows the status reply the watch will give.
    const bool large_reserve = stridelog::sim::uses_large_reserve(config.status_bytes);
    if (!generate.empty()) {
        stridelog::sim::Flash flash;
        stridelog::sim::generate_realistic_flash(flash, large_reserve);
        std::string error;
        if (!flash.save(generate, error)) {
            std::cerr << "stridelog-sim: " << error << '\n';
            return 1;
        }
        return 0;
    }

    // Signals are taken by sigwait below; block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<Watch> watch;
    try {
        watch = std::make_unique<Watch>(config);
    } catch (const std::exception& e) {
        std::cerr << "stridelog-sim: " << e.what() << '\n';
        return 1;
    }
    watch->set_log_sink(
        [](const std::string& line) { std::cerr << "stridelog-sim: " << line << '\n'; });
    // A saved image holds what earlier runs changed, so it wins over fresh content.
    std::error_code ignored;
    if (realistic && (image.empty() || !std::filesystem::exists(image, ignored))) {
        watch->with_flash([&](stridelog::sim::Flash& flash) {
            stridelog::sim::generate_realistic_flash(flash, large_reserve);
        });
        watch->load_agps_from_directory();
    }

    PtyServer server;
    if (!server.start(*watch, baud)) {
        std::cerr << "stridelog-sim: cannot create a pseudo-terminal: "
                  << std::strerror(server.last_error()) << '\n';
        return 1;
    }
    std::string map_entry;
    if (!device_map.empty()) {
        map_entry = add_map_line(device_map, server.slave_path());
        if (map_entry.empty()) {
            std::cerr << "stridelog-sim: cannot update " << device_map << '\n';
            return 1;
        }
    }
    std::cout << server.slave_path() << std::endl;

    int signal = 0;
    sigwait(&signals, &signal);

    server.stop();
    if (!map_entry.empty()) remove_map_line(device_map, map_entry);
    if (!image.empty()) {
        std::string error;
        if (!watch->save_image(image, error)) {
            std::cerr << "stridelog-sim: " << error << '\n';
            return 1;
        }
    }
    return 0;
}
