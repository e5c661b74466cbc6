// The debugger output channel: a file named by STRIDELOG_DEBUG_FILE, or a test sink.
#include "platform/debug_output.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "tests/support/test_environment.hpp"

namespace stridelog::platform {
namespace {

TEST(DebugOutput, AppendsUnchangedToTheNamedFileUnlessASinkTakesIt) {
    test::TestEnvironment env;
    const auto file = env.write_file("debug.log", "earlier\n");
    env.set_env("STRIDELOG_DEBUG_FILE", file.string());
    debug_output("Open COM Error");
    debug_output("100% done\r\n");
    debug_output(std::string_view("a\0b", 3));
    {
        test::DebugCapture capture;
        debug_output("to the sink");
        EXPECT_EQ(capture.pieces(), std::vector<std::string>{"to the sink"});
    }
    debug_output(".");
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              std::string("earlier\nOpen COM Error100% done\r\na\0b.", 37));
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
    std::ifstream lines(file);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        ASSERT_EQ(line, std::string(200, line[0])) << "line " << count << " was interleaved";
    EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace stridelog::platform
