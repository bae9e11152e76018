#!/usr/bin/env bash
# Builds the Windows foundation check for one architecture and runs it under Wine in a fresh
# prefix:
#
#   tests/windows/run.sh i686|x86_64
#
# 1. scripts/windows-deps.sh ARCH (the dependency cache; seconds once it is built),
# 2. tests/windows with cmake/toolchains/ARCH-w64-mingw32.cmake into build-win/ARCH/foundation,
# 3. the program imports only DLLs the system has (nothing of mingw's runtime, no XML library)
#    and exports nothing (the static libraries' headers declared nothing for a DLL),
# 4. its GoogleTest cases through CTest, each under Wine, in a prefix made for this run only
#    (and removed after it).
# Each step prints the seconds it took.
set -euo pipefail

arch=${1:-}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build-win/$arch/foundation
exe=$build/foundation_check.exe
# shellcheck source=tests/windows/common.sh
. "$root/tests/windows/common.sh"

"$root/scripts/windows-deps.sh" "$arch"
step "dependencies"

cross_build "$root/tests/windows" "$build"
step "build"

fresh_wine_prefix
step "fresh Wine prefix"

bad=0
check_system_imports "$exe" || bad=1
if "$objdump" -p "$exe" | grep -q '^There is an export table'; then
  echo "windows-check: $arch: exports symbols (a static library's header declared them for a DLL)" >&2
  bad=1
fi
[ "$bad" = 0 ] || exit 1
echo "windows-check: $arch imports: $(pe_imports "$exe" | tr '\n' ' ')"
step "imports"

status=0
ctest --test-dir "$build" -j2 --output-on-failure --no-tests=error || status=$?
step "tests under Wine"
exit "$status"
