// The page's side of the extension, in the isolated world: it takes the private port that the
// page-world script hands over once at document start and carries its requests to the background
// and the answers back. Other page scripts never hold that port, so they can neither send through
// it nor fake an answer on it.
'use strict';

(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  let pagePort = null;
  let background = null;
  const inFlight = new Set();  // page sequence numbers sent to the background and not answered

  function answerPage(message) {
    pagePort.postMessage(message);
  }

  function connect() {
    background = api.runtime.connect({name: 'quillbox'});
    background.onMessage.addListener((message) => {
      inFlight.delete(message.seq);
      answerPage(message);
    });
    background.onDisconnect.addListener(() => {
      // The background went away (the browser stopped it, or the extension was reloaded): its
      // host went with it.
      background = null;
      for (const seq of inFlight) {
        answerPage({seq, error: {code: 'QB_HOST_CRASHED', message: 'The Quillbox extension lost its native host.'}});
      }
      inFlight.clear();
    });
  }

  function fromPage(event) {
    const message = event.data;
    if (!message || typeof message.seq !== 'number') return;
    // The page's own word on its security is not taken: this world's view of it is the browser's.
    if (!window.isSecureContext) {
      answerPage({seq: message.seq, error: {code: 'QB_NOT_SECURE',
        message: 'Quillbox signs only for pages of a secure context (https, or http on this computer).'}});
      return;
    }
    if (background === null) connect();
    inFlight.add(message.seq);
    background.postMessage({seq: message.seq, session: message.session, request: message.request});
  }

  function onInit(event) {
    const data = event.data;
    if (pagePort !== null || event.source !== window || !data || data.quillboxBridge !== 'port' ||
        event.ports.length !== 1) {
      return;
    }
    window.removeEventListener('message', onInit, true);
    pagePort = event.ports[0];
    pagePort.onmessage = fromPage;
  }
  window.addEventListener('message', onInit, true);
})();
