#!/usr/bin/env python3
"""Does the suite notice a typical fault in any layer?

Applies one typical fault at a time (a checksum start, an offset, a byte order,
a count, a bound, a retry, a timeout, a leap-year rule) to the code of every
layer the watch, a stored file or a host can notice, rebuilds the test
programs that cover it, runs their tests through ctest, and counts the faults
they catch, per layer and overall. Each file is put back byte for byte after
its run, also when the script is interrupted; a file with changes not yet
committed is refused, so nothing of yours is at stake.

    scripts/mutate.py [--build DIR] [--layer NAME] [--only SUBSTRING] [--list]

The build directory (default build/) must be configured already. Exit status:
0 when every fault was caught, 1 when some survived, 2 on a usage or set-up
problem (a fault whose text is no longer in its file is one: update the list).
"""

import argparse
import collections
import json
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

LAYERS = ["wire", "link", "connection", "watchdata", "task", "update", "hostkit", "tools"]


# ---- Where the tests are: the one table to change when test programs move ---
#
# Each group names the build targets that hold its tests and, optionally, a
# ctest regular expression for the tests themselves. Without one, the group
# runs every test ctest runs through those targets' executables. Test names
# (Suite.Case) follow a test file from folder to folder, so when tests move
# only the targets change here.
Tests = collections.namedtuple("Tests", "targets regex")

TESTS = {
    "wire": Tests(["test_wire"], None),
    "link": Tests(["test_link"], None),
    "sdk": Tests(["test_sdk"], None),
    "cable": Tests(["test_cable"], None),
    "e2e": Tests(["test_e2e"], None),
    "faults": Tests(["test_faults"], None),
    "watchdata": Tests(["test_watchdata"], None),
    "hostkit": Tests(["test_hostkit"], None),
    "update": Tests(["test_update"], None),
    "firmware": Tests(["test_update"],
                      r"^(Firmware(Checksum|FileCheck|FileLoad|SectorMap|Settings|Sums|UpdateCheck|VersionText)|ProfileFile[A-Za-z]*)\."),
    # Parts of test_update, by suite: its full run waits on real timers for a minute.
    "agps": Tests(["test_update"], r"^(EpoPackets|Agps[A-Za-z]*)\."),
    "firmware_task": Tests(["test_update"], r"^FirmwareTaskTest\."),
    "ftp": Tests(["test_update"], r"^[A-Za-z]*FtpDownloader[A-Za-z]*\."),
    "tool": Tests(["stridelog_tool"], r"^host_tool$"),
    "tool_sync": Tests(["stridelog_tool"], r"^host_tool_sync$"),
    "tool_documents": Tests(["test_tool"], None),
}

# A fault's groups run in the order given and stop at the first failure: the
# quick ones first, so only a fault that survives them pays for the slow ones.
AGPS = ["agps"]
FIRMWARE = ["firmware", "firmware_task"]
FTP = ["ftp", "agps", "firmware_task"]
TRANSFER = ["e2e", "faults", "firmware_task", "agps"]


class Fault(collections.namedtuple("Fault", "layer name path before after tests regex")):
    """One fault: its layer, what it is, the file, the text as it stands and
    with the fault, the TESTS groups that should catch it and, optionally, a
    ctest regex narrowing what runs (the groups' targets are still built)."""


def F(layer, name, path, before, after, tests, regex=None):
    return Fault(layer, name, path, before, after, tuple(tests), regex)

# (layer, name, file, text as it stands, text with the fault, TESTS groups[, ctest regex])
FAULTS = [
    # ---- wire: frame build and parse --------------------------------------------
    F("wire", "checksum keeps bit 15", "wire/frame.cpp",
      "return static_cast<std::uint16_t>(sum & 0x7FFF);",
      "return static_cast<std::uint16_t>(sum & 0xFFFF);", ["wire", "link"]),
    F("wire", "frame length sent low byte first", "wire/frame.cpp",
      "out[2] = static_cast<std::uint8_t>(n >> 8);\n    out[3] = static_cast<std::uint8_t>(n & 0xFF);",
      "out[2] = static_cast<std::uint8_t>(n & 0xFF);\n    out[3] = static_cast<std::uint8_t>(n >> 8);",
      ["wire", "link"]),
    F("wire", "received checksum compared low byte first", "wire/frame.cpp",
      "valid = p[length + 4] == (sum >> 8) && p[length + 5] == (sum & 0xFF);",
      "valid = p[length + 4] == (sum & 0xFF) && p[length + 5] == (sum >> 8);", ["wire", "link"]),
    F("wire", "second end byte not checked", "wire/frame.cpp",
      "bool valid = p[length + 6] == kEnd1 && p[length + 7] == kEnd2;",
      "bool valid = p[length + 6] == kEnd1;", ["wire", "link"]),
    F("wire", "longest receivable payload refused", "wire/frame.cpp",
      "if (length > kMaxReceivePayload) {",
      "if (length >= kMaxReceivePayload) {", ["wire", "link"]),

    # ---- link: serial port, watch link ---------------------------------------------
    F("link", "a plain acknowledgement (0x23) no longer answers an erase", "link/watch_link.cpp",
      "(awaited == watch_id::kPrepareWriteReply ||\n"
      "                                                  awaited == watch_id::kEraseReply)));",
      "(awaited == watch_id::kPrepareWriteReply)));", ["link", "e2e"]),
    F("link", "flash address sent high byte first", "link/watch_link.cpp",
      "out[0] = static_cast<std::uint8_t>(address & 0xFF);\n"
      "    out[1] = static_cast<std::uint8_t>((address >> 8) & 0xFF);\n"
      "    out[2] = static_cast<std::uint8_t>((address >> 16) & 0xFF);",
      "out[0] = static_cast<std::uint8_t>((address >> 16) & 0xFF);\n"
      "    out[1] = static_cast<std::uint8_t>((address >> 8) & 0xFF);\n"
      "    out[2] = static_cast<std::uint8_t>(address & 0xFF);", ["link", "e2e"]),
    F("link", "a read reply longer than asked is taken", "link/watch_link.cpp",
      "if (length < 2 || length != count + 1) {",
      "if (length < 2 || length < count + 1) {", ["link", "e2e"]),
    F("link", "numeric version read high byte first", "link/watch_link.cpp",
      "const unsigned major = payload[1] | (payload[2] << 8);",
      "const unsigned major = payload[2] | (payload[1] << 8);", ["link", "e2e"]),
    F("link", "version text keeps 32 characters", "link/watch_link.cpp",
      "std::min<std::size_t>(length - 1u, kVersionTextBuffer - 1)",
      "std::min<std::size_t>(length - 1u, kVersionTextBuffer)", ["link", "e2e"]),
    F("link", "clock reply status taken from the id byte", "link/watch_link.cpp",
      "length == 2 ? payload[1] : 0", "length == 2 ? payload[0] : 0", ["link", "e2e"]),
    F("link", "stale input not discarded before a command", "link/watch_link.cpp",
      "const std::uint64_t discards = port_->discard_input();",
      "const std::uint64_t discards = 0;", ["link", "e2e", "faults"]),
    F("link", "port number 0 opened", "link/serial_port.cpp",
      "if (port < 1) {", "if (port < 0) {", ["link", "sdk"]),

    # ---- connection and port walk ----------------------------------------------------
    F("connection", "version asked twice per port, not three times", "sdk/connection.cpp",
      "if (retry_count_ != kVersionTries) {", "if (retry_count_ + 1 != kVersionTries) {",
      ["sdk", "e2e"]),
    F("connection", "version reply awaited 1 s, not 3 s", "sdk/connection.cpp",
      "constexpr std::uint32_t kVersionTimeoutMs = 3000;",
      "constexpr std::uint32_t kVersionTimeoutMs = 1000;", ["sdk", "e2e"]),
    F("connection", "port walk gives up before the last port", "sdk/connection.cpp",
      "if (static_cast<std::size_t>(port_index_) == port_list_.size()) {",
      "if (static_cast<std::size_t>(port_index_) + 1 == port_list_.size()) {", ["sdk", "e2e"]),
    F("connection", "\"Ver\" version text read from its fifth character", "sdk/connection.cpp",
      "read_version_number(std::string_view(version).substr(3), facts_.firmware_version);",
      "read_version_number(std::string_view(version).substr(4), facts_.firmware_version);",
      ["sdk", "e2e"]),
    F("connection", "cable ports listed in reverse order", "ports/cable_ports.cpp",
      "if (keys[i] > keys[j]) {", "if (keys[i] < keys[j]) {", ["sdk", "e2e"]),
    F("connection", "last bridge port not searched", "ports/cable_ports.cpp",
      "for (int index = 0; index < kBridgeCount; ++index)",
      "for (int index = 0; index < kBridgeCount - 1; ++index)", ["sdk"]),
    F("connection", "port name sign read the wrong way", "ports/cable_ports.cpp",
      "negative = name[i++] == '-';", "negative = name[i++] == '+';", ["sdk"]),
    F("connection", "port list block count high byte first", "ports/cable_ports.cpp",
      "block.push_back(static_cast<std::uint8_t>(count >> shift));",
      "block.push_back(static_cast<std::uint8_t>(count >> (24 - shift)));", ["sdk"]),
    F("connection", "COM0n names taken for ports", "cable/cable_identity.cpp",
      "name.substr(0, kComPrefix.size()) != kComPrefix || name[kComPrefix.size()] == '0')",
      "name.substr(0, kComPrefix.size()) != kComPrefix)", ["cable", "sdk"]),

    # ---- watchdata: the workout decoder and the stored formats -------------------------
    F("watchdata", "leap years: 2000 is not one (century rule without the 400)",
      "watchdata/watch_time.cpp",
      "return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;",
      "return year % 4 == 0 && year % 100 != 0;", ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "session start corrected by A - B instead of B - A", "watchdata/session_records.cpp",
      "to_seconds(start) + to_seconds(b) - to_seconds(a)",
      "to_seconds(start) + to_seconds(a) - to_seconds(b)", ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "laps read from the session block's offset (60), not the sector's (64)",
      "watchdata/session_records.cpp",
      "constexpr std::size_t kFirstLapOffset = 64;", "constexpr std::size_t kFirstLapOffset = 60;",
      ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "delta record copies M1 and M2 but not M3", "watchdata/session_records.cpp",
      "std::copy_n(record + kDeltaM1, 6, point.begin() + kPointM1);",
      "std::copy_n(record + kDeltaM1, 4, point.begin() + kPointM1);", ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "running hour advances on an equal minute", "watchdata/session_records.cpp",
      "if (minute < last_minute_) running_time_", "if (minute <= last_minute_) running_time_",
      ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "time-only record with second 60 dropped", "watchdata/session_records.cpp",
      "if (minute > 60 || second > 60) return kTimeOnlyLength;",
      "if (minute > 60 || second >= 60) return kTimeOnlyLength;", ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "settings checksum starts at byte 1", "watchdata/settings_format.cpp",
      "for (std::size_t i = 2; i < length; ++i) sum",
      "for (std::size_t i = 1; i < length; ++i) sum", ["watchdata", "e2e"]),
    F("watchdata", "whole-block settings checksum from 1.20, not 1.19", "watchdata/settings_format.cpp",
      "v.minor >= 19", "v.minor > 19", ["watchdata", "e2e"]),
    F("watchdata", "settings record expiry day and year swapped", "watchdata/settings_format.cpp",
      "r[rec_expiry] = block[expiry_year];", "r[rec_expiry] = block[expiry_day];",
      ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "path block name length counts characters, not bytes", "watchdata/path_formats.cpp",
      "block.push_back(static_cast<std::uint8_t>(2 * name.size()));",
      "block.push_back(static_cast<std::uint8_t>(name.size()));", ["watchdata", "e2e", "hostkit"]),
    F("watchdata", "stored waypoint count not bounded", "watchdata/path_formats.cpp",
      "return std::min<std::size_t>(directory[kPathCountsAt + path], kMaxWaypoints);",
      "return directory[kPathCountsAt + path];", ["watchdata", "e2e"]),
    F("watchdata", "view names high byte first", "watchdata/views_format.cpp",
      "r[at] = static_cast<std::uint8_t>(c & 0xFF);\n            r[at + 1] = static_cast<std::uint8_t>(c >> 8);",
      "r[at] = static_cast<std::uint8_t>(c >> 8);\n            r[at + 1] = static_cast<std::uint8_t>(c & 0xFF);",
      ["watchdata", "e2e", "hostkit"]),

    # ---- task: operations and flash transfer -------------------------------------------
    F("task", "sector write advances one byte short per chunk", "task/flash_transfer.cpp",
      "write_.current += write_.chunk;", "write_.current += write_.chunk - 1;", TRANSFER),
    F("task", "last write chunk runs past the source", "task/flash_transfer.cpp",
      "static_cast<std::uint8_t>(std::min(write_.chunk, write_.length - done));",
      "static_cast<std::uint8_t>(std::min(write_.chunk, write_.length - done + 1));", TRANSFER),
    # Not here: a read chunk asking a whole chunk past the run's end (every
    # caller reads whole chunks) and a read reply of another size counting (the
    # link posts only replies of the size asked): both unobservable.
    F("task", "an offset read of the identity sector accepted", "task/flash_transfer.cpp",
      "if (sector == kDirectorySector || sector == kIdentitySector ||",
      "if (sector == kDirectorySector ||", TRANSFER),
    F("task", "each write chunk sends the first chunk's bytes again", "task/flash_transfer.cpp",
      "    write_.source += write_.chunk;\n", "", TRANSFER),
    F("task", "later read chunks wait 3 s like the first", "task/flash_transfer.cpp",
      "request_next_chunk(kNextReadTimeoutMs);", "request_next_chunk(kFirstReadTimeoutMs);",
      TRANSFER),
    F("task", "an erase ends after its prepare step", "task/flash_transfer.cpp",
      "WriteStep::erase, 2);", "WriteStep::erase, 1);", TRANSFER),
    F("task", "a write acknowledgement taken without a write outstanding", "sdk/task_window.cpp",
      "if (!link_ || !link_->take_awaited_reply(wire::watch_id::kWriteReply)) return 0;",
      "if (!link_) return 0;", TRANSFER),

    # ---- update: A-GPS, firmware, FTP ------------------------------------------------
    F("update", "EPO packet checksum starts at the frame start", "update/epo_packets.cpp",
      "for (std::size_t i = 2; i < 8 + kEpoDataBytes; ++i) check ^= p[i];",
      "for (std::size_t i = 0; i < 8 + kEpoDataBytes; ++i) check ^= p[i];", AGPS),
    F("update", "EPO sequence number loses its high byte", "update/epo_packets.cpp",
      "p[7] = static_cast<std::uint8_t>(sequence >> 8);", "p[7] = 0;", AGPS),
    F("update", "EPO end packet numbered like a data packet", "update/epo_packets.cpp",
      "append_packet(out, kEpoEndSequence, {});", "append_packet(out, sequence, {});", AGPS),
    F("update", "A-GPS expiry stored with month for day", "update/agps_operation.cpp",
      "directory[kExpiryDayByte] = expiry_.day;", "directory[kExpiryDayByte] = expiry_.month;",
      AGPS),
    F("update", "A-GPS loaded date posted in the wrong order", "update/agps_operation.cpp",
      "const std::uint8_t block[3] = {expiry_.year, expiry_.month, expiry_.day};",
      "const std::uint8_t block[3] = {expiry_.day, expiry_.month, expiry_.year};", AGPS),
    F("update", "firmware file checksum skips three stored bytes, not four",
      "update/firmware_image.cpp",
      "if (i >= kChecksumOffset && i < kChecksumOffset + 4) continue;",
      "if (i >= kChecksumOffset && i < kChecksumOffset + 3) continue;", FIRMWARE),
    F("update", "boot block sum stored high byte first", "update/firmware_image.cpp",
      "sector[0] = static_cast<std::uint8_t>(sum & 0xFF);\n    sector[1] = static_cast<std::uint8_t>(sum >> 8);",
      "sector[0] = static_cast<std::uint8_t>(sum >> 8);\n    sector[1] = static_cast<std::uint8_t>(sum & 0xFF);",
      FIRMWARE),
    F("update", "language sectors left out of a full body", "update/firmware_image.cpp",
      "if (body_length >= kLanguageEnd) {", "if (body_length > kLanguageEnd) {", FIRMWARE),
    F("update", "program sum written without its high byte", "update/firmware_operation.cpp",
      "program_sum_bytes_[1] = static_cast<std::uint8_t>(program_sum_ >> 8);",
      "program_sum_bytes_[1] = 0;", FIRMWARE),
    F("update", "one language sector fewer", "update/firmware_operation.cpp",
      "return ++sector_ < kLanguageSectorEnd ? next_language_sector()",
      "return ++sector_ + 1 < kLanguageSectorEnd ? next_language_sector()", FIRMWARE),
    F("update", "phase progress block with its two halves swapped", "sdk/task_window.cpp",
      "std::memcpy(block, &phase, 4);\n    std::memcpy(block + 4, &percent, 4);",
      "std::memcpy(block + 4, &phase, 4);\n    std::memcpy(block, &percent, 4);",
      ["firmware_task", "agps"]),
    F("update", "a download name with \"..\" accepted", "update/ftp_downloader.cpp",
      "if (name.find(\"..\") != std::string_view::npos) return false;", "",
      ["firmware"] + FTP),
    F("update", "an absolute FTP folder taken relative to the login folder",
      "update/ftp_downloader.cpp",
      "folder.front() == '/') out = \"%2F\";", "folder.front() == '/') out = \"\";", FTP),
    F("update", "passive and active FTP mode swapped", "update/ftp_downloader.cpp",
      "CURLOPT_FTPPORT, passive ? nullptr : \"-\");", "CURLOPT_FTPPORT, passive ? \"-\" : nullptr);",
      FTP),
    F("update", "FTP server port 0 accepted", "update/ftp_downloader.cpp",
      "error != std::errc() || end != port.data() + port.size() || value == 0 ||",
      "error != std::errc() || end != port.data() + port.size() ||", FTP),

    # ---- hostkit: exporters, download index, typed readers ------------------------------
    F("hostkit", "leap years: 2000 is not one in the typed readers", "hostkit/session_records.cpp",
      "const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;",
      "const bool leap = year % 4 == 0 && year % 100 != 0;", ["hostkit", "tool"]),
    F("hostkit", "laps read from the watch sector's offset (64), not the block's (60)",
      "hostkit/session_records.cpp",
      "constexpr std::size_t kLapsOffset = 60;", "constexpr std::size_t kLapsOffset = 64;",
      ["hostkit", "tool"]),
    F("hostkit", "track point M2 read from M1's place", "hostkit/session_records.cpp",
      "point.m2 = le16(p, kPointM2);", "point.m2 = le16(p, kPointM1);", ["hostkit", "tool"]),
    F("hostkit", "download index: a session counts as downloaded in any format",
      "hostkit/download_index.cpp",
      "if (e.identity == identity && e.format == format) return true;",
      "if (e.identity == identity && !format.empty()) return true;", ["hostkit", "tool"]),
    F("hostkit", "second file of a stem numbered _1", "hostkit/download_index.cpp",
      "for (unsigned n = 2; taken(name); ++n)", "for (unsigned n = 1; taken(name); ++n)",
      ["hostkit", "tool"]),
    F("hostkit", "GPX latitude and longitude swapped", "hostkit/exporters.cpp",
      "out += \"      <trkpt lat=\\\"\" + format_degrees(p.latitude) + \"\\\" lon=\\\"\" +\n"
      "               format_degrees(p.longitude) + \"\\\">\\n\";",
      "out += \"      <trkpt lat=\\\"\" + format_degrees(p.longitude) + \"\\\" lon=\\\"\" +\n"
      "               format_degrees(p.latitude) + \"\\\">\\n\";", ["hostkit", "tool"]),
    F("hostkit", "degrees lose the fraction's leading zeros", "hostkit/exporters.cpp",
      "\"%s%llu.%07llu\"", "\"%s%llu.%llu\"", ["hostkit", "tool"]),
    F("hostkit", "fixed UTC offset applied the wrong way", "hostkit/exporters.cpp",
      "return static_cast<std::int64_t>(::timegm(&tm)) - *offset_;",
      "return static_cast<std::int64_t>(::timegm(&tm)) + *offset_;", ["hostkit", "tool"]),
    F("hostkit", "TCX distances halved", "hostkit/exporters.cpp",
      "return 2 * kEarthRadiusMeters * std::asin", "return kEarthRadiusMeters * std::asin",
      ["hostkit", "tool"]),
    F("hostkit", "FIT header CRC over 11 bytes", "hostkit/fit_writer.cpp",
      "crc16(h, h + 12);", "crc16(h, h + 11);", ["hostkit", "tool"]),

    # ---- tools: the host tool's download index, --new, selection, listing ----------------
    F("tools", "--new skips a session downloaded in any format", "tools/stridelog/workout_commands.cpp",
      "if (options_.only_new && index_.contains(identity, extension)) continue;",
      "if (options_.only_new && std::any_of(index_.entries().begin(), index_.entries().end(),\n"
      "                                             [&](const auto& e) { return e.identity == identity; }))\n"
      "                continue;", ["tool"]),
    F("tools", "--select accepts 256", "tools/stridelog/workout_commands.cpp",
      "if (value > 255) return false;", "if (value > 256) return false;", ["tool"]),
    F("tools", "a session selected twice written twice", "tools/stridelog/workout_commands.cpp",
      "if (!seen_now_.insert(identity).second) return true;", "seen_now_.insert(identity);",
      ["tool"]),
    F("tools", "a session downloaded again gets a new file name", "tools/stridelog/workout_commands.cpp",
      "if (e.file == name) return e.identity != identity;", "if (e.file == name) return true;",
      ["tool"]),
    F("tools", "workouts list JSON gives the point count as laps", "tools/stridelog/workout_commands.cpp",
      "{\"laps\", headers[i].lap_count()}}", "{\"laps\", headers[i].recorded_points()}}", ["tool"]),
]

TEST_TIMEOUT_S = 900


class Interrupted(Exception):
    pass


def on_signal(signum, frame):
    raise Interrupted()


def run(cmd, cwd, timeout=None):
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True, errors="replace",
                              start_new_session=True)
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        return -1, out + "\n(timed out)"


def targets_of(groups):
    out = []
    for g in groups:
        for t in TESTS[g].targets:
            if t not in out:
                out.append(t)
    return out


def build(build_dir, targets, jobs):
    return run(["cmake", "--build", build_dir, "-j", str(jobs), "--target"] + targets, ROOT)


def ctest_escape(text):
    return re.sub(r"([][.*+?^$()|\\])", r"\\\1", text)


class TestIndex:
    """Which ctest tests run through which executable, read from ctest itself,
    so a group without its own regex follows its targets wherever they are built."""

    def __init__(self, build_dir):
        code, out = run(["ctest", "--test-dir", build_dir, "--show-only=json-v1"], ROOT)
        if code != 0:
            raise RuntimeError("ctest cannot list the tests:\n" + out[-2000:])
        self.suites = collections.defaultdict(set)  # executable name -> test name prefixes
        for test in json.loads(out[out.index("{"):]).get("tests", []):
            command = test.get("command") or []
            if not command:
                continue
            # Suite.Case, or Prefix/Suite.Case/N: everything before the first dot.
            self.suites[os.path.basename(command[0])].add(test["name"].split(".", 1)[0])

    def regex(self, group):
        tests = TESTS[group]
        if tests.regex:
            return tests.regex
        prefixes = sorted({p for t in tests.targets for p in self.suites.get(t, ())})
        if not prefixes:
            raise RuntimeError(f"ctest knows no tests of {', '.join(tests.targets)} "
                               f"(group '{group}'): update TESTS")
        return "^(" + "|".join(ctest_escape(p) for p in prefixes) + r")\."


def run_tests(build_dir, regexes, jobs, leave_out=None):
    """(passed, what failed): each regex in turn, stopping at the first failure;
    `leave_out` names a test not to run."""
    for regex in regexes:
        skip = ["-E", "^" + ctest_escape(leave_out) + "$"] if leave_out else []
        code, out = run(["ctest", "--test-dir", build_dir, "-R", regex, *skip, "-j", str(jobs),
                         "--no-tests=error", "--stop-on-failure"], ROOT, timeout=TEST_TIMEOUT_S)
        if code != 0:
            failed = re.findall(r"^\s*\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|Subprocess aborted|"
                                r"Child aborted|Exception|Not Run)[^)]*\)", out, re.M)
            if "No tests were found" in out:
                return False, "NO TESTS for " + regex
            return False, failed[0] if failed else ("timeout" if code == -1 else f"exit {code}")
    return True, None


def confirmed(build_dir, failing):
    """Whether the test that failed fails again when run alone."""
    if failing in ("timeout",) or failing.startswith("exit "):
        return True
    code, _ = run(["ctest", "--test-dir", build_dir, "-R", "^" + ctest_escape(failing) + "$",
                   "--no-tests=error"], ROOT, timeout=TEST_TIMEOUT_S)
    return code != 0


def regexes_for(fault, index):
    return [fault.regex] if fault.regex else [index.regex(g) for g in fault.tests]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--layer", choices=LAYERS, help="run only this layer's faults")
    parser.add_argument("--only", default="", help="run the faults whose name contains this")
    parser.add_argument("--list", action="store_true", help="list the chosen faults, run nothing")
    parser.add_argument("--jobs", type=int, default=2, help="build and test jobs")
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build)

    chosen = [f for f in FAULTS
              if args.only in f.name and (args.layer is None or f.layer == args.layer)]
    # A fault whose text is gone would otherwise look caught or survived for a
    # reason that has nothing to do with it: check them all before anything runs.
    problems = []
    for f in FAULTS:
        if f.layer not in LAYERS:
            problems.append(f"'{f.name}': unknown layer {f.layer}")
        for g in f.tests:
            if g not in TESTS:
                problems.append(f"'{f.name}': unknown test group {g}")
    for f in chosen:
        full = os.path.join(ROOT, f.path)
        if not os.path.exists(full):
            problems.append(f"'{f.name}': {f.path} does not exist")
            continue
        found = open(full, encoding="utf-8").read().count(f.before)
        if found != 1:
            problems.append(f"'{f.name}': its text is found {found} times in {f.path}, not once")
        if f.before == f.after:
            problems.append(f"'{f.name}': the fault changes nothing")
    if problems:
        print("script error, update the list:\n  " + "\n  ".join(problems), file=sys.stderr)
        return 2
    if args.list:
        for f in chosen:
            print(f"{f.layer:10} {f.path:40} {f.name}")
        print(f"{len(chosen)} faults")
        return 0
    if not chosen:
        print("no fault matches", file=sys.stderr)
        return 2
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        print(f"{build_dir} is not a configured build directory", file=sys.stderr)
        return 2
    files = sorted({f.path for f in chosen})
    dirty = run(["git", "status", "--porcelain", "--"] + files, ROOT)[1].strip()
    if dirty:
        print("refusing: these files have changes not committed:\n" + dirty, file=sys.stderr)
        return 2

    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, on_signal)

    started_all = time.monotonic()
    try:
        groups = []
        for f in chosen:
            for g in f.tests:
                if g not in groups:
                    groups.append(g)
        targets = targets_of(groups)
        print("baseline: building " + ", ".join(targets), flush=True)
        code, out = build(build_dir, targets, args.jobs)
        if code != 0:
            print(out[-3000:])
            print("the unchanged tree does not build", file=sys.stderr)
            return 2
        try:
            index = TestIndex(build_dir)
            baseline = []
            for f in chosen:
                for r in regexes_for(f, index):
                    if r not in baseline:
                        baseline.append(r)
        except RuntimeError as e:
            print(f"script error: {e}", file=sys.stderr)
            return 2
        print(f"baseline: running {len(baseline)} test selections", flush=True)
        ok, failing = run_tests(build_dir, baseline, args.jobs)
        if not ok:
            print(f"the unchanged tree fails {failing}: fix that first", file=sys.stderr)
            return 2
        print(f"baseline passed ({time.monotonic() - started_all:.0f} s)", flush=True)
    except Interrupted:
        print("interrupted; nothing was changed", file=sys.stderr)
        return 2

    verdicts = []  # (fault, "caught" | "survived" | "error", detail)
    try:
        for f in chosen:
            full = os.path.join(ROOT, f.path)
            with open(full, "rb") as fh:
                original = fh.read()
            started = time.monotonic()
            try:
                with open(full, "wb") as fh:
                    fh.write(original.replace(f.before.encode(), f.after.encode(), 1))
                code, out = build(build_dir, targets_of(f.tests), args.jobs)
                if code != 0:
                    verdict, detail = "error", "does not build"
                else:
                    ok, failing = run_tests(build_dir, regexes_for(f, index), args.jobs)
                    if ok:
                        verdict, detail = "survived", "SURVIVED"
                    elif failing.startswith("NO TESTS"):
                        verdict, detail = "error", failing
                    elif confirmed(build_dir, failing):
                        verdict, detail = "caught", f"caught by {failing}"
                    else:
                        # A test that fails once under load and passes when run
                        # again on the same fault has not caught it; the tests
                        # the stop at its failure left out still may.
                        ok, other = run_tests(build_dir, regexes_for(f, index), args.jobs,
                                              leave_out=failing)
                        if not ok and not other.startswith("NO TESTS") and \
                                confirmed(build_dir, other):
                            verdict, detail = "caught", f"caught by {other}"
                        else:
                            verdict, detail = "survived", f"SURVIVED ({failing} failed once only)"
            finally:
                with open(full, "wb") as fh:
                    fh.write(original)
            verdicts.append((f, verdict, detail))
            print(f"  {detail:44} [{f.layer}] {f.name} ({f.path}, "
                  f"{time.monotonic() - started:.0f} s)", flush=True)
    except Interrupted:
        print("interrupted; every file is back as it was", file=sys.stderr)
        return 2

    # The build tree follows the restored sources again.
    build(build_dir, targets, args.jobs)

    print(f"\n{'layer':12} caught/total")
    totals = [0, 0]
    for layer in LAYERS:
        mine = [v for f, v, _ in verdicts if f.layer == layer]
        if not mine:
            continue
        caught = mine.count("caught")
        total = mine.count("caught") + mine.count("survived")
        totals[0] += caught
        totals[1] += total
        errors = mine.count("error")
        print(f"{layer:12} {caught}/{total}" + (f"  ({errors} script errors)" if errors else ""))
    print(f"{'overall':12} {totals[0]}/{totals[1]}")
    print(f"run time {time.monotonic() - started_all:.0f} s")
    for f, v, detail in verdicts:
        if v != "caught":
            print(f"  {'survived' if v == 'survived' else 'SCRIPT ERROR (' + detail + ')'}: "
                  f"[{f.layer}] {f.name} ({f.path})")
    if any(v == "error" for _, v, _ in verdicts):
        return 2
    return 0 if all(v == "caught" for _, v, _ in verdicts) else 1


if __name__ == "__main__":
    sys.exit(main())
