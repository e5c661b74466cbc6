#!/usr/bin/env bash
# Style gate: (a) every C/C++ file of ours is formatted as .clang-format says,
# (b) our names follow .clang-tidy's readability-identifier-naming rules.
#   scripts/check-style.sh [build-dir]     (default build/, configured with
#                                           CMAKE_EXPORT_COMPILE_COMMANDS=ON)
# STYLE_STEPS=format or STYLE_STEPS=names runs one step only; STYLE_JOBS sets
# the clang-tidy parallelism (2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
steps=${STYLE_STEPS:-format names}
jobs=${STYLE_JOBS:-2}

# Formatting differs between clang-format releases; the committed tree is
# formatted with the one Debian bookworm ships.
pinned_major=14
# Every folder that holds code of ours.
folders='wire link platform ports cable diag task watchdata update ui sdk hostkit sim tools tests fuzz bench examples include/stridelog'

tool() {  # the pinned release's binary, plain or suffixed
    local name=$1
    if command -v "$name-$pinned_major" >/dev/null; then echo "$name-$pinned_major"
    elif command -v "$name" >/dev/null; then echo "$name"
    else echo "check-style: $name is not installed (Debian: apt-get install clang-format clang-tidy)" >&2; exit 2
    fi
}

sources() {  # our C/C++ files, tracked or new
    # shellcheck disable=SC2086
    git ls-files --cached --others --exclude-standard -- $folders |
        grep -E '\.(c|cc|cpp|h|hpp)$' | while read -r f; do [ -f "$f" ] && echo "$f"; done
}

if [[ " $steps " == *" format "* ]]; then
    fmt=$(tool clang-format)
    major=$("$fmt" --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
    if [ "$major" != "$pinned_major" ]; then
        echo "check-style: $fmt is version ${major:-unknown}, but the tree is formatted with" \
             "clang-format $pinned_major (Debian bookworm); install clang-format-$pinned_major." >&2
        exit 2
    fi
    start=$SECONDS
    sources | xargs -r "$fmt" --dry-run --Werror --style=file
    echo "check-style: formatting clean ($((SECONDS - start)) s)"
fi

if [[ " $steps " == *" names "* ]]; then
    tidy=$(tool clang-tidy)
    major=$("$tidy" --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
    if [ "$major" != "$pinned_major" ]; then
        echo "check-style: $tidy is version ${major:-unknown}; the naming rules are checked with" \
             "clang-tidy $pinned_major (Debian bookworm)." >&2
        exit 2
    fi
    if [ ! -f "$build/compile_commands.json" ]; then
        echo "check-style: $build/compile_commands.json is missing; configure with" \
             "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON (make lint does)." >&2
        exit 2
    fi
    # Headers count wherever they are reached from, including the per-layer
    # include roots that link back to the folders.
    header_filter="^($root/($(echo "$folders" | tr ' ' '|'))|$root/$build/include-roots)/"
    # One translation unit per source file of ours that the build compiles;
    # generated probes under the build tree are not ours. The fuzz targets are
    # built only by the clang fuzz build: they are parsed with the flags of the
    # library's own units instead.
    db=$(mktemp -d)
    trap 'rm -rf "$db"' EXIT
    units=$(python3 - "$build/compile_commands.json" "$root" "$folders" "$db" <<'PY'
import glob, json, os, sys
db, root, folders, out = sys.argv[1], sys.argv[2], sys.argv[3].split(), sys.argv[4]
entries = json.load(open(db))
ours, seen = [], set()
for entry in entries:
    f = entry['file']
    rel = f[len(root) + 1:] if f.startswith(root + '/') else None
    if rel and any(rel.startswith(d + '/') for d in folders) and rel not in seen:
        seen.add(rel)
        ours.append(entry)
roots = sorted(glob.glob(os.path.join(os.path.dirname(os.path.abspath(db)), 'include-roots', '*')))
for f in sorted(glob.glob(os.path.join(root, 'fuzz', '*.cpp'))):
    rel = f[len(root) + 1:]
    if rel in seen:
        continue
    flags = ['c++', '-std=c++20', '-I' + os.path.join(root, 'include')] + ['-I' + r for r in roots]
    # The host-kit target is one source built once per reader.
    flags += ['-DHOSTKIT_READER=parse_summary_block', '-c', f]
    ours.append({'directory': root, 'file': f, 'arguments': flags})
json.dump(ours, open(os.path.join(out, 'compile_commands.json'), 'w'))
for entry in ours:
    print(entry['file'])
PY
)
    start=$SECONDS
    log=$db/log
    # shellcheck disable=SC2086
    if ! printf '%s\n' $units | xargs -r -P "$jobs" -n 4 "$tidy" -p "$db" --quiet \
            --checks='-*,readability-identifier-naming' --extra-arg=-w \
            --warnings-as-errors='readability-identifier-naming' \
            --header-filter="$header_filter" >"$log" 2>&1; then
        # The same header warning comes from every unit that includes it: once is enough.
        grep -E 'warning:|error:' "$log" | sort -u >&2 || cat "$log" >&2
        echo "check-style: naming check failed ($((SECONDS - start)) s)" >&2
        exit 1
    fi
    echo "check-style: names clean, $(printf '%s\n' $units | wc -l) units ($((SECONDS - start)) s)"
fi
