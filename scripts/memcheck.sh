#!/usr/bin/env bash
# Runs every test program of a build (default: build/) once, whole, under Valgrind memcheck:
# any invalid access, use of an uninitialised value or definite/indirect leak fails the run.
# The sanitizer build finds most of these too; Valgrind also sees uninitialised reads, and it
# checks the plain optimised binaries that ship. Programs run two at a time; each one's report is
# kept in BUILD/memcheck/. Origins are not tracked (that doubles the run's time and finds nothing
# more): to see where an uninitialised value a report names came from, run that one program again
# under valgrind --track-origins=yes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=$build/memcheck
rm -rf "$out"
mkdir -p "$out"

# The programs that open the real GTK dialog are left to the sanitizer build: GTK, Pango and
# fontconfig keep allocations of their own to exit, which Valgrind reports in every child the
# tests fork after the dialog ran, and the tests' waits for the window assume real-time speed.
# The browser programs are left to it too: what they test runs in the browsers and the host they
# start, which Valgrind does not follow, and their waits for the browser assume real-time speed.
skip='picker_real_store_test|picker_window_test|browser_extension_test|browser_firefox_test|browser_dialogs_test'
programs=$(find "$build/tests" "$build/fuzz" -maxdepth 1 -type f -executable \( -name '*_test' -o -name 'fuzz_*' \) |
  grep -Ev "/($skip)\$" | sort)
# Under Valgrind two programs take a quarter of an hour each (libxslt's own test suite, and the
# hostile documents), the next a few minutes, the rest a minute or less: they start first, so that
# the two at a time finish together instead of one of the long ones running alone at the end.
longest=(transform_xsltproc_test hostile_test transform_test)
programs=$(for name in "${longest[@]}"; do grep -E "/$name\$" <<<"$programs" || true; done
  grep -Ev "/($(IFS='|'; echo "${longest[*]}"))\$" <<<"$programs")

check() {
  local program=$1 name args=()
  name=$(basename "$program")
  # A replay program takes its inputs as arguments, as its CTest entry gives them.
  if [[ $name == fuzz_* ]]; then
    args=(fuzz/corpus/"${name#fuzz_}")
    [[ -d fuzz/regressions/${name#fuzz_} ]] && args+=(fuzz/regressions/"${name#fuzz_}")
  fi
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
       --show-leak-kinds=definite,indirect --num-callers=30 \
       --suppressions=scripts/memcheck.supp "$program" "${args[@]}" >"$out/$name.log" 2>&1; then
    echo "memcheck ok      $name"
  else
    echo "memcheck FAILED  $name (see $out/$name.log)"
    return 1
  fi
}
export -f check
export out
# Under Valgrind a call runs some thirty times slower than it does for a user: the CPU-time budget
# of each Sign and Transform is widened to match, so that it stops only what it stops natively.
export QUILLBOX_CPU_TIME_LIMIT=600
echo "$programs" | xargs -P 2 -I{} bash -c 'check {}'
