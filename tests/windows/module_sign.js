// Sign under Wine, after tests/windows/module_run.sh put a certificate with its private key into
// the prefix's "MY" store: the module finds it by subject, signs with xmlsec's CryptoAPI back end
// and the system's RSA provider, and the document comes back with an enveloped signature that
// names the certificate. The arguments are the certificate's subject, its issuer's text and its
// serial's text; it is found by each, as a page finds it. Signed documents are written between
// marker lines for the caller to verify. Exits 0 when every check held, 1 when one failed, 2 when
// the script itself was stopped by an error.
var failures = 0;

function check(what, ok, detail) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what + (ok ? "" : ": " + detail));
  if (!ok) failures++;
}

// The console would carry only the characters of its own code page: every other one is written
// as a character reference, which an XML reader takes for the same character, so the signature
// verifies as it would over the text itself.
function emit(name, xml) {
  WScript.Echo("-----BEGIN SIGNED " + name + "-----");
  WScript.Echo(xml.replace(/[^\x00-\x7f]/g, function (c) { return "&#" + c.charCodeAt(0) + ";"; }));
  WScript.Echo("-----END SIGNED " + name + "-----");
}

try {
  var subject = WScript.Arguments(0);
  var sig = new ActiveXObject("Quillbox.Signature");
  sig.XmlDoc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><narocilo><izdelek>\u010cokolada</izdelek></narocilo>";
  sig.CertFindOption = 1;  // by subject
  sig.CertSubject = subject;
  var signed = sig.Sign();
  check("Sign", signed === true, sig.ErrorStr + " (" + sig.ErrorNo + ") " + sig.ErrorDesc);
  check("ErrorNo after Sign", sig.ErrorNo === 0, sig.ErrorNo);
  var doc = sig.XmlDoc;
  check("an enveloped signature", doc.indexOf("<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"") > 0, doc);
  check("RSA-SHA1", doc.indexOf("http://www.w3.org/2000/09/xmldsig#rsa-sha1") > 0, doc);
  check("a signature value", /<SignatureValue>[A-Za-z0-9+\/=\s]{300,}<\/SignatureValue>/.test(doc), doc);
  check("the certificate", doc.indexOf("<X509Certificate>") > 0, doc);
  check("the document's text kept", doc.indexOf("\u010cokolada") > 0, doc);
  check("the certificate's subject", sig.CertSubject.indexOf(subject) >= 0, sig.CertSubject);

  // By issuer and serial, as a page signs with the certificate a user picked on an earlier visit;
  // the serial in lower case, as a page may have kept it.
  var byIssuer = new ActiveXObject("Quillbox.Signature");
  byIssuer.XmlDoc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><potrdilo><stevilka>2008/117</stevilka></potrdilo>";
  byIssuer.CertFindOption = 0;
  byIssuer.CertIssuerName = WScript.Arguments(1);
  byIssuer.CertSerial = WScript.Arguments(2).toLowerCase();
  check("Sign by issuer and serial", byIssuer.Sign() === true,
        byIssuer.ErrorStr + " (" + byIssuer.ErrorNo + ") " + byIssuer.ErrorDesc);
  check("the serial upper-cased", byIssuer.CertSerial === WScript.Arguments(2), byIssuer.CertSerial);
  check("the issuer's serial in the signature", byIssuer.XmlDoc.indexOf("<X509SerialNumber>") > 0, byIssuer.XmlDoc);

  sig.XmlDoc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><doc><p>plain text</p></doc>";
  check("Sign of a second document", sig.Sign() === true, sig.ErrorStr + " (" + sig.ErrorNo + ") " + sig.ErrorDesc);
  emit("utf-8", sig.XmlDoc);

  // A form as Slovenian offices keep them, in windows-1250: libxml2 has no converter of its own
  // for it on Windows. It is written back in that encoding with its declaration; a character
  // windows-1250 lacks comes back as a character reference.
  var form = new ActiveXObject("Quillbox.Signature");
  form.XmlDoc = "<?xml version=\"1.0\" encoding=\"windows-1250\"?>" +
                "<vloga kraj=\"\u0160entjur\"><ime>\u010c\u0161\u017e \u0150\u0171 \u0105\u0119</ime><pismo>\u65e5</pismo></vloga>";
  form.CertFindOption = 1;
  form.CertSubject = subject;
  check("Sign of a windows-1250 document", form.Sign() === true, form.ErrorStr + " (" + form.ErrorNo + ") " + form.ErrorDesc);
  var formDoc = form.XmlDoc;
  check("its declaration kept", formDoc.indexOf("encoding=\"windows-1250\"") > 0, formDoc);
  check("its characters kept", formDoc.indexOf("kraj=\"\u0160entjur\"") > 0 &&
        formDoc.indexOf("<ime>\u010c\u0161\u017e \u0150\u0171 \u0105\u0119</ime>") > 0, formDoc);
  check("a character windows-1250 lacks as a reference", /<pismo>&#(26085|x65E5);<\/pismo>/.test(formDoc), formDoc);
  emit("windows-1250", formDoc);
} catch (e) {
  WScript.Echo("ERROR " + (e.number !== undefined ? "0x" + (e.number >>> 0).toString(16) + " " : "") + e.message);
  WScript.Quit(2);
}
WScript.Quit(failures === 0 ? 0 : 1);
