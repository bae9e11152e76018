#!/usr/bin/env bash
# scripts/test.sh [PHASE...]: installs the dependencies and runs the test command's phases, by
# default all of them in this order:
#   plain     checks that every include points down the rooms (scripts/check-includes), builds
#             Quillbox (build/), runs clang-tidy over what ships (scripts/tidy.sh) and runs the
#             whole test suite;
#   asan      the same with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/);
#   tsan      the tests that start threads (label "threads"), with ThreadSanitizer (build-tsan/),
#             which builds only those test programs and what they load;
#   memcheck  every test program of the plain build once under Valgrind memcheck;
#   fuzz      every fuzz target over a fixed number of inputs from a fixed seed,
# so that the command gives the same verdict on every machine. memcheck needs the plain build.
set -euo pipefail
cd "$(dirname "$0")/.."
phases=("$@")
[ ${#phases[@]} -gt 0 ] || phases=(plain asan tsan memcheck fuzz)
for phase in "${phases[@]}"; do
  case $phase in
    plain | asan | tsan | memcheck | fuzz) ;;
    *) echo "unknown phase '$phase' (plain asan tsan memcheck fuzz)" >&2; exit 2 ;;
  esac
done
if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi
jobs=$(nproc)
# Here the libxslt test suite must be had: a failed download fails the run instead of skipping.
export QUILLBOX_REQUIRE_LIBXSLT_TESTS=1

# build DIR BUILD-TYPE SANITIZE [TARGET...]: configures and builds a tree, the tests included.
build() {
  local dir=$1 type=$2 sanitize=$3
  shift 3
  if [ $# -gt 0 ]; then set -- --target "$@"; fi
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DQUILLBOX_SANITIZE="$sanitize" -DQUILLBOX_BUILD_TESTS=ON
  cmake --build "$dir" -j"$jobs" "$@"
}

# run_tests DIR [CTEST-ARGUMENT...]: the tree's tests, through the command in test_launcher if a
# phase sets one; none found is a failure.
test_launcher=()
run_tests() {
  local dir=$1
  shift
  "${test_launcher[@]}" ctest --test-dir "$dir" --no-tests=error --output-on-failure -j"$jobs" "$@"
}

plain() {
  python3 scripts/check-includes
  build build RelWithDebInfo OFF
  bash scripts/tidy.sh build "$jobs"
  run_tests build
}

asan() {
  build build-asan Debug ON
  # Instrumented code runs several times slower than a user's: the CPU-time budget of a call widens.
  # GCC 12's runtime takes a thread_local block of a loaded module for one with glibc 2.19's
  # header whenever its address falls 16 bytes past a page, and LeakSanitizer's tracer then reads
  # a wild range at exit ("Tracer caught signal 11"); the module's thread_locals hold no heap
  # pointers of their own, so leaving that interceptor out loses no roots.
  QUILLBOX_CPU_TIME_LIMIT=120 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp run_tests build-asan
}

tsan() {
  build build-tsan Debug thread quillbox_threaded_tests
  # GCC 12's ThreadSanitizer cannot place its shadow memory beside a 32-bit randomised mmap
  # base, which newer kernels choose; there the tests run without address randomisation.
  local test_launcher=()
  if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)" -gt 28 ]; then
    test_launcher=(setarch "$(uname -m)" --addr-no-randomize)
  fi
  QUILLBOX_CPU_TIME_LIMIT=300 TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp" \
    run_tests build-tsan -L threads
}

memcheck() { bash scripts/memcheck.sh build; }
fuzz() { bash fuzz/run --seed 1 --runs 10000; }

for phase in "${phases[@]}"; do
  started=$SECONDS
  "$phase"
  echo "== phase $phase took $((SECONDS - started)) s"
done
