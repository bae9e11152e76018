// Shows a document the way a page previewed it before signing: Transform with a stylesheet.
// The document and stylesheet come in on standard input, separated by a line "----":
//   (cat doc.xml; echo ----; cat style.xsl) | quillbox run examples/transform.js
var input = WScript.StdIn.ReadAll();
var cut = input.indexOf("\n----\n");
if (cut < 0) {
  WScript.StdErr.WriteLine("expected the document, a line ----, and the stylesheet");
  WScript.Quit(2);
}
var sig = new ActiveXObject("Quillbox.Signature");
sig.XmlDoc = input.substring(0, cut);
var html = sig.Transform(input.substring(cut + 6));
if (sig.ErrorNo != 0) {
  WScript.StdErr.WriteLine(sig.ErrorStr + " (" + sig.ErrorNo + ")");
  WScript.Quit(1);
}
WScript.StdOut.Write(html);
