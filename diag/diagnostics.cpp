#include "diag/diagnostics.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/debug_output.hpp"
#include "platform/registry.hpp"
#include "platform/text_encoding.hpp"

extern char** environ;

namespace stridelog::diag {
namespace {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

constexpr std::string_view kSwitchKey = "SOFTWARE\\Tempolink";
constexpr std::string_view kShellFoldersKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// Query buffers of the switches and of the documents folder, in bytes. A value
// that does not fit counts as unreadable.
constexpr std::size_t kSwitchBufferBytes = 11;
constexpr std::size_t kPersonalBufferBytes = 520;
// Characters kept of a formatted Trace line.
constexpr std::size_t kTraceChars = 498;

// Like _wtol over the UTF-16 characters of the data: leading white space, an
// optional sign, then digits up to the first other character.
long parse_number(const std::vector<std::uint8_t>& data) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10 + (text[i] - u'0');  // at most five characters: no overflow
    return negative ? -value : value;
}

// Output of `xdg-user-dir DOCUMENTS`, empty when the program is missing or fails.
std::string xdg_user_dir_documents() {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "xdg-user-dir";
    char argument[] = "DOCUMENTS";
    char* argv[] = {program, argument, nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(pipe_fds[0]);
    if (spawned != 0) return {};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}

// The registry's notes are diagnostic lines like any other: written when
// DebugView is on, each once per process (the registry raises a text once).
void write_registry_note(std::string_view note) {
    TraceText(note);
}

// Routed as soon as the library is loaded, so notes raised by the first port
// discovery of a process, before any other diagnostic line, are not lost.
[[maybe_unused]] const bool g_registry_notes_routed = [] {
    platform::set_registry_note_sink(&write_registry_note);
    return true;
}();

}  // namespace

long ReadSetting(std::string_view value_name, long default_value) {
    // Created, not just opened: reading a switch leaves the key in place.
    auto key = platform::reg_create(RegRoot::current_user, kSwitchKey);
    RegValue value;
    if (!key || !key->query(value_name, value)) return default_value;
    if (value.data.size() > kSwitchBufferBytes) return default_value;
    if (value.type != RegType::sz) return 0;
    return parse_number(value.data);
}

long IsDebugView() {
    return ReadSetting("DebugView", 0);
}

std::string GetPersonalFolder() {
    if (auto key = platform::reg_create(RegRoot::current_user, kShellFoldersKey)) {
        RegValue value;
        if (key->query("Personal", value) && value.type == RegType::sz &&
            value.data.size() <= kPersonalBufferBytes) {
            std::string folder = value.as_text();
            if (!folder.empty()) return folder;
        }
    }
    if (const char* xdg = std::getenv("XDG_DOCUMENTS_DIR"); xdg && *xdg) return xdg;
    if (std::string folder = xdg_user_dir_documents(); !folder.empty()) return folder;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/Documents";
    return {};
}

void Trace(const char* format, ...) {
    if (!format || IsDebugView() == 0) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    if (length < 0) return;
    // The cut counts UTF-16 characters and never splits a surrogate pair.
    std::u16string wide = platform::utf8_to_utf16(text);
    if (wide.size() > kTraceChars) {
        std::size_t keep = kTraceChars;
        if (wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) --keep;
        wide.resize(keep);
        text = platform::utf16_to_utf8(wide);
    }
    text += "\r\n";
    platform::debug_output(text);
}

void TraceText(std::string_view text) {
    if (IsDebugView() == 0) return;
    std::string line(text);
    line += "\r\n";
    platform::debug_output(line);
}

void DebugPrint(std::string_view text, unsigned diag_class) {
    if (IsDebugView() == 0) return;
    if ((static_cast<unsigned long>(ReadSetting("DebugViewExtra", 0)) & diag_class) == 0) return;
    platform::debug_output(text);
}

std::string ToAnsi(const char16_t* wide) {
    if (!wide) return {};
    return platform::utf16_to_utf8(std::u16string_view(wide), "?");
}

std::u16string ToWide(const char* text) {
    if (!text) return {};
    return platform::utf8_to_utf16(std::string_view(text));
}

}  // namespace stridelog::diag
