// Signs once with the certificate whose subject is the argument, and prints the outcome as
// "SIGNED" or "REFUSED ErrorNo ErrorStr", for tests/windows/module_run.sh to compare with what the
// stand-in browser library (QUILLBOX_TEST_PROTECTED_MODE) answered. Exits 2 when the script itself
// was stopped by an error.
try {
  var sig = new ActiveXObject("Quillbox.Signature");
  sig.XmlDoc = "<izjava>Strinjam se s pogoji.</izjava>";
  sig.CertFindOption = 1;
  sig.CertSubject = WScript.Arguments(0);
  if (sig.Sign()) {
    WScript.Echo(sig.XmlDoc.indexOf("<SignatureValue>") > 0 && sig.ErrorNo === 0 ? "SIGNED" : "SIGNED WRONGLY");
  } else {
    WScript.Echo("REFUSED " + sig.ErrorNo + " " + sig.ErrorStr + (sig.XmlDoc.indexOf("<Signature") >= 0 ? " BUT SIGNED" : ""));
  }
} catch (e) {
  WScript.Echo("ERROR " + e.message);
  WScript.Quit(2);
}
