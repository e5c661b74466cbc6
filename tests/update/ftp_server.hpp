// A real FTP server (pyftpdlib) on 127.0.0.1 and a free port, serving a folder
// under the test's temporary root, stopped by the destructor. Account
// "user"/"pass"; write_limit throttles downloads (bytes per second, 0: none);
// stall_after makes every download stop sending after that many bytes, its data
// connection left open (0: never).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace stridelog::test {

class FtpServer {
  public:
    FtpServer(const std::filesystem::path& work, std::uint32_t write_limit = 0,
              std::uint32_t stall_after = 0);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool running() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The folder the account logs in to.
    const std::filesystem::path& root() const { return root_; }
    // Writes a file under the root (folders created).
    void put(const std::string& relative, const std::string& bytes) const;
    // The server's log so far (commands received, at debug level).
    std::string log() const;
    // Kills the server at once, as a crash would: open connections just drop.
    void kill_now();

  private:
    std::filesystem::path root_;
    std::filesystem::path log_file_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace stridelog::test
