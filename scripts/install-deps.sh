#!/usr/bin/env bash
# Installs every Debian 12 package Quillbox needs to build, run and test. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates python3 \
  libxml2-dev libxslt1-dev libxmlsec1-dev libxmlsec1-nss libnss3-dev libnss3-tools \
  libsqlite3-dev libffi-dev duktape-dev libgtk-3-dev gettext \
  libgtest-dev libgmock-dev googletest libbenchmark-dev gnuplot-nox \
  xmlsec1 xsltproc openssl softhsm2 \
  xvfb xdotool x11-apps imagemagick \
  clang libclang-rt-14-dev llvm valgrind \
  locales
