// Diagnostic switches, diagnostic output and text conversion.
//
// The switches "DebugView" and "DebugViewExtra" live under the current user's
// key SOFTWARE\Tempolink and are read again at every output, so switching them
// takes effect on the next line, even in the middle of a task. Output goes to
// the debugger channel (platform::debug_output). The registry's notes (a
// malformed device-map line, an unreadable user file, ...) are routed here from
// the moment the library is loaded and written like TraceText lines.
//
// Threads: every function is reentrant and may be called from any thread.
#pragma once

#include <string>
#include <string_view>

namespace stridelog::diag {

// Diagnostic class of port discovery and port opening errors.
inline constexpr unsigned kDiagClassConnection = 2;

// The number stored as text in the value of SOFTWARE\Tempolink (the key is
// created when missing), or default_value when the value is missing, longer than
// four digits, or otherwise unreadable. A value that is not text reads as 0.
long ReadSetting(std::string_view value_name, long default_value);
// "DebugView", 0 when missing: nonzero switches diagnostic output on.
long IsDebugView();
// The user's documents folder (UTF-8); never fails, may be empty.
std::string GetPersonalFolder();

// printf-style line, cut to 498 characters, written with "\r\n" when DebugView is on.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The text unchanged (never used as a format) with "\r\n", when DebugView is on.
void TraceText(std::string_view text);
// The text unchanged, nothing appended, when DebugView is on and DebugViewExtra
// shares a bit with diag_class.
void DebugPrint(std::string_view text, unsigned diag_class);

// UTF-16 -> UTF-8; a lone surrogate becomes '?'. Null gives "".
std::string ToAnsi(const char16_t* wide);
// UTF-8 -> UTF-16; malformed bytes become U+FFFD. Null gives u"".
std::u16string ToWide(const char* text);

}  // namespace stridelog::diag
