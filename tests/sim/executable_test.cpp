// stridelog-sim as a user runs it: announced in the device map, serving its pty,
// withdrawing and saving on SIGTERM; its A-GPS options; the files it generates.
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
#include "sim/realistic_content.hpp"
#include "tests/sim/pty_client.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kExe =
    fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "sim" / "stridelog-sim";
const fs::path kDir = fs::temp_directory_path() / ("sim_exe_" + std::to_string(::getpid()));

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The simulator started with `options` (stderr to kDir/errors), and the pty it
// printed on its first line.
struct Simulator {
    explicit Simulator(const std::vector<std::string>& options) {
        int out[2];
        if (::pipe(out) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            if (std::FILE* err = std::fopen((kDir / "errors").c_str(), "w"))
                ::dup2(::fileno(err), STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(kExe.c_str()), const_cast<char*>("--baud"),
                                    const_cast<char*>("0")};
            for (const auto& o : options) argv.push_back(const_cast<char*>(o.c_str()));
            argv.push_back(nullptr);
            ::execv(kExe.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        char c = 0;
        pollfd p{out[0], POLLIN, 0};
        while (::poll(&p, 1, 5000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') pty += c;
        ::close(out[0]);
    }
    // Its exit status after SIGTERM.
    int stop() {
        ::kill(pid, SIGTERM);
        int status = -1;
        ::waitpid(pid, &status, 0);
        return status;
    }
    pid_t pid = -1;
    std::string pty;
};

class SimulatorExecutable : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kExe)) << kExe << " (build the stridelog-sim target)";
        fs::create_directories(kDir);
    }
    void TearDown() override { fs::remove_all(kDir); }
};

// Serving and saving are what the host tool's shell tests run through; here,
// the device map lines and the options those tests do not use.
TEST_F(SimulatorExecutable, AnnouncesAndWithdrawsItsDeviceMapLine) {
    const fs::path map = kDir / "devices";
    const std::string cable = "# cables\n\\Device\\USB#VID_04FC&PID_0201#0 COM40 /dev/ttyUSB0\n";
    std::ofstream(map) << cable;
    Simulator sim({"--device-map", map.string()});
    ASSERT_FALSE(sim.pty.empty());
    // Under the next free port name, after what was there.
    EXPECT_EQ(slurp(map), cable + "\\Device\\USB#VID_04FC&PID_0201#sim" + std::to_string(sim.pid) +
                              " COM41 " + sim.pty + "\n");
    const int status = sim.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(slurp(map), cable) << "its own line withdrawn, the others kept";
}

// The A-GPS checks themselves are the in-process watch's (agps_test); here,
// the options reach it and its log reaches stderr.
TEST_F(SimulatorExecutable, AgpsOptionsShowInTheStatusAndTheLog) {
    Simulator sim({"--agps-refuse", "--status", "01000001"});
    std::vector<Bytes> replies;
    {
        stridelog::test::PtyClient client(sim.pty);
        for (const Bytes& command : {Bytes{0x2E, 99, 1, 1}, Bytes{0x2C}}) {
            client.send(command);  // one at a time, as a host asks
            for (auto& reply : client.receive(1)) replies.push_back(reply);
        }
    }
    sim.stop();
    EXPECT_EQ(replies, (std::vector<Bytes>{{0x2F}, {0x2D, 1, 0, 0, 1}}));
    EXPECT_EQ(slurp(kDir / "errors"),
              "stridelog-sim: A-GPS expiry 2099-01-01 not taken: the watch is set to refuse A-GPS "
              "data\n");
}

TEST_F(SimulatorExecutable, GeneratesAnUpdateFolder) {
    const struct {
        const char* legend;
        std::string options;
        int exit_code;       // -1: any failure
        std::string listed;  // stdout
        std::uintmax_t image_size;
    } rows[] = {
        {"older family, v1.0 header, model given",
         "--version 1.25.00_VUNA0_00 --header 1.0 --model 70001", 0,
         "70001_VUNA0_00.txt\n70001_VUNA0_00_history.txt\n1.25.00_VUNA0_00.ini\n"
         "1.25.00_VUNA0_00.fw2\n",
         131328},
        {"a version without its code", "--version 1.32.01", 2, "", 0},
        {"an unknown damage", "--damage everything", -1, "", 0},
    };
    const fs::path dir = kDir / "fw", listed = kDir / "listed";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        fs::remove_all(dir);
        const int status = std::system((kExe.string() + " --generate-firmware " + dir.string() +
                                        " " + row.options + " >" + listed.string() + " 2>/dev/null")
                                           .c_str());
        ASSERT_TRUE(WIFEXITED(status));
        if (row.exit_code < 0) {
            EXPECT_NE(WEXITSTATUS(status), 0);
        } else {
            EXPECT_EQ(WEXITSTATUS(status), row.exit_code);
        }
        const std::string out = slurp(listed);
        EXPECT_EQ(out, row.listed);
        if (row.image_size != 0) {
            const std::string image = out.substr(out.rfind('\n', out.size() - 2) + 1);
            std::error_code ec;
            EXPECT_EQ(fs::file_size(dir / image.substr(0, image.size() - 1), ec), row.image_size);
        }
    }
}

TEST_F(SimulatorExecutable, GenerateFlagWritesTheRealisticImageForTheStatusLayout) {
    const fs::path image = kDir / "realistic.bin";
    ASSERT_EQ(std::system(
                  (kExe.string() + " --generate " + image.string() + " --status 01000000").c_str()),
              0);
    stridelog::sim::Flash written, want;
    std::string error;
    ASSERT_TRUE(written.load(image.string(), error)) << error;
    stridelog::sim::generate_realistic_flash(want, false);
    EXPECT_TRUE(std::equal(want.bytes().begin(), want.bytes().end(), written.bytes().begin()));
}

}  // namespace
