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

}  // namespace quillbox::browser::test
