// The page-side pieces both browsers' tests run.
#pragma once

#include <string>

namespace quillbox::browser::test {

// A page-side function body run as an async function; its value is what the test reads. A
// rejection or throw inside is caught and given back as {thrown: name, code, message}.
inline std::string Async(const std::string& body) {
  return "(async () => { try { " + body +
         " } catch (e) { return {thrown: e.name, code: String(e.code), message: String(e.message)}; } })()";
}

// A form, with everything set to sign it by the standard store's signer, as `s`.
inline constexpr char kSignForm[] =
    "const s = await Quillbox.createSignature();"
    "s.XmlDoc = '<obrazec><ime>Ana \\u017dagar</ime></obrazec>';"
    "s.CertFindOption = 1; s.CertSubject = 'Test Signer';"
    "s.Advanced = true; s.UserName = 'ana'; s.LocalTimeStamp = '2026-12-08T10:00:00';";

// A method answered after every put made before it, which changes no property: once it settles,
// nothing of the page's is on its way to the host (puts are not waited for).
inline constexpr char kPutsAnswered[] =
    "await s.TransformAsync('<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"/>');";

// kSignForm signed, and what the page reads afterwards.
inline constexpr char kSignFormAndReport[] =
    "const r = await s.SignAsync();"
    "return {r, doc: s.XmlDoc, no: s.ErrorNo, str: String(s.ErrorStr), desc: String(s.ErrorDesc),"
    "        origin: location.origin};";

// The picker shown, then the form signed with the certificate chosen in it (by issuer and serial).
inline constexpr char kPickThenSign[] =
    "const s = await Quillbox.createSignature();"
    "const picked = await s.ShowCertsDlgAsync();"
    "const issuer = s.CertIssuerName, serial = s.CertSerial, pickedNo = s.ErrorNo;"
    "s.XmlDoc = '<obrazec><ime>Ana \\u017dagar</ime></obrazec>'; s.CertFindOption = 0;"
    "const r = await s.SignAsync();"
    "return {picked, issuer, serial, pickedNo, r, doc: s.XmlDoc, str: String(s.ErrorStr)};";

// On the example page: presses the button `button` and waits until the element `until` says
// `done(element)`, or the page shows its error; gives the element's text and the error's.
inline std::string PressAndWait(const std::string& button, const std::string& until, const std::string& done) {
  return "(async () => {"
         "  const $ = (id) => document.getElementById(id);"
         "  $('" + button + "').click();"
         "  const done = " + done + ";"
         "  while (!done($('" + until + "')) && $('error').hidden) await new Promise((r) => setTimeout(r, 50));"
         "  return {text: $('" + until + "').textContent, error: $('error').hidden ? '' : $('error').textContent,"
         "          picked: $('picked').textContent};"
         "})()";
}

}  // namespace quillbox::browser::test
