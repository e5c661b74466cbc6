// Golden transcripts: what a host saw (one line per notification) and what the
// watch received (one line per frame, runs of chunk frames on one line), written
// as text and compared with a reviewed file under tests/data/golden/. With
// STRIDELOG_REGENERATE_GOLDEN=1 the file is rewritten instead (on purpose only,
// after a deliberate change; read the diff before committing it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tests/support/host_recorder.hpp"

namespace stridelog::test {

// Bytes as hex, or their size and digest when longer than `limit`.
std::string bytes_text(std::span<const std::uint8_t> bytes, std::size_t limit = 64);
// One line per notification: the code's name, "error" for an error message,
// then the progress value, the text of a printable block, or the block's bytes
// (up to 160 as hex, longer ones as size and digest).
std::string transcript(const HostRecorder& host);
// One line per frame the watch received; consecutive read (0x12) or write
// (0x16) frames that continue each other's address are one line.
std::string frames_transcript(const std::vector<std::vector<std::uint8_t>>& frames);
// The bytes that differ between two copies of the same area, one line per run
// of changed bytes (up to three equal ones inside a run): "changed 0x0005..0x0006: 37 00 -> 10 21";
// "unchanged" if none.
std::string changes_text(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                         std::uint32_t base = 0);
// Compares "# <name>" and `text` with tests/data/golden/<name>.txt (a failure
// shows the first differing line), or rewrites that file when regenerating.
void expect_golden(const std::string& name, const std::string& text);
// Compares `bytes` with the file tests/data/<relative> byte for byte (a failure
// shows where they part), or rewrites the file when regenerating.
void expect_data_file(const std::string& relative, const std::string& bytes);

}  // namespace stridelog::test
