# What the scripts of tests/windows share; sourced, with $arch (the script's argument, which must
# be i686 or x86_64) and $root set.
#   step NAME                  prints the seconds since the last step
#   fresh_wine_prefix          makes a Wine prefix for this run only, removed when the script exits
#   check_system_imports FILE  fails when a PE file imports a DLL that is no system DLL of the prefix
#   pe_imports FILE            the DLLs a PE file imports, one a line
#   cross_build SOURCE BUILD [CMAKE-ARGUMENT...]
#                              configures SOURCE into BUILD with this architecture's toolchain and builds it
case "$arch" in
  i686 | x86_64) ;;
  *) echo "usage: $0 i686|x86_64" >&2; exit 2 ;;
esac
objdump=x86_64-w64-mingw32-objdump  # reads PE files of both architectures

step() { printf 'windows-check: %s %s: %d s\n' "$arch" "$1" "$((SECONDS - started))"; started=$SECONDS; }
started=$SECONDS

# A prefix of this run's own: nothing a run leaves behind (certificates, registry) reaches the
# next, and no Mono or Gecko is fetched for it. Sets WINEPREFIX and system (where this
# architecture's system DLLs and programs are in the prefix).
fresh_wine_prefix() {
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quillbox-wine.XXXXXX")
  export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=${WINEDEBUG:--all}
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
  wineboot -i >/dev/null 2>&1
  wineserver -w
  if [ "$arch" = x86_64 ] || [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
    system=$WINEPREFIX/drive_c/windows/system32
  else
    system=$WINEPREFIX/drive_c/windows/syswow64
  fi
}

pe_imports() { "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'; }

check_system_imports() {
  local bad=0 dll
  while read -r dll; do
    if [ -z "$(find "$system" -maxdepth 1 -iname "$dll" -print -quit)" ]; then
      echo "windows-check: $arch: $(basename "$1") imports $dll, which is no system DLL" >&2
      bad=1
    fi
  done < <(pe_imports "$1")
  return "$bad"
}

cross_build() {
  local source=$1 build=$2
  shift 2
  mkdir -p "$build"
  local launcher=()
  if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$source" -B "$build" --toolchain "$root/cmake/toolchains/$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" "${launcher[@]}" >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; return 1; }
  cmake --build "$build" -j2
}
