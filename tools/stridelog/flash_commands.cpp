// read-sector and backup: raw flash through ReadFlashSector, one modal call per
// sector.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "commands.hpp"
#include "host_session.hpp"
#include "stridelog/hostkit/records.hpp"

namespace stridelog_tool {
namespace {

constexpr unsigned kSectorCount = 256;
// Without a terminal, a progress line this often keeps a log readable.
constexpr unsigned kProgressLineEvery = 32;

struct SectorRead {
    bool ok = false;
    std::vector<std::uint8_t> bytes;
    std::string error;  // the line to print when not ok (empty when interrupted)
};

// One ReadFlashSector call.
SectorRead read_sector(const Context& context, unsigned sector) {
    SectorRead result;
    HostSession session(false, context.raw);
    ReadFlashSector(session.window(), static_cast<WORD>(sector));
    session.drain();                           // what the task posted as it ended
    if (context.interrupted()) return result;  // a cancelled task posts nothing
    const Note* n = session.find(SDK_MSG_SECTOR);
    if (session.first_error() != nullptr || n == nullptr) {
        result.error = error_line(session, "the read ended without the sector");
        return result;
    }
    const auto read = stridelog::hostkit::parse_sector_block(n->block);
    if (!read) {
        result.error = "error: sector " + std::to_string(sector) + ": " + read.error();
    } else {
        result.ok = true;
        result.bytes.assign(read->bytes.begin(), read->bytes.end());
    }
    return result;
}

void print_error(const SectorRead& read) {
    if (!read.error.empty()) std::fprintf(stderr, "%s\n", read.error.c_str());
}

// hexdump -C -v: offset, 16 bytes in two groups of 8, the printable ones at
// the right, and the end offset on a line of its own.
std::string hex_dump(std::span<const std::uint8_t> bytes) {
    std::string out;
    char cell[32];
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        std::snprintf(cell, sizeof cell, "%08zx ", line);
        out += cell;
        std::string text;
        for (std::size_t i = 0; i < 16; ++i) {
            if (i % 8 == 0) out += ' ';
            if (line + i < bytes.size()) {
                const std::uint8_t b = bytes[line + i];
                std::snprintf(cell, sizeof cell, "%02x ", b);
                out += cell;
                text += b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.';
            } else {
                out += "   ";
            }
        }
        out += " |" + text + "|\n";
    }
    std::snprintf(cell, sizeof cell, "%08zx\n", bytes.size());
    out += cell;
    return out;
}

std::string hex_string(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

bool write_all(std::FILE* file, std::span<const std::uint8_t> bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = write_all(file, bytes);
    if (std::fclose(file) != 0) written = false;
    return written;
}

class BackupProgress {
  public:
    BackupProgress() : in_place_(::isatty(STDERR_FILENO) == 1) {}
    void sector(unsigned done) {
        if (in_place_) {
            std::fprintf(stderr, "\rsector %u/%u", done, kSectorCount);
            line_open_ = true;
        } else if (done % kProgressLineEvery == 0) {
            std::fprintf(stderr, "sector %u/%u\n", done, kSectorCount);
        }
        std::fflush(stderr);
    }
    // Ends the line updated in place, so what follows starts on its own line.
    void Close() {
        if (line_open_) std::fputc('\n', stderr);
        line_open_ = false;
    }

  private:
    bool in_place_;
    bool line_open_ = false;
};

}  // namespace

bool parse_sector_number(const std::string& text, unsigned& sector) {
    if (text.empty() || text.size() > 3) return false;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value >= kSectorCount) return false;
    sector = value;
    return true;
}

int run_read_sector(const Context& context, unsigned sector, const std::string& out_file) {
    const SectorRead read = read_sector(context, sector);
    if (!read.ok) {
        print_error(read);
        return kExitError;
    }
    if (!out_file.empty()) {
        if (!WriteFile(out_file, read.bytes)) {
            std::fprintf(stderr, "error: %s: %s\n", out_file.c_str(), std::strerror(errno));
            return kExitError;
        }
        return kExitOk;
    }
    if (context.options.json) {
        std::cout << nlohmann::json{{"sector", sector}, {"data", hex_string(read.bytes)}}.dump()
                  << "\n";
    } else {
        std::cout << hex_dump(read.bytes);
    }
    return kExitOk;
}

int run_backup(const Context& context, const std::string& image_file) {
    // Written under a temporary name and renamed when whole, so a failed or
    // interrupted backup never leaves a short image under the final name.
    const std::string part_file = image_file + ".part";
    std::FILE* part = std::fopen(part_file.c_str(), "wb");
    if (part == nullptr) {
        std::fprintf(stderr, "error: %s: %s\n", part_file.c_str(), std::strerror(errno));
        return kExitError;
    }
    const auto abandon = [&](int status) {
        std::fclose(part);
        std::remove(part_file.c_str());
        return status;
    };
    BackupProgress progress;
    for (unsigned sector = 0; sector < kSectorCount; ++sector) {
        if (context.interrupted()) {
            progress.Close();
            return abandon(kExitError);
        }
        const SectorRead read = read_sector(context, sector);
        if (!read.ok || context.interrupted()) {
            progress.Close();
            print_error(read);
            if (!context.interrupted())
                std::fprintf(stderr, "backup stopped at sector %u; %s not written\n", sector,
                             image_file.c_str());
            return abandon(kExitError);
        }
        if (!write_all(part, read.bytes)) {
            progress.Close();
            std::fprintf(stderr, "error: %s: %s\n", part_file.c_str(), std::strerror(errno));
            return abandon(kExitError);
        }
        progress.sector(sector + 1);
    }
    progress.Close();
    if (std::fclose(part) != 0) {
        std::fprintf(stderr, "error: %s: %s\n", part_file.c_str(), std::strerror(errno));
        std::remove(part_file.c_str());
        return kExitError;
    }
    if (std::rename(part_file.c_str(), image_file.c_str()) != 0) {
        std::fprintf(stderr, "error: %s: %s\n", image_file.c_str(), std::strerror(errno));
        std::remove(part_file.c_str());
        return kExitError;
    }
    return kExitOk;
}

}  // namespace stridelog_tool
