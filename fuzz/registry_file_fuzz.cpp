// The current user's registry file as the library reads it at start-up, over
// arbitrary file contents: a file that cannot be read is set aside and the
// tree starts empty; one that can is walked without surprises.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz_target.hpp"
#include "platform/registry.hpp"

using namespace stridelog::platform;

namespace {

std::string g_file;

void walk(const std::string& path, int depth) {
    auto key = reg_open(RegRoot::current_user, path);
    if (!key) return;
    std::string name;
    RegValue value, again;
    for (std::size_t i = 0; i < 64 && key->enum_value(i, name, value); ++i) {
        if (value.type == RegType::sz) (void)value.as_text();
        stridelog::fuzz::check(key->query(name, again));
    }
    for (std::size_t i = 0; depth > 0 && i < 16 && key->enum_subkey(i, name); ++i)
        walk(path.empty() ? name : path + "\\" + name, depth - 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/stridelog-registry-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    ::setenv("XDG_CONFIG_HOME", folder, 1);
    g_file = std::string(folder) + "/stridelog/registry";
    ::mkdir((std::string(folder) + "/stridelog").c_str(), 0700);
    set_sysfs_scan(false);
    return 0;
}

FUZZ_TARGET(input) {
    std::ofstream(g_file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
    reload_current_user();
    walk("SOFTWARE", 3);
    walk("SOFTWARE\\Tempolink", 2);
}
