#!/usr/bin/env python3
"""Does the suite notice a broken update path or flash transfer?

Applies one typical fault at a time to the A-GPS, firmware and flash transfer
code (a checksum, an offset, a count, an order, a bound), rebuilds the test
programs that cover it, runs them, and counts the faults they catch. Each file
is put back byte for byte after its run, also when the script is interrupted;
a file with changes not yet committed is refused, so nothing of yours is at
stake.

    scripts/mutate.py [--build DIR] [--only SUBSTRING] [--list]

The build directory (default build/) must be configured already. Exit status:
0 when every fault was caught, 1 when some survived, 2 on a usage or set-up
problem.
"""

import argparse
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Test programs (target, path in the build tree) by area.
UPDATE = [("test_update", "tests/update/test_update"),
          ("test_firmware", "tests/firmware/test_firmware")]
TRANSFER = [("test_e2e", "tests/test_e2e"), ("test_faults", "tests/faults/test_faults")] + UPDATE

# (name, file, text as it stands, text with the fault, test programs)
MUTATIONS = [
    ("EPO packet checksum starts at the frame start", "update/epo_packets.cpp",
     "for (std::size_t i = 2; i < 8 + kEpoDataBytes; ++i) check ^= p[i];",
     "for (std::size_t i = 0; i < 8 + kEpoDataBytes; ++i) check ^= p[i];", UPDATE),
    ("EPO sequence number loses its high byte", "update/epo_packets.cpp",
     "p[7] = static_cast<std::uint8_t>(sequence >> 8);",
     "p[7] = 0;", UPDATE),
    ("EPO end packet numbered like a data packet", "update/epo_packets.cpp",
     "append_packet(out, kEpoEndSequence, {});",
     "append_packet(out, sequence, {});", UPDATE),
    ("A-GPS expiry stored with month for day", "update/agps_operation.cpp",
     "directory[kExpiryDayByte] = expiry_.day;",
     "directory[kExpiryDayByte] = expiry_.month;", UPDATE),
    ("A-GPS loaded date posted in the wrong order", "update/agps_operation.cpp",
     "const std::uint8_t block[3] = {expiry_.year, expiry_.month, expiry_.day};",
     "const std::uint8_t block[3] = {expiry_.day, expiry_.month, expiry_.year};", UPDATE),
    ("firmware file checksum skips three stored bytes, not four", "update/firmware_image.cpp",
     "if (i >= kChecksumOffset && i < kChecksumOffset + 4) continue;",
     "if (i >= kChecksumOffset && i < kChecksumOffset + 3) continue;", UPDATE),
    ("boot block sum stored high byte first", "update/firmware_image.cpp",
     "sector[0] = static_cast<std::uint8_t>(sum & 0xFF);\n    sector[1] = static_cast<std::uint8_t>(sum >> 8);",
     "sector[0] = static_cast<std::uint8_t>(sum >> 8);\n    sector[1] = static_cast<std::uint8_t>(sum & 0xFF);",
     UPDATE),
    ("language sectors left out of a full body", "update/firmware_image.cpp",
     "if (body_length >= kLanguageEnd) {",
     "if (body_length > kLanguageEnd) {", UPDATE),
    ("program sum written without its high byte", "update/firmware_operation.cpp",
     "program_sum_bytes_[1] = static_cast<std::uint8_t>(program_sum_ >> 8);",
     "program_sum_bytes_[1] = 0;", UPDATE),
    ("one language sector fewer", "update/firmware_operation.cpp",
     "if (sector_ < kLanguageSectorEnd) {",
     "if (sector_ + 1 < kLanguageSectorEnd) {", UPDATE),
    ("phase progress block with its two halves swapped", "update/task_download.cpp",
     "std::memcpy(block, &phase_, 4);\n                std::memcpy(block + 4, &percent, 4);",
     "std::memcpy(block + 4, &phase_, 4);\n                std::memcpy(block, &percent, 4);",
     UPDATE),
    ("sector write advances one byte short per chunk", "watchdata/flash_transfer.cpp",
     "write_.current += write_.chunk;",
     "write_.current += write_.chunk - 1;", TRANSFER),
    ("last write chunk runs past the source", "watchdata/flash_transfer.cpp",
     "static_cast<std::uint8_t>(std::min(write_.chunk, write_.length - done));",
     "static_cast<std::uint8_t>(std::min(write_.chunk, write_.length - done + 1));", TRANSFER),
]

TEST_TIMEOUT_S = 600


class Interrupted(Exception):
    pass


def on_signal(signum, frame):
    raise Interrupted()


def run(cmd, cwd, timeout=None):
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True, errors="replace")
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        return -1, (e.stdout or "") if isinstance(e.stdout, str) else ""


def build(build_dir, programs, jobs):
    targets = [t for t, _ in programs]
    return run(["cmake", "--build", build_dir, "-j", str(jobs), "--target"] + targets, ROOT)


def run_tests(build_dir, programs):
    """(passed, first failing program)"""
    for _, path in programs:
        code, out = run([os.path.join(build_dir, path), "--gtest_brief=1"], build_dir,
                        timeout=TEST_TIMEOUT_S)
        if code != 0:
            return False, os.path.basename(path)
    return True, None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--only", default="", help="run the faults whose name contains this")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build)

    chosen = [m for m in MUTATIONS if args.only in m[0]]
    if args.list:
        for name, path, *_ in chosen:
            print(f"{path:32} {name}")
        return 0
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        print(f"{build_dir} is not a configured build directory", file=sys.stderr)
        return 2
    files = sorted({m[1] for m in chosen})
    dirty = run(["git", "status", "--porcelain", "--"] + files, ROOT)[1].strip()
    if dirty:
        print("refusing: these files have changes not committed:\n" + dirty, file=sys.stderr)
        return 2
    for name, path, before, after, _ in chosen:
        if open(os.path.join(ROOT, path)).read().count(before) != 1:
            print(f"the text of '{name}' is not found once in {path}; update the list",
                  file=sys.stderr)
            return 2

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    programs = []
    for m in chosen:
        for p in m[4]:
            if p not in programs:
                programs.append(p)
    print("baseline: building and running " + ", ".join(t for t, _ in programs))
    code, out = build(build_dir, programs, args.jobs)
    if code != 0:
        print(out[-3000:])
        print("the unchanged tree does not build", file=sys.stderr)
        return 2
    ok, failing = run_tests(build_dir, programs)
    if not ok:
        print(f"the unchanged tree fails {failing}: fix that first", file=sys.stderr)
        return 2

    caught, survived, unbuildable = [], [], []
    try:
        for name, path, before, after, progs in chosen:
            full = os.path.join(ROOT, path)
            with open(full, "rb") as f:
                original = f.read()
            started = time.monotonic()
            try:
                with open(full, "wb") as f:
                    f.write(original.replace(before.encode(), after.encode(), 1))
                code, out = build(build_dir, progs, args.jobs)
                if code != 0:
                    unbuildable.append(name)
                    verdict = "does not build"
                else:
                    ok, failing = run_tests(build_dir, progs)
                    if ok:
                        survived.append(name)
                        verdict = "SURVIVED"
                    else:
                        caught.append(name)
                        verdict = f"caught by {failing}"
            finally:
                with open(full, "wb") as f:
                    f.write(original)
            print(f"  {verdict:26} {name} ({path}, {time.monotonic() - started:.0f} s)",
                  flush=True)
    except Interrupted:
        print("interrupted; every file is back as it was", file=sys.stderr)
        return 2

    # The build tree follows the restored sources again.
    build(build_dir, programs, args.jobs)
    viable = len(caught) + len(survived)
    print(f"caught {len(caught)} of {viable} faults"
          + (f" ({len(unbuildable)} did not build)" if unbuildable else ""))
    for name in survived:
        print(f"  survived: {name}")
    return 0 if not survived else 1


if __name__ == "__main__":
    sys.exit(main())
