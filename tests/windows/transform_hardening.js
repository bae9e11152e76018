// Transform under Wine meets what a hostile page could hand it: entities, document(), includes and
// extension elements that would read the files beside it (tests/windows/module_run.sh puts a
// secret there), an element that would write one, and entities that expand a billion times. Each
// is refused with the error a page sees on Linux and an empty result; a transform after them
// works. Exits 0 when every check held, 1 when one failed, 2 when the script itself was stopped.
var failures = 0;

function check(what, ok, detail) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what + (ok ? "" : ": " + detail));
  if (!ok) failures++;
}

function stylesheet(body) {
  return '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform" ' +
         'xmlns:exsl="http://exslt.org/common" extension-element-prefixes="exsl">' + body + '</xsl:stylesheet>';
}

try {
  var copyAll = stylesheet('<xsl:template match="/"><xsl:copy-of select="."/></xsl:template>');
  var here = "file:///C:/quillbox/";
  var sig = new ActiveXObject("Quillbox.Signature");

  function refused(what, document, xsl, errorNo) {
    sig.XmlDoc = document;
    var result = sig.Transform(xsl);
    check(what, sig.ErrorNo === errorNo && result === "",
          "ErrorNo " + sig.ErrorNo + " " + sig.ErrorStr + " (expected " + errorNo + "), result '" + result + "'");
  }

  var entities = ['"' + here + 'secret.txt"', '"C:\\quillbox\\secret.txt"'];
  for (var i = 0; i < entities.length; i++) {
    refused("an external entity of " + entities[i], "<!DOCTYPE a [<!ENTITY x SYSTEM " + entities[i] + ">]><a>&x;</a>", copyAll, 13);
  }
  refused("an external DTD", '<!DOCTYPE a SYSTEM "' + here + 'secret.dtd"><a>&secret;</a>', copyAll, 13);
  var targets = [here + "secret.txt", "C:/quillbox/secret.txt", here + "evil.xsl", "secret.txt"];
  for (var j = 0; j < targets.length; j++) {
    refused("document('" + targets[j] + "')", "<a/>",
            stylesheet("<xsl:template match=\"/\"><r><xsl:copy-of select=\"document('" + targets[j] + "')\"/></r></xsl:template>"), 39);
  }
  refused("xsl:include of a file", "<a/>", stylesheet('<xsl:include href="' + here + 'evil.xsl"/>'), 38);
  refused("xsl:import of a file", "<a/>", stylesheet('<xsl:import href="' + here + 'evil.xsl"/>'), 38);
  refused("exsl:document writing a file", "<a/>",
          stylesheet('<xsl:template match="/"><exsl:document href="C:/quillbox/written.xml"><w/></exsl:document><r/></xsl:template>'), 39);

  var laughs = '<!DOCTYPE a [<!ENTITY l0 "ha">';
  for (var k = 1; k <= 12; k++) {
    var ten = "";
    for (var n = 0; n < 10; n++) ten += "&l" + (k - 1) + ";";
    laughs += '<!ENTITY l' + k + ' "' + ten + '">';
  }
  refused("entities that expand a billion times", laughs + "]><a>&l12;</a>", copyAll, 13);

  sig.XmlDoc = "<a>ok</a>";
  var next = sig.Transform(stylesheet('<xsl:template match="/"><r><xsl:copy-of select="."/></r></xsl:template>'));
  check("a transform after the refusals", sig.ErrorNo === 0 && next.indexOf("<r><a>ok</a></r>") >= 0,
        "ErrorNo " + sig.ErrorNo + ", result '" + next + "'");
} catch (e) {
  WScript.Echo("ERROR " + (e.number !== undefined ? "0x" + (e.number >>> 0).toString(16) + " " : "") + e.message);
  WScript.Quit(2);
}
WScript.Quit(failures === 0 ? 0 : 1);
