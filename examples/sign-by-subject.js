// Signs a form with the first certificate whose subject contains the text given as the first
// argument, the way a page's "Sign" button did:
//   quillbox run examples/sign-by-subject.js "Demo Signer"
var subject = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "Demo Signer";

var xml = '<?xml version="1.0" encoding="UTF-8"?>' +
          '<narocilo><izdelek>Čokolada</izdelek><kolicina>12</kolicina></narocilo>';

var sig = new ActiveXObject("Quillbox.Signature");
sig.XmlDoc = xml;
sig.CertFindOption = 1;          // by subject
sig.CertSubject = subject;
sig.Advanced = true;             // -1: add user name and time stamp
sig.UserName = "Ana Novak";
sig.LocalTimeStamp = new Date().toString();

if (sig.Sign()) {
  WScript.Echo(sig.XmlDoc);
} else {
  WScript.StdErr.WriteLine("Signing failed: " + sig.ErrorStr + " (" + sig.ErrorNo + ") " + sig.ErrorDesc);
  WScript.Quit(1);
}
