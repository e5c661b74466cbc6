// The debugger output channel: a file named by STRIDELOG_DEBUG_FILE, or a test sink.
#include "platform/debug_output.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/test_environment.hpp"

namespace stridelog::platform {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(DebugOutput, AppendsUnchangedToTheNamedFileUnlessASinkTakesIt) {
    test::TestEnvironment env;
    const auto file = env.write_file("debug.log", "earlier\n");
    env.set_env("STRIDELOG_DEBUG_FILE", file.string());
    debug_output("Open COM Error");
    debug_output("100% done\r\n");
    debug_output(std::string_view("a\0b", 3));
    std::vector<std::string> captured;
    set_debug_sink([&](std::string_view text) { captured.emplace_back(text); });
    debug_output("to the sink");
    set_debug_sink({});
    debug_output(".");
    EXPECT_EQ(ReadFile(file), std::string("earlier\nOpen COM Error100% done\r\na\0b.", 37));
    EXPECT_EQ(captured, std::vector<std::string>{"to the sink"});
}

TEST(DebugOutput, LinesFromManyThreadsStayWhole) {
    test::TestEnvironment env;
    const auto file = env.root() / "threads.log";
    env.set_env("STRIDELOG_DEBUG_FILE", file.string());
    std::vector<std::thread> threads;
    for (char c = 'a'; c < 'e'; ++c)
        threads.emplace_back([c] {
            const std::string line = std::string(200, c) + "\n";
            for (int i = 0; i < 50; ++i) debug_output(line);
        });
    for (auto& t : threads) t.join();
    std::istringstream lines(ReadFile(file));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        ASSERT_EQ(line, std::string(200, line[0])) << "line " << count << " was interleaved";
    EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace stridelog::platform
