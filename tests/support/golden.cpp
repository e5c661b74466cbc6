#include "tests/support/golden.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "stridelog/stridelog.h"

namespace stridelog::test {
namespace {

const char* code_name(UINT code) {
    switch (code) {
#define STRIDELOG_GOLDEN_NAME(name, value, final, meaning) \
    case name:                                             \
        return #name;
        STRIDELOG_ERROR_CODES(STRIDELOG_GOLDEN_NAME)
        STRIDELOG_RESULT_CODES(STRIDELOG_GOLDEN_NAME)
#undef STRIDELOG_GOLDEN_NAME
        default:
            return nullptr;
    }
}

std::uint64_t fnv1a(std::span<const std::uint8_t> bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ULL;
    return h;
}

std::uint32_t address_of(const std::vector<std::uint8_t>& f) {
    return f[1] | f[2] << 8 | static_cast<std::uint32_t>(f[3]) << 16;
}

}  // namespace

std::string bytes_text(std::span<const std::uint8_t> bytes, std::size_t limit) {
    char piece[64];
    if (bytes.size() > limit) {
        std::snprintf(piece, sizeof piece, "%zu bytes, digest %016llx", bytes.size(),
                      static_cast<unsigned long long>(fnv1a(bytes)));
        return piece;
    }
    std::string out;
    for (std::uint8_t b : bytes) {
        std::snprintf(piece, sizeof piece, out.empty() ? "%02x" : " %02x", b);
        out += piece;
    }
    return out;
}

std::string transcript(const HostRecorder& host) {
    std::string out;
    for (const auto& n : host.notifications()) {
        const char* name = code_name(n.code);
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", n.code);
        out += name ? name : code;
        if (n.error) out += " error";
        if (n.code == SDK_MSG_PROGRESS && n.block.size() == 4) {
            char value[32];
            std::snprintf(value, sizeof value, " %g", n.progress());
            out += value;
        } else if (n.has_block) {
            const bool printable =
                !n.block.empty() && std::all_of(n.block.begin(), n.block.end(), [](std::uint8_t b) {
                    return b >= 0x20 && b < 0x7F;
                });
            out += printable ? " \"" + n.text() + "\"" : " [" + bytes_text(n.block, 160) + "]";
        }
        out += '\n';
    }
    return out;
}

std::string frames_transcript(const std::vector<std::vector<std::uint8_t>>& frames) {
    std::string out;
    char line[96];
    for (std::size_t i = 0; i < frames.size();) {
        const auto& f = frames[i];
        const bool chunk = f.size() >= 5 && (f[0] == 0x12 || f[0] == 0x16);
        if (!chunk) {
            out += bytes_text(f, 16) + '\n';
            ++i;
            continue;
        }
        // A run: the same command, each frame at the address the previous one ended.
        std::size_t j = i + 1;
        std::uint32_t next = address_of(f) + f[4];
        // Chunk sizes as "128*31 44": each size and how often it came in a row.
        std::vector<std::pair<unsigned, std::size_t>> sizes{{f[4], 1}};
        std::string data;
        if (f[0] == 0x16) data.assign(f.begin() + 5, f.end());
        for (; j < frames.size(); ++j) {
            const auto& g = frames[j];
            if (g.size() < 5 || g[0] != f[0] || address_of(g) != next) break;
            if (g[4] == sizes.back().first)
                ++sizes.back().second;
            else
                sizes.emplace_back(g[4], 1);
            if (f[0] == 0x16) data.append(g.begin() + 5, g.end());
            next += g[4];
        }
        std::string counts;
        for (const auto& [size, repeat] : sizes) {
            if (!counts.empty()) counts += ' ';
            counts += std::to_string(size);
            if (repeat > 1) counts += "*" + std::to_string(repeat);
        }
        std::snprintf(line, sizeof line, "%02x %s 0x%06x..0x%06x in %s", f[0],
                      f[0] == 0x12 ? "read" : "write", address_of(f), next - 1, counts.c_str());
        out += line;
        if (f[0] == 0x16) {
            const std::span<const std::uint8_t> bytes(
                reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
            out += ": " + bytes_text(bytes, 16);
        }
        out += '\n';
        i = j;
    }
    return out;
}

std::string changes_text(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                         std::uint32_t base) {
    std::string out;
    char line[64];
    const std::size_t size = std::min(before.size(), after.size());
    for (std::size_t i = 0; i < size;) {
        if (before[i] == after[i]) {
            ++i;
            continue;
        }
        // A run ends at four equal bytes in a row, so an erased area is one line.
        std::size_t j = i, equal = 0;
        for (std::size_t k = i; k < size && equal < 4; ++k) {
            equal = before[k] == after[k] ? equal + 1 : 0;
            if (equal == 0) j = k + 1;
        }
        std::snprintf(line, sizeof line, "changed 0x%04zx..0x%04zx: ", base + i, base + j - 1);
        out += line + bytes_text(before.subspan(i, j - i), 32) + " -> " +
               bytes_text(after.subspan(i, j - i), 32) + "\n";
        i = j;
    }
    return out.empty() ? "unchanged\n" : out;
}

namespace {

bool regenerating() {
    const char* regenerate = std::getenv("STRIDELOG_REGENERATE_GOLDEN");
    return regenerate && std::string(regenerate) == "1";
}

// The stored file, or nothing (with a failure) when it is missing.
std::optional<std::string> stored(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "no golden file " << file
                      << " (scripts/regenerate-golden.sh writes it; review it before committing)";
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void rewrite(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// Runs of three or more equal lines as one "<line> (xN)", so that a long
// write's repeated progress stays a reviewable file.
std::string collapse_repeats(const std::string& body) {
    std::istringstream in(body);
    std::string out, line, last;
    int count = 0;
    const auto flush = [&] {
        if (count >= 3)
            out += last + " (x" + std::to_string(count) + ")\n";
        else
            for (int i = 0; i < count; ++i) out += last + "\n";
    };
    while (std::getline(in, line)) {
        if (count > 0 && line == last) {
            ++count;
            continue;
        }
        flush();
        last = line;
        count = 1;
    }
    flush();
    return out;
}

}  // namespace

void expect_golden(const std::string& name, const std::string& body) {
    const std::string text = "# " + name + "\n" + collapse_repeats(body);
    const std::filesystem::path file =
        std::filesystem::path(STRIDELOG_TEST_DATA_DIR) / "golden" / (name + ".txt");
    if (regenerating()) return rewrite(file, text);
    const auto golden = stored(file);
    if (!golden || *golden == text) return;
    std::istringstream want(*golden), got(text);
    std::string w, g;
    for (int line = 1;; ++line) {
        const bool more_w = static_cast<bool>(std::getline(want, w));
        const bool more_g = static_cast<bool>(std::getline(got, g));
        if (!more_w && !more_g) break;
        if (w != g || more_w != more_g) {
            ADD_FAILURE() << file.string() << ":" << line
                          << " differs\n  golden: " << (more_w ? w : "<end>")
                          << "\n  now:    " << (more_g ? g : "<end>");
            return;
        }
    }
    ADD_FAILURE() << file.string() << " differs";
}

void expect_data_file(const std::string& relative, const std::string& bytes) {
    const std::filesystem::path file = std::filesystem::path(STRIDELOG_TEST_DATA_DIR) / relative;
    if (regenerating()) return rewrite(file, bytes);
    const auto golden = stored(file);
    if (!golden || *golden == bytes) return;
    std::size_t at = 0;
    while (at < bytes.size() && at < golden->size() && bytes[at] == (*golden)[at]) ++at;
    const std::size_t from = at < 80 ? 0 : at - 80;
    ADD_FAILURE() << file << " differs from byte " << at
                  << " on:\n  written: " << bytes.substr(from, 160)
                  << "\n  golden:  " << golden->substr(from, 160);
}

}  // namespace stridelog::test
