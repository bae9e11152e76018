// The scholarship form signed through window.Quillbox, the object the Quillbox extension gives
// every http(s) page. Plain script, no libraries: the page is also a reference for integrators.
"use strict";

const $ = (id) => document.getElementById(id);

// What the page tells the user for each way the extension's promise can fail.
const REJECTIONS = {
  QB_HOST_MISSING:
    "Razširitev je nameščena, program Quillbox za brskalnik pa ne. Namestite ga z ukazom " +
    "»quillbox browser install« in stran naložite znova.",
  QB_NOT_SECURE:
    "Stran ni v varnem kontekstu (https:// ali http://127.0.0.1). Odprite jo z ukazom »quillbox browser demo«.",
  QB_HOST_CRASHED: "Program Quillbox za brskalnik se je nepričakovano končal. Poskusite znova.",
};

function xmlText(text) {
  return String(text).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
}

// ISO 8601 local time with its offset from UTC, as the signature's local time stamp: the
// component reads no clock, the page supplies the time.
function localTimeStamp(date = new Date()) {
  const pad = (n) => String(n).padStart(2, "0");
  const offset = -date.getTimezoneOffset();
  const sign = offset >= 0 ? "+" : "-";
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}T` +
    `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}` +
    `${sign}${pad(Math.floor(Math.abs(offset) / 60))}:${pad(Math.abs(offset) % 60)}`;
}

// The form as the XML document that is signed.
function formXml() {
  const field = (name) => xmlText($("form").elements[name].value.trim());
  return '<?xml version="1.0" encoding="UTF-8"?>\n' +
    '<vloga xmlns="urn:quillbox:demo:vloga:1">\n' +
    "  <vlagatelj>\n" +
    `    <ime>${field("ime")}</ime>\n` +
    `    <naslov>${field("naslov")}</naslov>\n` +
    `    <emso>${field("emso")}</emso>\n` +
    "  </vlagatelj>\n" +
    "  <zahtevek vrsta=\"štipendija\">\n" +
    `    <znesek>${field("znesek")}</znesek>\n` +
    `    <opombe>${field("opombe")}</opombe>\n` +
    "  </zahtevek>\n" +
    `  <izpolnjeno>${xmlText(localTimeStamp())}</izpolnjeno>\n` +
    "</vloga>";
}

// CertFindOption: how Sign finds its certificate.
const FIND_BY_ISSUER_SERIAL = 0;
const FIND_BY_SUBJECT = 1;

let signedXml = "";

function showError(text, signature) {
  $("error").hidden = false;
  $("error-text").textContent = text;
  const list = $("error-props");
  list.replaceChildren();
  if (!signature) return;
  for (const name of ["ErrorNo", "ErrorStr", "ErrorDesc"]) {
    const term = document.createElement("dt");
    term.textContent = name;
    const value = document.createElement("dd");
    value.textContent = String(signature[name] ?? "(null)");
    list.append(term, value);
  }
}

function clearError() {
  $("error").hidden = true;
}

function showRejection(error) {
  const code = error && error.code;
  const advice = REJECTIONS[code] || "Klic ni uspel.";
  showError(`${advice}${code ? ` (${code})` : ""}${error && error.message ? `: ${error.message}` : ""}`);
}

function showSigned(xml) {
  signedXml = xml;
  $("signed").textContent = xml;
  $("verify").disabled = false;
  $("tamper").disabled = false;
  $("verdict").textContent = "";
  $("verdict-text").textContent = "";
}

// Finalize empties the object's strings; what the page needed of them it has read already.
async function release(signature) {
  try {
    await signature.Finalize();
  } catch {
    // The object is gone with its connection; nothing is left to empty.
  }
}

// Runs one way of signing: `prepare` sets the object's properties (and may show the picker),
// then the document is signed. The object is finalized whatever happens.
async function sign(prepare) {
  clearError();
  const xml = formXml();
  $("unsigned").textContent = xml;
  if (!window.Quillbox) {
    showError("Razširitev Quillbox ni nameščena ali na tej strani ni dejavna. Namestite jo z ukazom " +
      "»quillbox browser install« in stran naložite znova.");
    return;
  }
  let signature;
  try {
    signature = await window.Quillbox.createSignature();
    signature.XmlDoc = xml;
    if ((await prepare(signature)) === false) return;
    if (await signature.SignAsync()) {
      showSigned(signature.XmlDoc);
    } else {
      showError("Podpis ni uspel.", signature);
    }
  } catch (error) {
    showRejection(error);
  } finally {
    if (signature) await release(signature);
  }
}

function bySubject(subject) {
  return (signature) => {
    if (!subject) {
      showError("Vpišite del imena imetnika potrdila (CertSubject).");
      return false;
    }
    signature.CertSubject = subject;
    signature.CertFindOption = FIND_BY_SUBJECT;
    return true;
  };
}

async function byPicker(signature) {
  if (!(await signature.ShowCertsDlgAsync())) {
    showError("Potrdilo ni bilo izbrano.", signature);
    return false;
  }
  // The picker names the chosen certificate by issuer and serial; Sign then looks for exactly those.
  const subject = signature.CertSubject ? `${signature.CertSubject}, ` : "";
  $("picked").textContent = `Izbrano: ${subject}izdajatelj ${signature.CertIssuerName}, serijska št. ${signature.CertSerial}`;
  signature.CertFindOption = FIND_BY_ISSUER_SERIAL;
  return true;
}

function withProperties(signature) {
  if (!bySubject($("subject-advanced").value.trim())(signature)) return false;
  signature.UserName = $("user-name").value;
  signature.LocalTimeStamp = $("timestamp").value.trim() || localTimeStamp();
  // VARIANT_TRUE: only -1 adds the signature properties, 1 would not.
  signature.Advanced = -1;
  return true;
}

// The page cannot check a signature itself: the demo server runs quillbox verify on it.
async function verify(xml) {
  $("verdict").textContent = "Preverjam …";
  $("verdict").className = "verdict";
  try {
    const response = await fetch("/verify", {
      method: "POST",
      headers: { "Content-Type": "application/xml; charset=utf-8" },
      body: xml,
    });
    if (!response.ok) throw new Error(`${response.status} ${await response.text()}`);
    const answer = await response.json();
    $("verdict").textContent = answer.ok ? "Podpis je veljaven." : "Podpis NI veljaven.";
    $("verdict").className = answer.ok ? "verdict ok" : "verdict bad";
    $("verdict-text").textContent = answer.message;
  } catch (error) {
    $("verdict").textContent = `Preverjanje ni uspelo: ${error.message}`;
    $("verdict").className = "verdict bad";
  }
}

// The same document with its amount changed after signing: its signature must no longer hold.
function tampered(xml) {
  return xml.replace(/<znesek>([^<]*)<\/znesek>/, (_, amount) => `<znesek>${amount}9</znesek>`);
}

async function transform() {
  clearError();
  if (!window.Quillbox) {
    showError("Razširitev Quillbox ni nameščena. Namestite jo z ukazom »quillbox browser install«.");
    return;
  }
  let signature;
  try {
    const xsl = await (await fetch("form.xsl")).text();
    signature = await window.Quillbox.createSignature();
    signature.XmlDoc = signedXml || formXml();
    const html = await signature.TransformAsync(xsl);
    if (!html) {
      showError("Preoblikovanje ni uspelo.", signature);
      return;
    }
    // A sandbox without permissions: the rendered document runs no script and reaches nothing.
    $("preview").srcdoc = html;
  } catch (error) {
    showRejection(error);
  } finally {
    if (signature) await release(signature);
  }
}

function showPresence() {
  const status = $("status");
  if (window.Quillbox) {
    status.textContent = `Razširitev Quillbox ${window.Quillbox.version} je pripravljena.`;
    status.className = "status ok";
  } else {
    status.textContent = "Razširitve Quillbox ni. Namestite jo z ukazom »quillbox browser install« in stran naložite znova.";
    status.className = "status bad";
  }
}

document.addEventListener("DOMContentLoaded", () => {
  $("unsigned").textContent = formXml();
  $("form").addEventListener("input", () => { $("unsigned").textContent = formXml(); });
  $("sign-subject").addEventListener("click", () => sign(bySubject($("subject").value.trim())));
  $("sign-picker").addEventListener("click", () => sign(byPicker));
  $("sign-advanced").addEventListener("click", () => sign(withProperties));
  $("verify").addEventListener("click", () => verify(signedXml));
  $("tamper").addEventListener("click", () => verify(tampered(signedXml)));
  $("transform").addEventListener("click", transform);
  showPresence();
});
