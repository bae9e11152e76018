#!/usr/bin/env bash
# Installs the dependencies, builds Quillbox, and shows it at work inside the build tree: a demo
# certificate store and registry of its own (never the user's), a self-signed certificate, a
# windows-1250 form signed with the signature properties, verified, and shown.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLBOX_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"

demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
export QUILLBOX_NSS_DB="sql:$demo/nssdb"
export QUILLBOX_REGISTRY="$demo/registry.db"
quillbox="$PWD/build/bin/quillbox"
step() { printf '\n== %s\n' "$*"; }

step "A self-signed certificate in the demo store"
"$quillbox" certs new-self-signed "CN=Quillbox Demo Signer, O=Quillbox Demo, C=SI" --days 30
"$quillbox" certs list

step "Signing examples/form.xml (windows-1250) with the signature properties"
"$quillbox" sign examples/form.xml --subject "Quillbox Demo Signer" \
  --advanced --user-name "Žiga Čebašek" -o "$demo/form.signed.xml"

step "Verifying the signed form"
"$quillbox" verify "$demo/form.signed.xml"

step "The signed form (still windows-1250 on disk; shown here as UTF-8)"
iconv -f windows-1250 -t UTF-8 "$demo/form.signed.xml"

step "The same from a script, as a web page of the time would do it"
"$quillbox" run examples/sign-by-subject.js "Quillbox Demo Signer" > "$demo/order.signed.xml"
"$quillbox" verify "$demo/order.signed.xml"
"$quillbox" run examples/error-handling.js

step "A reviewer's summary of the signed form"
"$quillbox" transform --xsl examples/form-summary.xsl "$demo/form.signed.xml"
echo
