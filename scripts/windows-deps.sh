#!/usr/bin/env bash
# Cross-builds libxml2, libxslt and xmlsec1 (MSCrypto) static-only for Windows with mingw-w64,
# from Debian 12's source packages: the same upstream versions, with the same Debian patches, as
# the Linux build links.
#
#   scripts/windows-deps.sh ARCH [CACHE_DIR]      ARCH: i686 or x86_64
#
# CACHE_DIR (default: build-win/deps/ARCH in the source tree) becomes the install prefix
# (include/, lib/, lib/pkgconfig/) and holds quillbox-deps.cmake, which names the compile and
# link flags a consumer needs. A dependency is rebuilt only when its Debian version, this
# script or a dependency it builds on changed (stamps/ holds one key per dependency), so a
# second run with nothing changed costs a few seconds and no network.
#
# Needs: mingw-w64 (gcc-posix), autoconf, automake, libtool, pkg-config, dpkg-dev and a deb-src
# entry (scripts/install-deps.sh writes one); apt-get source works without root.
set -euo pipefail

usage() { echo "usage: $0 i686|x86_64 [CACHE_DIR]" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 2 ] || usage
arch=$1
case "$arch" in
  i686) triplet=i686-w64-mingw32 ;;
  x86_64) triplet=x86_64-w64-mingw32 ;;
  *) usage ;;
esac

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
prefix=${2:-$root/build-win/deps/$arch}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
work=$prefix/work
stamps=$prefix/stamps
script_hash=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-16)
jobs=${QUILLBOX_DEPS_JOBS:-2}

for tool in "$triplet-gcc-posix" autoreconf libtoolize pkg-config dpkg-source apt-get; do
  command -v "$tool" >/dev/null || { echo "windows-deps: $tool is missing" >&2; exit 1; }
done

# The upstream versions the Linux build uses; Debian's revision of them is whatever the deb-src
# entry offers now (a security update rebuilds the dependency through its stamp key).
declare -A upstream=([libxml2]=2.9.14 [libxslt]=1.1.35 [xmlsec1]=1.2.37)

# The .dsc apt would fetch for a source package, without fetching it.
dsc_name() {
  apt-get source --print-uris --only-source "$1" 2>/dev/null |
    awk '{ gsub(/\047/, "", $1); if ($2 ~ /\.dsc$/) { print $2; exit } }'
}

debian_version() {
  local dsc
  dsc=$(dsc_name "$1")
  if [ -z "$dsc" ]; then
    echo "windows-deps: apt knows no source package $1 (is the deb-src entry there, and apt-get update run?)" >&2
    exit 1
  fi
  dsc=${dsc%.dsc}
  local version=${dsc#"$1"_}
  case "$version" in
    "${upstream[$1]}"*) echo "$version" ;;
    *) echo "windows-deps: Debian offers $1 $version, not ${upstream[$1]}" >&2; exit 1 ;;
  esac
}

# Unpacks the source package into $work/<pkg> with Debian's patches applied, and regenerates its
# build system with this machine's autotools (the shipped one knows nothing of the patches'
# changes and may predate the mingw-w64 fixes of libtool).
fetch() {
  local pkg=$1 version=$2
  local downloads=$work/downloads
  mkdir -p "$downloads"
  local log=$work/$pkg.fetch.log
  rm -rf "$work/$pkg"
  # dpkg-source checks the files against the checksums of the .dsc, and the .dsc came through
  # apt, whose Sources index is signed: its warning that it cannot check the .dsc's own
  # signature (no Debian keyring here) goes to the log with the rest.
  if ! {
    if [ ! -f "$downloads/${pkg}_$version.dsc" ]; then
      (cd "$downloads" && apt-get source --download-only --only-source "$pkg=$version")
    fi &&
      (cd "$downloads" && dpkg-source --no-copy -x "${pkg}_$version.dsc" "$work/$pkg") &&
      (cd "$work/$pkg" && autoreconf -fi)
  } >"$log" 2>&1; then
    echo "windows-deps: fetching and preparing $pkg failed, see $log" >&2
    tail -n 30 "$log" >&2
    exit 1
  fi
}

# Static libraries only, and their headers declare nothing as imported from a DLL; libgcc is
# linked statically into the programs the packages build, so nothing needs its DLL.
static_defines="-DLIBXML_STATIC -DLIBXSLT_STATIC -DLIBEXSLT_STATIC -DXMLSEC_STATIC"
export CFLAGS="-O2 -g $static_defines"
export CPPFLAGS="-I$prefix/include"
export LDFLAGS="-L$prefix/lib"
[ "$arch" = i686 ] && LDFLAGS="$LDFLAGS -static-libgcc"
export CC=$triplet-gcc-posix
export PKG_CONFIG="pkg-config --static"
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
export PKG_CONFIG_PATH=
# The build machine's libxml2 and libxslt must not be found through their config scripts.
export PATH="$prefix/bin:$PATH"

configure_and_install() {
  local pkg=$1; shift
  local log=$work/$pkg.log
  (
    cd "$work/$pkg"
    ./configure --host="$triplet" --build="$(./config.guess)" --prefix="$prefix" \
      --disable-shared --enable-static "$@"
    make -j"$jobs"
    make install
  ) >"$log" 2>&1 || { echo "windows-deps: $pkg failed, see $log" >&2; tail -n 30 "$log" >&2; exit 1; }
}

build_libxml2() {
  # No iconv on Windows: windows/codepage_encoding.cpp gives libxml2 the Windows code pages.
  configure_and_install libxml2 --without-iconv --without-icu --without-python \
    --without-zlib --without-lzma --without-readline --without-history
}

build_libxslt() {
  # No libgcrypt (EXSLT's crypto functions) and no extension modules loaded from disk.
  configure_and_install libxslt --without-python --without-crypto --without-plugins \
    --with-libxml-prefix="$prefix"
}

build_xmlsec1() {
  # MSCrypto only, linked in rather than loaded: no OpenSSL, NSS, GnuTLS, GCrypt, CNG, no
  # xmlsec1.exe and no documentation.
  configure_and_install xmlsec1 --enable-mscrypto --disable-mscng --without-openssl \
    --without-nss --without-gnutls --without-gcrypt --disable-crypto-dl --disable-apps-crypto-dl \
    --disable-apps --disable-docs --disable-mans
  # Without dynamic loading configure points xmlsec1.pc at the default back end's .pc, which it
  # writes for every back end but MSCrypto: write that one from configure's own results, so
  # that XMLSEC_NO_SIZE_T (set where size_t is not 4 bytes) and the other defines reach every
  # consumer exactly as the library was compiled with them.
  local makefile=$work/xmlsec1/Makefile
  var() { sed -n "s/^$1 = //p" "$makefile" | head -n1; }
  local pc=$prefix/lib/pkgconfig/xmlsec1-mscrypto.pc
  {
    echo "prefix=$prefix"
    echo "exec_prefix=\${prefix}"
    echo "libdir=\${exec_prefix}/lib"
    echo "includedir=\${prefix}/include"
    echo
    echo "Name: xmlsec1-mscrypto"
    echo "Version: $(var VERSION)"
    echo "Description: XML Security Library, MSCrypto back end (static)"
    echo "Requires: libxml-2.0 >= $(var LIBXML_MIN_VERSION) $(var LIBXSLT_PC_FILE_COND)"
    echo "Cflags: $(var MSCRYPTO_CFLAGS) $(var XMLSEC_CORE_CFLAGS) -DXMLSEC_STATIC"
    echo "Libs: -L\${libdir} -l$(var MSCRYPTO_CRYPTO_LIB) $(var XMLSEC_CORE_LIBS) $(var MSCRYPTO_LIBS)"
  } >"$pc"
  rm -f "$prefix/lib/pkgconfig/xmlsec1.pc"
  cp "$pc" "$prefix/lib/pkgconfig/xmlsec1.pc"
}

# The flags, as pkg-config gives them for static linking, that quillbox-deps.cmake hands to
# CMake; checked against what the struct layouts need.
write_cmake_file() {
  local modules="libxml-2.0 libxslt libexslt xmlsec1-mscrypto"
  local cflags libs
  cflags=$(pkg-config --static --cflags $modules)
  libs=$(pkg-config --static --libs $modules)
  local flag wanted
  for wanted in $static_defines -DXMLSEC_CRYPTO_MSCRYPTO=1 -DXMLSEC_NO_CRYPTO_DYNAMIC_LOADING=1; do
    case " $cflags " in *" $wanted "*) ;; *) cflags="$cflags $wanted" ;; esac
  done
  # xmlsec's own types change size with XMLSEC_NO_SIZE_T: a consumer compiled without the
  # library's choice reads its structures at the wrong offsets, and nothing warns.
  case " $cflags " in
    *" -DXMLSEC_NO_SIZE_T "*) [ "$arch" = x86_64 ] || { echo "windows-deps: XMLSEC_NO_SIZE_T on $arch" >&2; exit 1; } ;;
    *) [ "$arch" = i686 ] || { echo "windows-deps: XMLSEC_NO_SIZE_T missing on $arch" >&2; exit 1; } ;;
  esac
  case " $cflags " in
    *" -DXMLSEC_CRYPTO_DYNAMIC_LOADING"*) echo "windows-deps: xmlsec flags ask for dynamic loading" >&2; exit 1 ;;
  esac
  local out=$prefix/quillbox-deps.cmake
  {
    echo "# Written by scripts/windows-deps.sh for $triplet: libxml2, libxslt and xmlsec1 (MSCrypto),"
    echo "# static. Include this file, then link QuillboxWindowsXml."
    printf 'set(QUILLBOX_WINDOWS_XML_CFLAGS'
    for flag in $cflags; do printf ' "%s"' "$flag"; done
    printf ')\nset(QUILLBOX_WINDOWS_XML_LIBS'
    for flag in $libs; do printf ' "%s"' "$flag"; done
    printf ')\n'
    echo 'if(NOT TARGET QuillboxWindowsXml)'
    echo '  add_library(QuillboxWindowsXml INTERFACE IMPORTED)'
    echo '  set_target_properties(QuillboxWindowsXml PROPERTIES'
    echo '    INTERFACE_COMPILE_OPTIONS "${QUILLBOX_WINDOWS_XML_CFLAGS}"'
    echo '    INTERFACE_LINK_LIBRARIES "${QUILLBOX_WINDOWS_XML_LIBS}")'
    echo 'endif()'
  } >"$out.tmp"
  mv "$out.tmp" "$out"
  echo "windows-deps: $arch cflags: $cflags"
  echo "windows-deps: $arch libs:   $libs"
}

mkdir -p "$stamps"
chain=$script_hash
rebuilt=0
for pkg in libxml2 libxslt xmlsec1; do
  version=$(debian_version "$pkg")
  chain="$chain $pkg=$version"
  stamp=$stamps/$pkg.stamp
  if [ "$rebuilt" = 0 ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$chain" ]; then
    echo "windows-deps: $arch $pkg $version is up to date"
    continue
  fi
  if [ "$rebuilt" = 0 ] && [ "$pkg" = libxml2 ]; then
    # Everything is rebuilt: nothing of an older build may stay behind in the prefix.
    rm -rf "${prefix:?}/bin" "${prefix:?}/include" "${prefix:?}/lib" "${prefix:?}/share" \
      "$stamps"/*.stamp "$prefix/quillbox-deps.cmake"
  fi
  rebuilt=1
  start=$SECONDS
  rm -f "$stamp"
  fetch "$pkg" "$version"
  "build_$pkg"
  rm -rf "${work:?}/$pkg"
  echo "$chain" >"$stamp"
  echo "windows-deps: $arch $pkg $version built in $((SECONDS - start)) s"
done
if [ "$rebuilt" = 1 ] || [ ! -f "$prefix/quillbox-deps.cmake" ]; then
  write_cmake_file
fi
