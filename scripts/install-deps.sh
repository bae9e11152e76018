#!/usr/bin/env bash
# Installs every Debian 12 package Quillbox needs to build, run and test. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

# The Transform tests compare against libxslt's own test suite, which they take from Debian's
# source package of the installed libxslt (tests/xml/fetch-libxslt-tests.sh, apt-get source):
# that needs a deb-src entry, for the Debian mirror this machine already uses, signed by the same
# key as its binary entry (apt refuses two keys for one source).
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
mirror=""
signed_by=""
for list in /etc/apt/sources.list.d/*.sources; do
  [ -f "$list" ] || continue
  # The first stanza that serves the release itself (not -updates or -security).
  read -r mirror signed_by < <(awk -v suite="$codename" '
    BEGIN { RS = ""; FS = "\n" }
    {
      uris = ""; key = ""; suites = ""; types = ""
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^URIs:/) { uris = $i; sub(/^URIs:[ \t]*/, "", uris); sub(/[ \t].*/, "", uris) }
        if ($i ~ /^Signed-By:/) { key = $i; sub(/^Signed-By:[ \t]*/, "", key) }
        if ($i ~ /^Suites:/) suites = " " $i " "
        if ($i ~ /^Types:/) types = $i
      }
      if (types ~ /deb( |$)/ && suites ~ (" " suite " ") && uris != "") { print uris, key; exit }
    }' "$list") || true
  [ -n "$mirror" ] && break
done
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
  mirror=$(awk -v suite="$codename" '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i == suite) { print $(i - 1); exit } }' \
    /etc/apt/sources.list)
fi
mirror=${mirror:-http://deb.debian.org/debian}
{
  echo "Types: deb-src"
  echo "URIs: $mirror"
  echo "Suites: $codename"
  echo "Components: main"
  if [ -n "$signed_by" ]; then echo "Signed-By: $signed_by"; fi
} >/etc/apt/sources.list.d/quillbox-src.sources

# A mirror in the middle of a sync serves indexes whose size does not match its Release file
# ("Mirror sync in progress?"), and apt-get update then fails the whole run, even when the index
# is one of a foreign architecture nothing here installs from. Try again twice, then go on with the
# lists apt already has and let the install say what is missing from them.
for attempt in 1 2 3; do
  if apt-get update -o Acquire::Retries=3; then break; fi
  if [ "$attempt" = 3 ]; then
    echo "install-deps: apt-get update failed $attempt times; installing from the package lists apt has" >&2
    break
  fi
  echo "install-deps: apt-get update failed (attempt $attempt); trying again in $((attempt * 15)) s" >&2
  sleep $((attempt * 15))
done
apt-get install -y --no-install-recommends -o Acquire::Retries=3 \
  build-essential cmake pkg-config git ca-certificates python3 \
  libxml2-dev libxslt1-dev libxmlsec1-dev libxmlsec1-nss libnss3-dev libnss3-tools \
  libsqlite3-dev libffi-dev duktape-dev libgtk-3-dev gettext \
  libgtest-dev libgmock-dev googletest libbenchmark-dev gnuplot-nox time \
  xmlsec1 xsltproc openssl softhsm2 dpkg-dev \
  xvfb xdotool x11-apps imagemagick \
  chromium firefox-esr \
  clang libclang-rt-14-dev llvm valgrind clang-tidy clang-format \
  locales
