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
// Things the registry cannot read or write (an unreadable device map or user
// file, a malformed device-map line, a tty without a COM number, a user file
// that cannot be saved) are not errors of the call; they become notes. Each
// note text is raised once per process and handed to the note sink that the
// layer above installs; with no sink installed the notes wait for one (the
// first hundred of them) and are written nowhere.
//
// Threads: every function may be called from any thread. The note sink runs on
// the thread whose registry call raised the note, after the call has released
// the registry's lock, so a sink may itself read the registry. A note raised on
// that thread while the sink runs is handed over after the sink returns, never
// from inside it.
#pragma once

#include <cstdint>
#include <functional>
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

// Receives each note once, without a line end.
using RegistryNoteSink = std::function<void(std::string_view note)>;
// Installs the sink (an empty function removes it) and returns the one it
// replaces. Notes waiting for a sink are handed to the new one before this
// returns, on the calling thread.
RegistryNoteSink set_registry_note_sink(RegistryNoteSink sink);
// Forgets which notes were raised and drops those still waiting, so the same
// text is raised again (tests).
void forget_registry_notes();

}  // namespace stridelog::platform
