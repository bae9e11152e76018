#!/bin/sh
# Runs clang-tidy with the root .clang-tidy over the project's source files that the build
# compiles (generated sources and other projects' files left out) and fails on any finding.
#   scripts/tidy.sh [--all] [build-dir] [jobs]
# By default the sources of the rooms, the tools and the host: what ships and what builds it, as
# the test command checks them. --all adds the tests, the benchmarks and the fuzz targets, which
# take twice as long again (gtest's headers are heavy).
# The build dir must have been configured (CMAKE_EXPORT_COMPILE_COMMANDS is on) and built once,
# so that the generated headers exist.
set -eu
scope=product
if [ "${1:-}" = --all ]; then scope=all; shift; fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
jobs=${2:-2}
db="$build/compile_commands.json"
[ -f "$db" ] || { echo "tidy.sh: no $db (configure with cmake first)" >&2; exit 2; }
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
log="$build/clang-tidy.log"

# Project files only: under the source tree, not under the build tree (generated sources). clang
# is handed the commands without the GCC-only flags it does not know (they would be errors).
tidydb="$build/tidy-db"
mkdir -p "$tidydb"
files=$(python3 - "$db" "$root" "$build" "$tidydb/compile_commands.json" "$scope" <<'PY'
import json, os, sys
db, root, build, out, scope = sys.argv[1], os.path.realpath(sys.argv[2]), os.path.realpath(sys.argv[3]), sys.argv[4], sys.argv[5]
not_shipped = {"tests", "bench", "fuzz", "examples"}
gcc_only = {"-fno-gnu-unique"}
seen, kept = set(), []
for entry in json.load(open(db)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if not path.startswith(root + os.sep) or path.startswith(build + os.sep) or path in seen:
        continue
    if scope == "product" and os.path.relpath(path, root).split(os.sep)[0] in not_shipped:
        continue
    seen.add(path)
    if "command" in entry:
        entry["command"] = " ".join(word for word in entry["command"].split(" ") if word not in gcc_only)
    if "arguments" in entry:
        entry["arguments"] = [word for word in entry["arguments"] if word not in gcc_only]
    kept.append(entry)
    print(path)
json.dump(kept, open(out, "w"), indent=1)
PY
)
[ -n "$files" ] || { echo "tidy.sh: no project sources in $db" >&2; exit 2; }

runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy || true)
if [ -n "$runner" ]; then
  # run-clang-tidy takes regular expressions for the files: each path, escaped, anchored.
  # shellcheck disable=SC2046
  "$runner" -quiet -j "$jobs" -p "$tidydb" -clang-tidy-binary "$tidy" \
    $(echo "$files" | sed 's/[][\\.^$*+?(){}|]/\\&/g; s/^/^/; s/$/$/') > "$log" 2>&1 || true
else
  echo "$files" | xargs -P "$jobs" -n 1 "$tidy" -p "$tidydb" --quiet > "$log" 2>&1 || true
fi
# A header's finding shows once for every file that includes it: count each place once. The
# runner colours its output; the colours go first.
found=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^(/.*:[0-9]+:[0-9]+: )?(warning|error):' | sort -u || true)
findings=$(printf '%s' "$found" | grep -c . || true)
if [ "$findings" -gt 0 ]; then
  printf '%s\n' "$found"
  echo "tidy.sh: $findings findings (full output in $log)" >&2
  exit 1
fi
echo "tidy.sh: no findings"
