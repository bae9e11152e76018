#!/usr/bin/env bash
# Installs the dependencies, builds Quillbox twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs the whole test suite on both builds; then every test
# program of the plain build once under Valgrind memcheck, and every fuzz target over a fixed number
# of inputs from a fixed seed, so that the command gives the same verdict on every machine.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi
jobs=$(nproc)
# Here the libxslt test suite must be had: a failed download fails the run instead of skipping.
export QUILLBOX_REQUIRE_LIBXSLT_TESTS=1

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLBOX_BUILD_TESTS=ON
cmake --build build -j"$jobs"
ctest --test-dir build --no-tests=error --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLBOX_SANITIZE=ON -DQUILLBOX_BUILD_TESTS=ON
cmake --build build-asan -j"$jobs"
# The sanitizer build's own code runs several times slower: the CPU-time budget of a call widens.
QUILLBOX_CPU_TIME_LIMIT=120 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp ctest --test-dir build-asan --no-tests=error --output-on-failure -j"$jobs"

bash scripts/memcheck.sh build
bash fuzz/run --seed 1 --runs 10000
