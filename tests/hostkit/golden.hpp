// Output compared byte for byte with a file under tests/data/: the first byte
// that differs is shown. STRIDELOG_REGENERATE_GOLDEN=1 (scripts/regenerate-golden.sh)
// rewrites the file instead, on purpose only.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace stridelog::test {

inline void expect_golden(const std::string& relative, const std::string& written) {
    const std::filesystem::path file = std::filesystem::path(STRIDELOG_TEST_DATA_DIR) / relative;
    if (std::getenv("STRIDELOG_REGENERATE_GOLDEN") != nullptr) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << written;
        return;
    }
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file << " is missing: scripts/regenerate-golden.sh";
    std::ostringstream text;
    text << in.rdbuf();
    const std::string golden = text.str();
    if (written == golden) return;
    std::size_t at = 0;
    while (at < written.size() && at < golden.size() && written[at] == golden[at]) ++at;
    const std::size_t from = at < 80 ? 0 : at - 80;
    ADD_FAILURE() << file << " differs from byte " << at
                  << " on:\n  written: " << written.substr(from, 160)
                  << "\n  golden:  " << golden.substr(from, 160);
}

}  // namespace stridelog::test
