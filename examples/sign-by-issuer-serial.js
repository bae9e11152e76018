// Signs with the certificate that an earlier visit recorded by issuer and serial number, as a page
// kept them in a cookie after ShowCertsDlg. Take both from "quillbox certs list":
//   quillbox run examples/sign-by-issuer-serial.js "CN=Demo Signer, O=Quillbox Demo" 00A1B2C3D4E5F607
if (WScript.Arguments.length != 2) {
  WScript.Echo("usage: sign-by-issuer-serial.js ISSUER SERIAL");
  WScript.Quit(2);
}
var sig = new ActiveXObject("Quillbox.Signature");
sig.XmlDoc = "<potrdilo><stevilka>2008/117</stevilka></potrdilo>";
sig.CertFindOption = 0;                   // by issuer and serial (the default)
sig.CertIssuerName = WScript.Arguments(0);
sig.CertSerial = WScript.Arguments(1);    // any case: the object keeps it upper-cased

if (!sig.Sign()) {
  WScript.Echo("Napaka " + sig.ErrorNo + ": " + sig.ErrorStr);
  WScript.Quit(1);
}
WScript.Echo(sig.XmlDoc);
