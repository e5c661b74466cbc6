#include "platform/serial_device.hpp"

#include <map>
#include <mutex>

#include "platform/tty_serial_device.hpp"

namespace stridelog::platform {
namespace {

std::mutex g_mutex;
std::map<std::string, SerialOpener>& backends() {
    static std::map<std::string, SerialOpener> map;
    return map;
}

}  // namespace

std::unique_ptr<SerialDevice> open_serial_device(const std::string& path, int& error) {
    SerialOpener opener;
    {
        std::lock_guard lock(g_mutex);
        // The longest registered prefix wins.
        std::size_t best = 0;
        for (const auto& [prefix, fn] : backends())
            if (path.starts_with(prefix) && prefix.size() >= best) {
                best = prefix.size();
                opener = fn;
            }
    }
    // Called outside the lock: a backend may take its time opening.
    if (opener) return opener(path, error);
    return TtySerialDevice::open(path, error);
}

void register_serial_backend(const std::string& prefix, SerialOpener opener) {
    std::lock_guard lock(g_mutex);
    backends()[prefix] = std::move(opener);
}

}  // namespace stridelog::platform
