#include "simulate.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace stridelog_tool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSimulatorName = "stridelog-sim";
// Creating a pty takes milliseconds; a loaded machine or a sanitizer build
// gets plenty of room before the start counts as failed.
constexpr auto kAnnounceTimeout = std::chrono::seconds(10);
// Saving a 1 MiB image is all the simulator does after SIGTERM.
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr int kPollSliceMs = 50;

std::string own_executable() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    return std::string(path, static_cast<std::size_t>(n));
}

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string exit_description(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + ::strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// Runs in the forked child: async-signal-safe calls only until exec.
[[noreturn]] void exec_simulator(pid_t parent, int announce_fd, const char* const* argv) {
    // Its own process group: a Ctrl-C on the terminal reaches the tool, which
    // ends its task first and then stops the simulator itself.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // the tool killed outright takes it along
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::dup2(announce_fd, STDOUT_FILENO) < 0) ::_exit(127);
    ::execv(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
}

}  // namespace

std::vector<std::string> simulator_candidates(const std::string& own_executable,
                                              const char* path_variable) {
    std::vector<std::string> out;
    const auto slash = own_executable.rfind('/');
    if (slash != std::string::npos) {
        const std::string folder = own_executable.substr(0, slash);
        out.push_back(folder + "/" + kSimulatorName);
        // build/tools/stridelog/stridelog beside build/sim/stridelog-sim
        out.push_back(std::filesystem::path(folder + "/../../sim/" + kSimulatorName)
                          .lexically_normal()
                          .string());
    }
    const std::string path = path_variable != nullptr ? path_variable : "";
    std::size_t at = 0;
    while (!path.empty() && at <= path.size()) {
        const auto end = std::min(path.find(':', at), path.size());
        const std::string entry = path.substr(at, end - at);
        out.push_back((entry.empty() ? std::string(".") : entry) + "/" + kSimulatorName);
        at = end + 1;
    }
    return out;
}

SimulatedWatch::~SimulatedWatch() {
    stop();
}

void SimulatedWatch::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + kStopTimeout;
        int status = 0;
        pid_t reaped = 0;
        while ((reaped = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (reaped == 0) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (announce_fd_ >= 0) ::close(announce_fd_);
    announce_fd_ = -1;
    if (!map_path_.empty()) ::unlink(map_path_.c_str());
    if (!folder_.empty()) ::rmdir(folder_.c_str());
    map_path_.clear();
    folder_.clear();
}

std::unique_ptr<SimulatedWatch> start_simulated_watch(const SimulatorOptions& options,
                                                      const std::function<bool()>& give_up,
                                                      std::string& error) {
    std::string executable;
    for (const auto& candidate : simulator_candidates(own_executable(), std::getenv("PATH"))) {
        if (is_executable_file(candidate)) {
            executable = candidate;
            break;
        }
    }
    if (executable.empty()) {
        error = std::string(kSimulatorName) +
                " was found neither beside this program nor in the build tree nor on PATH";
        return nullptr;
    }

    std::unique_ptr<SimulatedWatch> watch(new SimulatedWatch);
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/stridelog-simulate-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        error = "temporary folder " + folder + ": " + std::strerror(errno);
        return nullptr;
    }
    watch->folder_ = folder;
    watch->map_path_ = folder + "/device.map";
    // Only the simulated watch is a cable port for this run.
    ::setenv("STRIDELOG_DEVICE_MAP", watch->map_path_.c_str(), 1);

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    watch->announce_fd_ = pipe_fds[0];
    // Full speed: pacing at the cable's baud rate would make a backup take minutes.
    std::vector<const char*> argv = {executable.c_str(), "--baud", "0", "--device-map",
                                     watch->map_path_.c_str()};
    if (options.realistic) argv.push_back("--realistic");
    if (!options.image.empty()) {
        argv.push_back("--image");
        argv.push_back(options.image.c_str());
    }
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) exec_simulator(parent, pipe_fds[1], argv.data());
    const int fork_errno = errno;
    ::close(pipe_fds[1]);
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(fork_errno);
        return nullptr;
    }
    watch->pid_ = pid;

    // The simulator prints its pty path once its device-map line is written.
    std::string announced;
    const auto deadline = Clock::now() + kAnnounceTimeout;
    while (announced.find('\n') == std::string::npos) {
        if (give_up()) {
            error = "interrupted";
            return nullptr;
        }
        if (Clock::now() >= deadline) {
            error = executable + " did not announce its pseudo-terminal within " +
                    std::to_string(kAnnounceTimeout.count()) + " s";
            return nullptr;
        }
        pollfd p{watch->announce_fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollSliceMs);
        if (ready < 0 && errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return nullptr;
        }
        if (ready <= 0) continue;
        char chunk[256];
        const ssize_t n = ::read(watch->announce_fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            watch->pid_ = -1;
            error = executable + " ended (" + exit_description(status) +
                    ") before announcing its pseudo-terminal";
            return nullptr;
        }
        announced.append(chunk, static_cast<std::size_t>(n));
    }
    watch->device_path_ = announced.substr(0, announced.find('\n'));
    if (watch->device_path_.empty() || watch->device_path_[0] != '/') {
        error = executable + " announced no device path but \"" + watch->device_path_ + "\"";
        return nullptr;
    }
    return watch;
}

}  // namespace stridelog_tool
