// stridelog-sim as a user runs it: announced in the device map, serving its pty,
// withdrawing and saving on SIGTERM.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

// Runs stridelog-sim with `options` on an erased flash, sends `commands` and
// returns the replies and what it wrote on stderr by the time it ended.
struct SimRun {
    std::vector<Bytes> replies;
    std::string errors;
};
SimRun run_simulator(const std::vector<std::string>& options, const std::vector<Bytes>& commands) {
    const fs::path exe =
        fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "sim" / "stridelog-sim";
    const fs::path errors =
        fs::temp_directory_path() / ("sim_exe_err_" + std::to_string(::getpid()));
    int out[2];
    if (::pipe(out) != 0) return {};
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        std::FILE* err = std::fopen(errors.c_str(), "w");
        if (err != nullptr) ::dup2(::fileno(err), STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(exe.c_str()), const_cast<char*>("--baud"),
                                const_cast<char*>("0")};
        for (const auto& o : options) argv.push_back(const_cast<char*>(o.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string pty;
    char c = 0;
    pollfd p{out[0], POLLIN, 0};
    while (::poll(&p, 1, 5000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') pty += c;
    ::close(out[0]);
    SimRun run;
    if (!pty.empty()) {
        stridelog::test::PtyClient client(pty);
        for (const Bytes& command : commands) {
            client.send(command);
            // One at a time, as a host asks.
            for (auto& reply : client.receive(1)) run.replies.push_back(reply);
        }
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::ifstream in(errors);
    run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    fs::remove(errors);
    return run;
}

TEST(SimulatorExecutable, AgpsOptionsShowInTheStatusAndTheLog) {
    struct Row {
        const char* legend;
        std::vector<std::string> options;
        std::vector<Bytes> replies;  // to status, expiry 2099-01-01, status
        const char* error;           // on stderr
    };
    const std::vector<Row> rows = {
        {"erased flash: the packets are missing",
         {},
         {{0x2D, 0, 0, 0, 1}, {0x2F}, {0x2D, 0, 0, 0, 1}},
         "stridelog-sim: A-GPS expiry 2099-01-01 not taken: packet 0 (at 0xE6000): does not "
         "start with 04 24 BF 00 D2 02\n"},
        {"refusing, flag 0",
         {"--agps-refuse", "--status-flag", "0"},
         {{0x2D, 0, 0, 0, 0}, {0x2F}, {0x2D, 0, 0, 0, 0}},
         "A-GPS expiry 2099-01-01 not taken: the watch is set to refuse A-GPS data"},
        {"fixed status bytes",
         {"--status", "01000001"},
         {{0x2D, 1, 0, 0, 1}, {0x2F}, {0x2D, 1, 0, 0, 1}},
         "not taken"},
    };
    for (const Row& row : rows) {
        const SimRun run = run_simulator(row.options, {{0x2C}, {0x2E, 99, 1, 1}, {0x2C}});
        EXPECT_EQ(run.replies, row.replies) << row.legend;
        EXPECT_NE(run.errors.find(row.error), std::string::npos)
            << row.legend << ": " << run.errors;
    }
}

TEST(SimulatorExecutable, GeneratesAnUpdateFolder) {
    const fs::path exe =
        fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "sim" / "stridelog-sim";
    struct Row {
        const char* legend;
        std::string options;
        int exit_code;       // -1: any failure
        std::string listed;  // stdout
        std::uintmax_t image_size;
    };
    const std::vector<Row> rows = {
        {"defaults", "", 0,
         "73688_VUNA0_00.txt\n73688_VUNA0_00_history.txt\n1.32.01_VUNA0_00.ini\n"
         "1.32.01_VUNA0_00.fw2\n",
         151808},
        {"older family, v1.0 header, model given",
         "--version 1.25.00_VUNA0_00 --header 1.0 --model 70001", 0,
         "70001_VUNA0_00.txt\n70001_VUNA0_00_history.txt\n1.25.00_VUNA0_00.ini\n"
         "1.25.00_VUNA0_00.fw2\n",
         131328},
        {"a version without its code", "--version 1.32.01", 2, "", 0},
        {"an unknown damage", "--damage everything", -1, "", 0},
    };
    for (const Row& row : rows) {
        const fs::path dir = fs::temp_directory_path() / ("sim_fw_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        const fs::path listed = dir.string() + ".out";
        const std::string command = exe.string() + " --generate-firmware " + dir.string() + " " +
                                    row.options + " >" + listed.string() + " 2>/dev/null";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << row.legend;
        if (row.exit_code < 0) {
            EXPECT_NE(WEXITSTATUS(status), 0) << row.legend;
        } else {
            EXPECT_EQ(WEXITSTATUS(status), row.exit_code) << row.legend;
        }
        std::ifstream in(listed);
        const std::string out{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(out, row.listed) << row.legend;
        if (row.image_size != 0) {
            const std::string image = out.substr(out.rfind('\n', out.size() - 2) + 1);
            std::error_code ec;
            EXPECT_EQ(fs::file_size(dir / image.substr(0, image.size() - 1), ec), row.image_size)
                << row.legend;
        }
        fs::remove_all(dir);
        fs::remove(listed);
    }
}

}  // namespace
