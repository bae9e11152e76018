#!/usr/bin/env bash
# Puts libxslt's own tests (tests/REC, tests/general and the documents the general tests read,
# tests/docs) of the libxslt that is installed into DEST, from Debian's source package of that
# very version. Kept there once fetched; nothing of it is committed.
#
# The source package comes through apt, from the deb-src entry that scripts/install-deps.sh adds.
# Exits 0 with DEST/REC, DEST/general and DEST/docs in place, non-zero (with a message on stderr)
# when they cannot be had.
set -euo pipefail
dest=${1:?usage: fetch-libxslt-tests.sh DEST}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

# Two test programs may ask at once; the second waits for the first's copy.
exec 9>"$dest/.lock"
flock 9

version=$(dpkg-query -W -f='${source:Version}' libxslt1.1 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "fetch-libxslt-tests: libxslt1.1 is not installed" >&2
  exit 1
fi
if [ "$(cat "$dest/.version" 2>/dev/null || true)" = "$version" ] &&
   [ -d "$dest/REC" ] && [ -d "$dest/general" ] && [ -d "$dest/docs" ]; then
  exit 0
fi

work=$(mktemp -d "$dest/.fetch-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get source --download-only "libxslt=$version" >download.log 2>&1; then
  echo "fetch-libxslt-tests: cannot download Debian's source package libxslt $version:" >&2
  sed 's/^/  /' download.log >&2
  echo "  (scripts/install-deps.sh adds the deb-src entry and runs apt-get update)" >&2
  exit 1
fi
# apt checked the files against the signed index it downloaded them by.
if ! dpkg-source --no-check -x libxslt_*.dsc source >extract.log 2>&1; then
  echo "fetch-libxslt-tests: cannot unpack the source package:" >&2
  sed 's/^/  /' extract.log >&2
  exit 1
fi
rm -rf "$dest/REC" "$dest/general" "$dest/docs"
cp -r source/tests/REC source/tests/general source/tests/docs "$dest/"
echo "$version" >"$dest/.version"
