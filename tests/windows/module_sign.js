// Sign under Wine, after tests/windows/module_run.sh put a certificate with its private key into
// the prefix's "MY" store: the module finds it by subject, signs with xmlsec's CryptoAPI back end
// and the system's RSA provider, and the document comes back with an enveloped signature that
// names the certificate. The arguments are the certificate's subject, its issuer's text and its
// serial's text; it is found by each, as a page finds it. A signed document is written
// between marker lines for the caller to verify. Exits 0 when every check held, 1 when
// one failed, 2 when the script itself was stopped by an error.
var failures = 0;

function check(what, ok, detail) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what + (ok ? "" : ": " + detail));
  if (!ok) failures++;
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

  // A document of ASCII text, for the caller to verify with another implementation: the console
  // carries it unchanged.
  sig.XmlDoc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><doc><p>plain text</p></doc>";
  check("Sign of a second document", sig.Sign() === true, sig.ErrorStr + " (" + sig.ErrorNo + ") " + sig.ErrorDesc);
  WScript.Echo("-----BEGIN SIGNED-----");
  WScript.Echo(sig.XmlDoc);
  WScript.Echo("-----END SIGNED-----");
} catch (e) {
  WScript.Echo("ERROR " + (e.number !== undefined ? "0x" + (e.number >>> 0).toString(16) + " " : "") + e.message);
  WScript.Quit(2);
}
WScript.Quit(failures === 0 ? 0 : 1);
