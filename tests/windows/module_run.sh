#!/usr/bin/env bash
# Builds the component module for one architecture and checks it under Wine, in a fresh prefix,
# as an installer and a page's script meet it:
#
#   tests/windows/module_run.sh i686|x86_64
#
# 1. scripts/windows-deps.sh ARCH (the dependency cache; seconds once it is built),
# 2. the tree with cmake/toolchains/ARCH-w64-mingw32.cmake into build-win/ARCH: bin/quillbox.dll,
# 3. the module imports only system DLLs and exports exactly its entry points, the COM four by
#    the ordinals 1 to 4,
# 4. regsvr32 registers it: the ProgID, the class's InprocServer32 and the type library are in
#    the registry,
# 5. cscript runs tests/windows/module_check.js, which creates the object by its ProgID and
#    uses it through its dual interface,
# 6. Sign: a certificate made for this run (openssl, issued by a CA of the run's own, a 20-byte
#    serial) is put with its key and chain into the prefix's MY
#    store (tests/windows/module/import_pfx.cpp); tests/windows/module_sign.js signs with it, and
#    the build machine's xmlsec1 verifies the signature,
# 7. cscript runs tests/scripts/members.js and the scripts of examples/ (all but transform.js,
#    which needs the StdIn Wine lacks), the selection dialog a stand-in (tests/windows/module);
#    what they sign xmlsec1 verifies,
# 8. Sign refuses in protected mode (a stand-in ieframe.dll answers the query) and signs outside it,
# 9. Transform refuses what would read or write a file or expand entities a billion times
#    (tests/windows/transform_hardening.js),
# 10. regsvr32 /u removes every key it wrote.
# Each step prints the seconds it took.
set -euo pipefail

arch=${1:-}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build-win/$arch
dll=$build/bin/quillbox.dll
# shellcheck source=tests/windows/common.sh
. "$root/tests/windows/common.sh"

clsid='{2A426405-E493-4525-835C-A7B2DEFE8CC8}'
libid='{55C3208D-3C4C-4F72-B6BD-F013DB1D17F1}'
fail() { echo "windows-check: $arch: $*" >&2; exit 1; }

"$root/scripts/windows-deps.sh" "$arch"
step "dependencies"

cross_build "$root" "$build" -DQUILLBOX_BUILD_TESTS=ON
step "build"

fresh_wine_prefix
step "fresh Wine prefix"

check_system_imports "$dll" || exit 1
echo "windows-check: $arch imports: $(pe_imports "$dll" | tr '\n' ' ')"
# The name table pairs each name with its ordinal less the base ("[   0] DllCanUnloadNow").
headers=$("$objdump" -p "$dll")
grep -q '^Export Address Table -- Ordinal Base 1$' <<<"$headers" || fail "the export ordinals do not start at 1"
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *\([0-9]*\)\] /\1:/p' <<<"$headers" | tr '\n' ' ')
expected="0:DllCanUnloadNow 1:DllGetClassObject 2:DllRegisterServer 3:DllUnregisterServer 4:QuillboxGetCallLimits 5:QuillboxSetCallLimits "
[ "$exports" = "$expected" ] || fail "exports '$exports', expected '$expected'"
grep -q '^Name[[:space:]].*[[:space:]]Quillbox\.DLL$' <<<"$headers" ||
  fail "the export table does not name the module Quillbox.DLL"
step "imports and exports"

# The module and the scripts in a folder of the prefix's drive C.
work=$WINEPREFIX/drive_c/quillbox
mkdir -p "$work"
cp "$dll" "$root/tests/windows/module_check.js" "$work/"
# cscript_run SCRIPT [ARGUMENT...]: runs C:\quillbox\SCRIPT, its output without carriage returns;
# the script's exit status is the function's.
cscript_run() {
  local script=$1
  shift
  (cd "$work" && "$winerun" "$programs\\cscript.exe" //nologo "C:\\quillbox\\$script" "$@") | tr -d '\r'
}
# verify_signed NAME: xmlsec1 verifies $work/NAME.xml through the run's CA.
verify_signed() {
  xmlsec1 --verify --trusted-pem "$work/ca.pem" "$work/$1.xml" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; fail "xmlsec1 does not verify $1.xml, signed under Wine"; }
}
# The system's programs (regsvr32, reg, cscript) of the module's architecture: a program path
# given to the 32-bit loader is a 32-bit program's view, in which system32 is syswow64, so the
# 64-bit module is served by the 64-bit loader (Debian keeps it out of PATH).
winerun=wine
programs='C:\windows\system32'
if [ "$arch" = x86_64 ]; then
  winerun=$(command -v wine64 || true)
  [ -n "$winerun" ] || winerun=/usr/lib/wine/wine64
  [ -x "$winerun" ] || fail "no 64-bit Wine loader (wine64)"
elif [ "$system" != "$WINEPREFIX/drive_c/windows/system32" ]; then
  programs='C:\windows\syswow64'
fi
module='C:\quillbox\quillbox.dll'

# reg's view of one key, or nothing when it is not there (reg says so on its standard output);
# the 32-bit view for the 32-bit module.
view=()
[ "$arch" = i686 ] && view=(/reg:32)
query() {
  local out
  if out=$("$winerun" "$programs\\reg.exe" query "$1" /s "${view[@]}" 2>/dev/null); then tr -d '\r' <<<"$out"; fi
}

status=0
"$winerun" "$programs\\regsvr32.exe" /s "$module" || status=$?
[ "$status" = 0 ] || fail "regsvr32 exited with $status"
progid=$(query 'HKCR\Quillbox.Signature')
grep -q "CLSID.*$clsid\|$clsid" <<<"$progid" || fail "HKCR\\Quillbox.Signature does not name the class: $progid"
server=$(query "HKCR\\CLSID\\$clsid\\InprocServer32")
grep -qi 'quillbox\.dll' <<<"$server" || fail "the class has no InprocServer32 naming the module: $server"
grep -q 'ThreadingModel.*Apartment' <<<"$server" || fail "the class's ThreadingModel is not Apartment: $server"
typelib=$(query "HKCR\\TypeLib\\$libid")
grep -qi 'quillbox\.dll' <<<"$typelib" || fail "the type library is not registered: $typelib"
echo "windows-check: $arch registered: $(grep -i 'REG_SZ' <<<"$server" | head -1 | sed 's/^[[:space:]]*//')"
step "regsvr32"

status=0
cscript_run module_check.js || status=$?
[ "$status" = 0 ] || fail "module_check.js exited with $status"
step "script under Wine"

signer="Quillbox Wine Signer"
# As users have it: a certificate a CA issued, with a serial of twenty bytes, in a PKCS #12 file
# that carries the chain.
issuer="CN=Quillbox Wine CA, O=Quillbox Test, C=SI"
serial=7F1A2B3C4D5E6F708192A3B4C5D6E7F801122334
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca-key.pem" -out "$work/ca.pem" -days 2 \
  -subj "/C=SI/O=Quillbox Test/CN=Quillbox Wine CA" -addext basicConstraints=critical,CA:TRUE 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/signer.csr" \
  -subj "/C=SI/O=Quillbox Test/CN=$signer" 2>/dev/null
openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca-key.pem" -set_serial "0x$serial" \
  -days 2 -out "$work/cert.pem" 2>/dev/null
# The PBEs of PKCS #12 files from before OpenSSL 3, which every reader knows.
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -certfile "$work/ca.pem" -out "$work/signer.pfx" \
  -passout pass:quillbox -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1
cp "$build/tests/import_pfx.exe" "$root/tests/windows/module_sign.js" "$work/"
"$winerun" 'C:\quillbox\import_pfx.exe' 'C:\quillbox\signer.pfx' quillbox | tr -d '\r'
status=0
output=$(cscript_run module_sign.js "$signer" "$issuer" "$serial") || status=$?
sed '/^-----BEGIN SIGNED .*-----$/,/^-----END SIGNED .*-----$/d' <<<"$output"
[ "$status" = 0 ] || fail "module_sign.js exited with $status"
for name in utf-8 windows-1250; do
  sed -n "/^-----BEGIN SIGNED $name-----\$/,/^-----END SIGNED $name-----\$/p" <<<"$output" | sed '1d;$d' >"$work/signed-$name.xml"
  [ -s "$work/signed-$name.xml" ] || fail "module_sign.js wrote no signed $name document"
  verify_signed "signed-$name"
  echo "windows-check: $arch: xmlsec1 verifies the $name document signed under Wine"
done
step "Sign under Wine"

# The scripts the Linux tests run through the quillbox command, and the examples an integrator
# starts from, through cscript. Wine's own cryptdlg has no dialog (it stops the process): the
# stand-ins of tests/windows/module take its place in the system folder, one that cancels for the
# members script (as the dialog with no display does on Linux), one that chooses the signer for
# pick-then-sign.js. cscript's console carries only its code page: documents signed here are
# verified in full when their text is ASCII, and checked for their signature otherwise.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cryptdlg=n"
cp "$root/tests/scripts/members.js" "$root"/examples/*.js "$work/"
# run_script DIALOG SCRIPT [ARGUMENT...]: the script's output, with the stand-in dialog DIALOG
# (choose or cancel); the script's own exit status is the function's.
run_script() {
  cp "$build/tests/cryptdlg-$1/cryptdlg.dll" "$system/cryptdlg.dll"
  shift
  cscript_run "$@"
}

out=$(run_script cancel members.js "$signer") || fail "members.js exited with $?: $out"
[ "$out" = "all members 1" ] || fail "members.js: $out"

out=$(run_script cancel sign-by-subject.js "$signer") || fail "sign-by-subject.js exited with $?: $out"
grep -q '<SignatureValue>' <<<"$out" && grep -q '<UserName>Ana Novak</UserName>' <<<"$out" ||
  fail "sign-by-subject.js did not sign: $out"
out=$(run_script cancel sign-by-issuer-serial.js "$issuer" "${serial,,}") ||
  fail "sign-by-issuer-serial.js exited with $?: $out"
printf '%s\n' "$out" >"$work/sign-by-issuer-serial.xml"
verify_signed sign-by-issuer-serial
status=0
out=$(run_script cancel sign-by-issuer-serial.js "$issuer" 01) || status=$?
[ "$status" = 1 ] && [ "$out" = "Napaka 31: ERR_CERT_NOT_FOUND" ] ||
  fail "sign-by-issuer-serial.js of an unknown serial: status $status, '$out'"

out=$(run_script cancel error-handling.js) || fail "error-handling.js exited with $?: $out"
expected="Sign: ERR_PARSING_XML (13)
Sign: ERR_CERT_NOT_FOUND (31)
Transform: ERR_PARSING_XSLT_SCHEMA (38), result ''"
[ "$(head -3 <<<"$out")" = "$expected" ] && grep -q '^Script error: ' <<<"$out" && grep -qx 'Version 1.0.1.0' <<<"$out" ||
  fail "error-handling.js: $out"

# transform.js is left out: Wine's WScript has no StdIn or StdOut yet (E_NOTIMPL), and the script
# reads its input from one and writes to the other. module_check.js calls Transform under Wine.

status=0
out=$(run_script cancel pick-then-sign.js) || status=$?
[ "$status" = 1 ] && [ "$out" = "No certificate chosen (ERR_NO_CERT_SELECTED)" ] ||
  fail "pick-then-sign.js with the dialog cancelled: status $status, '$out'"
out=$(QUILLBOX_FAKE_CHOICE=$signer run_script choose pick-then-sign.js) || fail "pick-then-sign.js exited with $?: $out"
grep -qx "Chosen: $issuer / $serial" <<<"$out" || fail "pick-then-sign.js chose otherwise: $out"
sed 1d <<<"$out" >"$work/pick-then-sign.xml"
verify_signed pick-then-sign
echo "windows-check: $arch: pick-then-sign.js: $(head -1 <<<"$out"), and xmlsec1 verifies what it signed"
echo "windows-check: $arch: the members script and the examples run under cscript"
step "scripts under Wine"

# A page in Internet Explorer's protected mode may not sign: the stand-in browser library answers
# the module's query as the test asks, and Wine's own (which has no such query) is put back after.
cp "$root/tests/windows/protected_mode.js" "$work/"
cp "$system/ieframe.dll" "$work/ieframe.wine"
cp "$build/tests/ieframe/ieframe.dll" "$system/ieframe.dll"
for case in protected:"REFUSED 41 ERR_ACCESS_DENIED" denied:"REFUSED 41 ERR_ACCESS_DENIED" \
            not-protected:SIGNED failed:SIGNED; do
  answer=${case%%:*}
  out=$(QUILLBOX_TEST_PROTECTED_MODE=$answer WINEDLLOVERRIDES="$WINEDLLOVERRIDES;ieframe=n" \
          cscript_run protected_mode.js "$signer") || fail "protected_mode.js exited with $?: $out"
  [ "$out" = "${case#*:}" ] || fail "a query that answers $answer: '$out', expected '${case#*:}'"
done
cp "$work/ieframe.wine" "$system/ieframe.dll"
echo "windows-check: $arch: Sign refuses in protected mode and signs outside it"
step "protected mode under Wine"

# Transform's hardening, with a secret beside the script that no attack may read and a file that
# none may write.
secret=QUILLBOX-WINE-SECRET
printf '%s' "$secret" >"$work/secret.txt"
printf '<!ENTITY secret "%s">' "$secret" >"$work/secret.dtd"
printf '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"><xsl:template match="/"><r>%s</r></xsl:template></xsl:stylesheet>' \
  "$secret" >"$work/evil.xsl"
cp "$root/tests/windows/transform_hardening.js" "$work/"
status=0
out=$(cscript_run transform_hardening.js) || status=$?
printf '%s\n' "$out"
[ "$status" = 0 ] || fail "transform_hardening.js exited with $status"
! grep -q "$secret" <<<"$out" || fail "an attack read the secret"
[ ! -e "$work/written.xml" ] || fail "exsl:document wrote a file"
step "Transform's hardening under Wine"

status=0
"$winerun" "$programs\\regsvr32.exe" /s /u "$module" || status=$?
[ "$status" = 0 ] || fail "regsvr32 /u exited with $status"
[ -z "$(query 'HKCR\Quillbox.Signature')" ] || fail "regsvr32 /u left HKCR\\Quillbox.Signature"
[ -z "$(query 'HKCR\Quillbox.Signature.1')" ] || fail "regsvr32 /u left HKCR\\Quillbox.Signature.1"
[ -z "$(query "HKCR\\CLSID\\$clsid")" ] || fail "regsvr32 /u left the class's key"
[ -z "$(query "HKCR\\TypeLib\\$libid")" ] || fail "regsvr32 /u left the type library's key"
step "regsvr32 /u"
