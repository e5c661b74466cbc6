// stridelog-sim as a user runs it: announced in the device map, serving its pty,
// withdrawing and saving on SIGTERM.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/flash.hpp"
#include "tests/sim/pty_client.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> read_lines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(SimulatorExecutable, AnnouncesServesWithdrawsAndSaves) {
    const fs::path exe =
        fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "sim" / "stridelog-sim";
    ASSERT_TRUE(fs::exists(exe)) << exe << " (build the stridelog-sim target)";
    const fs::path dir = fs::temp_directory_path() / ("sim_exe_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path map = dir / "devices", image = dir / "flash.bin";
    std::ofstream(map) << "# cables\n\\Device\\USB#VID_04FC&PID_0201#0 COM40 /dev/ttyUSB0\n";

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(exe.c_str(), exe.c_str(), "--image", image.c_str(), "--device-map", map.c_str(),
                "--baud", "0", "--status", "0708", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string pty;  // the first line on stdout
    char c = 0;
    pollfd p{out[0], POLLIN, 0};
    while (::poll(&p, 1, 5000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') pty += c;
    ::close(out[0]);
    ASSERT_FALSE(pty.empty());
    // Announced under the next free port name, after what was there.
    const auto lines = read_lines(map);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2],
              "\\Device\\USB#VID_04FC&PID_0201#sim" + std::to_string(pid) + " COM41 " + pty);
    {
        stridelog::test::PtyClient client(pty);
        ASSERT_TRUE(client.send({0x2C}));
        ASSERT_TRUE(client.send({0x14, 0x00, 0x30, 0x00}));
        ASSERT_TRUE(client.send({0x16, 0x10, 0x30, 0x00, 2, 0xAB, 0xCD}));
        EXPECT_EQ(client.receive(3), (std::vector<Bytes>{{0x2D, 0x07, 0x08}, {0x15}, {0x17}}));
    }
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_lines(map).size(), 2u);  // its own line withdrawn, the others kept

    stridelog::sim::Flash saved;
    std::string error;
    ASSERT_TRUE(saved.load(image.string(), error)) << error;
    EXPECT_EQ(saved.read(0x300F, 4), (Bytes{0xFF, 0xAB, 0xCD, 0xFF}));
    fs::remove_all(dir);
}

}  // namespace
