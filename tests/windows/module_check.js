// The registered module as a page's script meets it, run by cscript under Wine after
// regsvr32 (tests/windows/module_run.sh): the object is created by its ProgID through the
// registry, its properties answer through the dual interface, and the XML libraries linked into
// the module parse and transform. Exits 0 when every check held, 1 when one failed, 2 when the
// script itself was stopped by an error (cscript would exit 0 on an uncaught one).
var failures = 0;

function check(what, actual, expected) {
  if (actual === expected) {
    WScript.Echo("ok   " + what);
  } else {
    WScript.Echo("FAIL " + what + ": got '" + actual + "', expected '" + expected + "'");
    failures++;
  }
}

try {
  var sig = new ActiveXObject("Quillbox.Signature");
  check("Version", sig.Version, "1.0.1.0");
  check("ErrorNo of a new object", sig.ErrorNo, 0);

  var doc = "<doc><p lang=\"sl\">\u017eaba \u010drn \u0161um</p></doc>";
  sig.XmlDoc = doc;
  check("XmlDoc reads back as written", sig.XmlDoc, doc);
  check("ErrorNo after setting XmlDoc", sig.ErrorNo, 0);

  // A document that does not parse: the module's libxml2 reports it, and Sign says so by its
  // result and the error properties rather than by an exception.
  sig.XmlDoc = "<ni-dokument";
  sig.CertFindOption = 1;
  sig.CertSubject = "anyone";
  check("Sign of a malformed document", sig.Sign(), false);
  check("ErrorNo of a malformed document", sig.ErrorNo, 13);

  // libxslt inside the module.
  sig.XmlDoc = "<a><b>one</b><b>two</b></a>";
  var xsl = "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">" +
            "<xsl:output method=\"text\"/>" +
            "<xsl:template match=\"/\"><xsl:for-each select=\"a/b\"><xsl:value-of select=\".\"/>;</xsl:for-each></xsl:template>" +
            "</xsl:stylesheet>";
  check("Transform", sig.Transform(xsl), "one;two;");
  check("ErrorNo after Transform", sig.ErrorNo, 0);

  // A misspelt member is the script engine's error: the type information does not know it.
  var threw = false;
  try {
    sig.Sgin();
  } catch (e) {
    threw = true;
  }
  check("an unknown member throws", threw, true);
} catch (e) {
  WScript.Echo("ERROR " + (e.number !== undefined ? "0x" + (e.number >>> 0).toString(16) + " " : "") + e.message);
  WScript.Quit(2);
}
WScript.Quit(failures === 0 ? 0 : 1);
