// The current user's registry file as the library reads it at start-up, over
// arbitrary file contents: a file that cannot be read is set aside and the
// tree starts empty; one that can is walked without surprises.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/registry.hpp"

namespace platform = stridelog::platform;

namespace {

std::string g_file;

void walk(platform::RegRoot root, const std::string& path, int depth) {
    auto key = platform::reg_open(root, path);
    if (!key) return;
    std::string name;
    platform::RegValue value;
    for (std::size_t i = 0; i < 64 && key->enum_value(i, name, value); ++i) {
        if (value.type == platform::RegType::sz) (void)value.as_text();
        platform::RegValue again;
        if (!key->query(name, again)) __builtin_trap();
    }
    if (depth == 0) return;
    for (std::size_t i = 0; i < 16 && key->enum_subkey(i, name); ++i)
        walk(root, path.empty() ? name : path + "\\" + name, depth - 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/stridelog-registry-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    ::setenv("XDG_CONFIG_HOME", folder, 1);
    g_file = std::string(folder) + "/stridelog/registry";
    ::mkdir((std::string(folder) + "/stridelog").c_str(), 0700);
    platform::set_sysfs_scan(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    platform::reload_current_user();
    walk(platform::RegRoot::current_user, "SOFTWARE", 3);
    walk(platform::RegRoot::current_user, "SOFTWARE\\Tempolink", 2);
    return 0;
}
