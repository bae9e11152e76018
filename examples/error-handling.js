// The two kinds of failure a page had to tell apart: the component's own (a false result and the
// error properties, never an exception) and the script engine's (a misspelt member, which throws).
//   quillbox run examples/error-handling.js
var sig = new ActiveXObject("Quillbox.Signature");

sig.XmlDoc = "<ni-dokument";          // not well-formed
sig.CertFindOption = 1;
sig.CertSubject = "anyone";
if (!sig.Sign()) {
  WScript.Echo("Sign: " + sig.ErrorStr + " (" + sig.ErrorNo + ")");   // ERR_PARSING_XML (13)
}

sig.XmlDoc = "<a/>";
sig.CertFindOption = 7;               // no such option: no certificate, no dialog
if (!sig.Sign()) {
  WScript.Echo("Sign: " + sig.ErrorStr + " (" + sig.ErrorNo + ")");   // ERR_CERT_NOT_FOUND (31)
}

var result = sig.Transform("<not-a-stylesheet/>");
WScript.Echo("Transform: " + sig.ErrorStr + " (" + sig.ErrorNo + "), result '" + result + "'");

try {
  sig.Sgin();                         // a typo: the dispatch layer does not know the name
} catch (e) {
  WScript.Echo("Script error: " + e.message);                       // ... (0x80020006)
}
WScript.Echo("Version " + sig.Version);
