// Keeps a test away from the real user's files and the machine's serial ports.
//
// While alive: XDG_CONFIG_HOME and XDG_DOCUMENTS_DIR point at fresh folders
// under a temporary root in /tmp, STRIDELOG_DEVICE_MAP is unset, the sysfs scan
// is off, nothing is injected, the system version is 6 and the current-user
// registry is reloaded from the (empty) temporary config folder, and the
// registry has forgotten which notes it already raised. The destructor
// restores the variables, clears injections, turns the scan back on, reloads the
// registry and removes the temporary root.
//
// DebugCapture collects what reaches the debugger output instead.
//
// Threads: construct and destroy on the test's main thread, with no SDK thread
// running (environment variables are process-wide).
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stridelog::test {

class TestEnvironment {
  public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path config_dir() const { return root_ / "config"; }
    std::filesystem::path documents_dir() const { return root_ / "documents"; }
    // The file the current-user registry is persisted to.
    std::filesystem::path registry_file() const { return config_dir() / "stridelog" / "registry"; }

    // Writes a file under the temporary root and returns its path.
    std::filesystem::path write_file(std::string_view name, std::string_view content) const;
    // Writes a device map file and points STRIDELOG_DEVICE_MAP at it.
    std::filesystem::path set_device_map(std::string_view content);
    // Sets (or, with nullopt, unsets) a variable; restored by the destructor.
    void set_env(const std::string& name, const std::optional<std::string>& value);
    // A text value under the current user's SOFTWARE\Tempolink (such as "DebugView").
    void set_switch(std::string_view name, std::string_view text) const;

  private:
    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_env_;
};

class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // Each piece written, in order.
    std::vector<std::string> pieces() const;
    // Everything written, joined.
    std::string text() const;
    void clear();

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace stridelog::test
