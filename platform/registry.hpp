// The system registry as far as the SDK reads and writes it.
//
// Two roots. The current-user tree is kept in memory and persisted to
// $XDG_CONFIG_HOME/stridelog/registry (or ~/.config/stridelog/registry) on every
// change. The local-machine tree holds the serial device map
// (HARDWARE\DEVICEMAP\SERIALCOMM: value name = kernel device name, data = port
// name COMn), synthesised at each open from sysfs (USB 04FC:0201 ttys and ttys on
// the cp210x driver), from the lines of the file named by STRIDELOG_DEVICE_MAP
// ("<value name> <port name> <device path>", # comments), and from entries
// injected in-process; and the older systems' USB enumeration key
// (Enum\USB\SPCP825A), filled by injection only.
//
// Key paths use backslashes and compare without regard to ASCII case; values are
// enumerated in a stable order (the order they were first set or found).
// Strings (REG_SZ) are stored as UTF-16LE with their terminating NUL, as the
// platform does, so the byte size of "1234" is 10.
//
// Threads: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stridelog::platform {

enum class RegRoot { current_user, local_machine };

enum class RegType : std::uint32_t { none = 0, sz = 1, binary = 3, dword = 4 };

struct RegValue {
    RegType type = RegType::none;
    std::vector<std::uint8_t> data;

    static RegValue text(std::string_view utf8);  // REG_SZ from UTF-8
    static RegValue dword(std::uint32_t v);
    // REG_SZ data read back as UTF-8, up to the first NUL.
    std::string as_text() const;
};

class RegKey {
  public:
    RegKey() = default;
    ~RegKey();
    RegKey(RegKey&&) noexcept;
    RegKey& operator=(RegKey&&) noexcept;

    // Values and subkeys by position; false past the end.
    bool enum_value(std::size_t index, std::string& name, RegValue& value) const;
    bool enum_subkey(std::size_t index, std::string& name) const;
    // false when the value does not exist.
    bool query(std::string_view name, RegValue& value) const;
    bool set(std::string_view name, const RegValue& value);

    struct Impl;
    explicit RegKey(std::shared_ptr<Impl> impl);

  private:
    std::shared_ptr<Impl> impl_;
};

// Opens an existing key for reading; nullopt when it does not exist.
std::optional<RegKey> reg_open(RegRoot root, std::string_view path);
// Opens a key, creating it (and its parents) when missing.
std::optional<RegKey> reg_create(RegRoot root, std::string_view path);
bool reg_key_exists(RegRoot root, std::string_view path);

// The device path (/dev/...) behind a port name of the serial device map, such as
// "COM12"; nullopt when no entry of the map carries that port name.
std::optional<std::string> serial_port_device_path(std::string_view port_name);

// Major version of the system; 5 and later use the serial device map search,
// earlier ones the USB enumeration key. Tests switch it.
int system_major_version();
void set_system_major_version(int major);

// Test and simulator injection: a serial device map entry, an older-system USB
// enumeration subkey with its PORTNAME, and clearing every injected entry. A
// non-text value (type other than REG_SZ) can be injected to test robustness.
void inject_serial_comm(std::string_view value_name, std::string_view port_name,
                        std::string_view device_path);
void inject_serial_comm_value(std::string_view value_name, const RegValue& value);
void inject_usb_enum(std::string_view subkey, std::string_view port_name);
void clear_injected();
// Whether sysfs is consulted when synthesising the device map (tests turn it off
// so the machine's own ttys do not leak in).
void set_sysfs_scan(bool enabled);

// Forgets the in-memory current-user tree so the next access reloads the file
// (tests that point XDG_CONFIG_HOME somewhere else).
void reload_current_user();

}  // namespace stridelog::platform
