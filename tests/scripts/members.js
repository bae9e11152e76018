// Every member of the object through the dispatch interface, as a page's script reaches them:
// properties written and read back, a failing and a succeeding Sign, Transform, Finalize and a
// cancelled ShowCertsDlg. The one argument is the subject of a certificate in the user's store.
// Prints "all members 1" when every check held; a failed check throws, and the message names it.
// The Linux tests run it through the quillbox command, the Windows tests through Wine's cscript
// (where a stand-in selection dialog cancels, as the dialog without a display does on Linux).
function check(what, got, want) {
  if (got !== want) throw new Error(what + ": got " + got + ", want " + want);
}
var sig = new ActiveXObject("Quillbox.Signature");
check("Version", sig.Version, "1.0.1.0");
check("new XmlDoc", sig.XmlDoc, "");
check("ErrorNo", sig.ErrorNo, 0);
sig.Handle = 4294967295;
check("Handle", sig.Handle, 4294967295);
sig.CertFindOption = 7;
check("CertFindOption", sig.CertFindOption, 7);
sig.CertSerial = "00ab cd";
check("CertSerial", sig.CertSerial, "00AB CD");
sig.CertIssuerName = "CN=x";
check("CertIssuerName", sig.CertIssuerName, "CN=x");
sig.UserName = "Žiga";
check("UserName", sig.UserName, "Žiga");
sig.LocalTimeStamp = "a\u0000b";
check("LocalTimeStamp", sig.LocalTimeStamp, "a");
sig.XmlDoc = "<a/>";
check("Sign with option 7", sig.Sign(), false);
check("ErrorStr", sig.ErrorStr, "ERR_CERT_NOT_FOUND");
check("ErrorNo", sig.ErrorNo, 31);
check("ErrorDesc", sig.ErrorDesc, "");
sig.Finalize();
check("XmlDoc after Finalize", sig.XmlDoc, "");
check("Handle after Finalize", sig.Handle, 4294967295);

sig.XmlDoc = "<doc>text</doc>";
sig.CertFindOption = 1;
sig.CertSubject = WScript.Arguments(0);
sig.Advanced = true;
check("Advanced", sig.Advanced, true);
check("Sign", sig.Sign(), true);
check("signed", sig.XmlDoc.indexOf("<SignatureValue>") > 0, true);

var text = sig.Transform('<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">' +
                         '<xsl:output method="text"/><xsl:template match="/">[<xsl:value-of select="/doc/text()"/>]' +
                         '</xsl:template></xsl:stylesheet>');
// The result document is serialised as XML whatever the stylesheet's output method.
check("Transform", text.indexOf("[text]") >= 0, true);
// No dialog can be shown in a test (no display), or the user cancels it: nothing is chosen.
check("ShowCertsDlg", sig.ShowCertsDlg(), false);
check("ShowCertsDlg error", sig.ErrorNo, 40);
WScript.Echo("all members", WScript.Arguments.length);
  
