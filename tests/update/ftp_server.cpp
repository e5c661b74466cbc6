#include "tests/update/ftp_server.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace stridelog::test {
namespace {

// Binds port 0 on loopback and reports the port it got through a file that
// appears whole (renamed into place), so there is no race for a free port.
constexpr const char* kServerScript = R"PY(
import logging, os, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

root, port_file, log_file = sys.argv[1], sys.argv[2], sys.argv[3]
limit, stall = int(sys.argv[4]), int(sys.argv[5])
logging.basicConfig(filename=log_file, level=logging.DEBUG)
authorizer = DummyAuthorizer()
authorizer.add_user("user", "pass", root, perm="elr")
handler = FTPHandler
handler.authorizer = authorizer
if limit:
    dtp = ThrottledDTPHandler
    dtp.write_limit = limit
    handler.dtp_handler = dtp
if stall:
    class StallingDTPHandler(ThrottledDTPHandler):
        """Sends the first `stall` bytes of a file, then nothing, the data
        connection left open."""

        def __init__(self, sock, cmd_channel):
            super().__init__(sock, cmd_channel)
            self.left = stall

        def send(self, data):
            if self.left <= 0:
                self.del_channel()
                return 0
            sent = super().send(data[:self.left])
            self.left -= sent
            return sent

    handler.dtp_handler = StallingDTPHandler
server = FTPServer(("127.0.0.1", 0), handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
)PY";

}  // namespace

FtpServer::FtpServer(const std::filesystem::path& work, std::uint32_t write_limit,
                     std::uint32_t stall_after)
    : root_(work / "served"), log_file_(work / "ftp_server.log") {
    std::filesystem::create_directories(root_);
    const auto script = work / "ftp_server.py";
    const auto port_file = work / "ftp_server.port";
    std::ofstream(script) << kServerScript;
    std::filesystem::remove(port_file);
    // Debian's own interpreter: the one the python3-pyftpdlib package serves.
    const char* python =
        std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    std::vector<std::string> args = {python,
                                     script.string(),
                                     root_.string(),
                                     port_file.string(),
                                     log_file_.string(),
                                     std::to_string(write_limit),
                                     std::to_string(stall_after)};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, python, nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::ifstream in(port_file); in) {
            unsigned port = 0;
            if (in >> port) {
                port_ = static_cast<std::uint16_t>(port);
                return;
            }
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

FtpServer::~FtpServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 250; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
}

void FtpServer::kill_now() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void FtpServer::put(const std::string& relative, const std::string& bytes) const {
    const auto path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string FtpServer::log() const {
    std::ifstream in(log_file_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t FtpServer::logins() const {
    const std::string text = log();
    std::size_t n = 0;
    for (auto at = text.find("<- USER "); at != std::string::npos;
         at = text.find("<- USER ", at + 1))
        ++n;
    return n;
}

}  // namespace stridelog::test
