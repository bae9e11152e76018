// The extension's background: one native host connection per page (per content-script port), the
// hello with the origin the browser gives for that page, the host's request numbers, and the
// protocol's parts in both directions. The page's requests pass through unchanged otherwise, except
// that a put asks a host that can for no echo of a value the component holds unchanged.
'use strict';

const api = globalThis.browser ?? globalThis.chrome;
const HOST_NAME = 'org.quillbox.host';
// The host answers in frames of at most 1 MiB and joins parts of any request; a request whose
// JSON text is longer than this travels in parts too, so neither side ever meets the browsers'
// own message bounds.
const MAX_FRAME = 1024 * 1024;
const PIECE = 512 * 1024;

// JSON text of `value` in ASCII only: JSON.stringify already writes U+0000 and unpaired
// surrogates as \uXXXX; every other unit above 0x7e is escaped here as well, so that a cut
// between two parts never falls inside a character.
function asciiJson(value) {
  return JSON.stringify(value).replace(/[\u007f-\uffff]/g,
    (unit) => '\\u' + unit.charCodeAt(0).toString(16).padStart(4, '0'));
}

// An upper bound of the length of `message`'s JSON text (every unit escaped), or Infinity when a
// member is not a plain scalar; a small request then goes to the host without being written out
// here first.
function lengthBound(message) {
  let bound = 2;
  for (const [name, value] of Object.entries(message)) {
    if (typeof value === 'string') bound += 6 * value.length;
    else if (typeof value !== 'number' && typeof value !== 'boolean') return Infinity;
    bound += 6 * name.length + 32;
  }
  return bound;
}

// The page's origin as the browser states it; nothing the page says about itself counts.
function originOf(sender) {
  if (sender && typeof sender.origin === 'string' && sender.origin !== 'null') return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch {
    return '';
  }
}

function lastErrorText(port) {
  const error = port.error ?? api.runtime.lastError;
  return error && error.message ? error.message : 'the host ended';
}

class PageBridge {
  constructor(pagePort) {
    this.page = pagePort;
    this.origin = originOf(pagePort.sender);
    this.host = null;
    // Names the host process; a page object belongs to one of them. Never reused, not even by a
    // background that the browser started again, so an old object number never reaches a new host.
    this.session = null;
    this.ready = false;   // the hello was answered
    this.protocol = 0;    // the host's protocol, from its hello
    this.helloError = null;
    this.nextId = 1;
    this.waiting = new Map();  // host request id -> page sequence number
    this.queued = [];          // requests made before the hello was answered
    this.pieces = new Map();   // host answer id -> pieces received so far
    pagePort.onMessage.addListener((message) => this.fromPage(message));
    pagePort.onDisconnect.addListener(() => this.close());
  }

  close() {
    this.closed = true;
    if (this.host) this.host.disconnect();
    this.host = null;
  }

  reply(message) {
    if (!this.closed) this.page.postMessage(message);
  }

  start() {
    this.session = crypto.randomUUID();
    this.ready = false;
    this.helloError = null;
    this.nextId = 1;
    this.pieces.clear();
    const host = api.runtime.connectNative(HOST_NAME);
    this.host = host;
    host.onMessage.addListener((message) => {
      if (this.host === host) this.fromHost(message);
    });
    host.onDisconnect.addListener(() => {
      if (this.host === host) this.hostEnded(lastErrorText(host));
    });
    host.postMessage({id: 0, op: 'hello', origin: this.origin});
  }

  fromPage(message) {
    const {seq, session, request} = message ?? {};
    if (typeof seq !== 'number' || typeof request !== 'object' || request === null) return;
    // A request for an object of a host that has ended goes back unsent: the new host knows no
    // such object (and may have another under the same number).
    if (session !== undefined && (this.host === null || session !== this.session)) {
      this.reply({seq, stale: true});
      return;
    }
    if (this.host === null) this.start();
    const id = this.nextId++;
    this.waiting.set(id, seq);
    if (this.ready) this.send(id, request);
    else this.queued.push([id, request]);
  }

  send(id, request) {
    const message = {...request, id};
    // The page's copy takes the value it put when the host says the component holds it unchanged,
    // so a document is not carried back.
    if (this.protocol >= 2 && request.op === 'put') message.echo = false;
    if (lengthBound(message) <= MAX_FRAME) {
      this.host.postMessage(message);
      return;
    }
    const text = asciiJson(message);
    if (text.length <= MAX_FRAME) {
      this.host.postMessage(message);
      return;
    }
    for (let at = 0; at < text.length; at += PIECE) {
      this.host.postMessage({id, part: text.slice(at, at + PIECE), more: at + PIECE < text.length});
    }
  }

  fromHost(message) {
    if (message && typeof message.part === 'string') {
      const pieces = this.pieces.get(message.id) ?? [];
      pieces.push(message.part);
      if (message.more) {
        this.pieces.set(message.id, pieces);
        return;
      }
      this.pieces.delete(message.id);
      this.answered(JSON.parse(pieces.join('')));
      return;
    }
    this.answered(message);
  }

  answered(answer) {
    if (answer.id === 0 && !this.ready) {
      this.ready = true;
      this.protocol = answer.ok && typeof answer.protocol === 'number' ? answer.protocol : 0;
      if (!answer.ok) {
        // The host refuses the origin and ends; every request made meanwhile fails the same way.
        this.helloError = answer.error;
        for (const [id] of this.queued) this.fail(id, answer.error.code, answer.error.message);
        this.queued = [];
        return;
      }
      for (const [id, request] of this.queued) this.send(id, request);
      this.queued = [];
      return;
    }
    const seq = this.waiting.get(answer.id);
    if (seq === undefined) return;
    this.waiting.delete(answer.id);
    this.reply({seq, session: this.session, answer});
  }

  fail(id, code, message) {
    const seq = this.waiting.get(id);
    if (seq === undefined) return;
    this.waiting.delete(id);
    this.reply({seq, session: this.session, error: {code, message}});
  }

  hostEnded(why) {
    const started = this.ready && this.helloError === null;
    const code = started ? 'QB_HOST_CRASHED' : this.helloError ? this.helloError.code : 'QB_HOST_MISSING';
    const message = started
      ? `The Quillbox native host ended during the call (${why}); the next call starts a new one.`
      : this.helloError
        ? this.helloError.message
        : `The Quillbox native host ${HOST_NAME} cannot be started (${why}). ` +
          'Install it for this browser with `quillbox browser install`.';
    this.host = null;
    this.ready = false;
    this.queued = [];
    this.pieces.clear();
    for (const id of [...this.waiting.keys()]) this.fail(id, code, message);
  }
}

api.runtime.onConnect.addListener((port) => {
  if (port.name === 'quillbox') new PageBridge(port);
});
