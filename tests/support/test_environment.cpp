#include "tests/support/test_environment.hpp"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "platform/debug_output.hpp"
#include "platform/registry.hpp"

namespace stridelog::test {

namespace fs = std::filesystem;

TestEnvironment::TestEnvironment() {
    std::string pattern = (fs::temp_directory_path() / "stridelog-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    root_ = pattern;
    fs::create_directories(config_dir());
    fs::create_directories(documents_dir());
    set_env("XDG_CONFIG_HOME", config_dir().string());
    set_env("XDG_DOCUMENTS_DIR", documents_dir().string());
    set_env("STRIDELOG_DEVICE_MAP", std::nullopt);
    set_env("STRIDELOG_SYSFS_ROOT", std::nullopt);
    platform::set_sysfs_scan(false);
    platform::clear_injected();
    platform::set_system_major_version(6);
    platform::reload_current_user();
    platform::forget_registry_notes();
}

TestEnvironment::~TestEnvironment() {
    for (const auto& [name, value] : saved_env_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    platform::clear_injected();
    platform::set_sysfs_scan(true);
    platform::set_system_major_version(6);
    platform::reload_current_user();
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path TestEnvironment::write_file(std::string_view name, std::string_view content) const {
    const fs::path path = root_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return path;
}

fs::path TestEnvironment::set_device_map(std::string_view content) {
    const fs::path path = write_file("device-map", content);
    set_env("STRIDELOG_DEVICE_MAP", path.string());
    return path;
}

void TestEnvironment::set_env(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_env_.count(name)) {
        const char* old = std::getenv(name.c_str());
        saved_env_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

void TestEnvironment::set_switch(std::string_view name, std::string_view text) const {
    auto key = platform::reg_create(platform::RegRoot::current_user, "SOFTWARE\\Tempolink");
    if (!key || !key->set(name, platform::RegValue::text(text)))
        throw std::runtime_error("cannot set a registry switch");
}

struct DebugCapture::Shared {
    std::mutex mutex;
    std::vector<std::string> pieces;
};

DebugCapture::DebugCapture() : shared_(std::make_shared<Shared>()) {
    platform::set_debug_sink([shared = shared_](std::string_view text) {
        std::lock_guard lock(shared->mutex);
        shared->pieces.emplace_back(text);
    });
}

DebugCapture::~DebugCapture() {
    platform::set_debug_sink({});
}

std::vector<std::string> DebugCapture::pieces() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->pieces;
}

std::string DebugCapture::text() const {
    std::string all;
    for (const auto& piece : pieces()) all += piece;
    return all;
}

void DebugCapture::clear() {
    std::lock_guard lock(shared_->mutex);
    shared_->pieces.clear();
}

}  // namespace stridelog::test
