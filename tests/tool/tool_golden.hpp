// The tool's documents and reports against reviewed texts under
// tests/data/golden/tool/, without the SDK the shared golden helper needs.
// STRIDELOG_REGENERATE_GOLDEN=1 rewrites the files instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace stridelog_tool {

inline void expect_golden(const std::string& name, const std::string& body) {
    const std::string text = "# " + name + "\n" + body;
    const auto file = std::filesystem::path(STRIDELOG_TEST_DATA_DIR) / "golden" / (name + ".txt");
    const char* regenerate = std::getenv("STRIDELOG_REGENERATE_GOLDEN");
    if (regenerate && std::string(regenerate) == "1") {
        std::ofstream(file, std::ios::binary) << text;
        return;
    }
    std::ifstream in(file, std::ios::binary);
    std::stringstream golden;
    golden << in.rdbuf();
    std::istringstream want(golden.str()), got(text);
    std::string w, g;
    for (int line = 1;; ++line) {
        const bool more_want = static_cast<bool>(std::getline(want, w));
        const bool more_got = static_cast<bool>(std::getline(got, g));
        if (!more_want && !more_got) return;
        ASSERT_EQ(more_want ? w : "<end>", more_got ? g : "<end>") << file.string() << ":" << line;
    }
}

}  // namespace stridelog_tool
