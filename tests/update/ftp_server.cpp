#include "tests/update/ftp_server.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

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

root, port_file, log_file, limit, stall = sys.argv[1:4] + [int(a) for a in sys.argv[4:6]]
logging.basicConfig(filename=log_file, level=logging.DEBUG)
handler = FTPHandler
handler.authorizer = DummyAuthorizer()
handler.authorizer.add_user("user", "pass", root, perm="elr")

class Dtp(ThrottledDTPHandler):
    # Sends the first `stall` bytes of a file, then nothing, the connection left open.
    write_limit = limit
    left = stall or 1 << 62

    def send(self, data):
        if self.left <= 0:
            self.del_channel()
            return 0
        sent = super().send(data[:self.left])
        self.left -= sent
        return sent

handler.dtp_handler = Dtp
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
    std::string python =
        std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    std::string args[] = {script.string(),
                          root_.string(),
                          port_file.string(),
                          log_file_.string(),
                          std::to_string(write_limit),
                          std::to_string(stall_after)};
    char* argv[] = {python.data(),  args[0].data(), args[1].data(), args[2].data(),
                    args[3].data(), args[4].data(), args[5].data(), nullptr};
    if (posix_spawnp(&pid_, python.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    for (int i = 0; i < 750 && pid_ > 0 && port_ == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        unsigned port = 0;
        if (std::ifstream(port_file) >> port) port_ = static_cast<std::uint16_t>(port);
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    }
}

FtpServer::~FtpServer() {
    kill_now();
}

void FtpServer::kill_now() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
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

}  // namespace stridelog::test
