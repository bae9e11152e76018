// Lets the user choose a certificate first, remembers the choice, then signs with it without
// another dialog: what a page did with ShowCertsDlg and a later Sign.
//   quillbox run examples/pick-then-sign.js
var sig = new ActiveXObject("Quillbox.Signature");
if (!sig.ShowCertsDlg()) {
  WScript.Echo("No certificate chosen (" + sig.ErrorStr + ")");
  WScript.Quit(1);
}
WScript.Echo("Chosen: " + sig.CertIssuerName + " / " + sig.CertSerial);

sig.XmlDoc = "<izjava>Strinjam se s pogoji.</izjava>";
// CertFindOption stays 0, so Sign looks the chosen certificate up by issuer and serial.
if (sig.Sign()) {
  WScript.Echo(sig.XmlDoc);
} else {
  WScript.Echo("Signing failed: " + sig.ErrorStr);
  WScript.Quit(1);
}
