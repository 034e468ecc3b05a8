// The start of the vexa utility's page: the site made ready (site.js), then MIDI access, asked on a click
// where the browser was not allowed it before, and the program started (vexa.js, WebAssembly on Workers),
// or a notice that says why it cannot start. page.js draws the program once it runs.
'use strict';

(() => {
  const params = new URLSearchParams(location.search);
  const $ = (id) => document.getElementById(id);

  function notice(title, html, offer_sim = true, offer_connect = false) {
    $('loading').hidden = true;
    $('notice-title').textContent = title;
    $('notice-text').innerHTML = html;
    $('use-sim').hidden = !offer_sim;
    $('connect-midi').hidden = !offer_connect;
    $('notice').hidden = false;
  }

  const BROWSERS = '<p>The utility talks to the vexa through Web MIDI. It works in Chrome and Edge ' +
    '(version 79 or later) and in Firefox (version 108 or later, which offers a site permission add-on ' +
    'when it is first asked). Safari has no Web MIDI.</p>';

  function start_program(mode) {
    $('notice').hidden = true;
    $('loading').hidden = false;
    Module['arguments'] = [mode];
    Module['vexaMode'] = mode;
    // A program that cannot start (its memory refused, a file missing) says so instead of the start's text.
    Module['onAbort'] = (what) => notice('The utility stopped', '<p>The program could not go on (' +
                                         escape_html(what) + '). Reloading the page starts it again.</p>', false);
    const script = document.createElement('script');
    script.src = vexaSite.file('vexa.js');
    script.onerror = () => notice('The utility could not be loaded', '<p>The program (' + escape_html(script.src) +
                                  ') did not come from the host: the network may be down, or a new version ' +
                                  'of the site replaced it meanwhile. Reloading the page tries again.</p>', false);
    document.body.append(script);
  }

  async function start() {
    const {outcome, reason} = await vexaSite.prepare();
    if (outcome === 'reloading') return;
    if (outcome === 'not-isolated') {
      return notice('The page could not start',
                    '<p>This page needs cross-origin isolation for its threads, and did not get it (' +
                    escape_html(reason) + '). Serve it with the headers ' +
                    '<code>Cross-Origin-Opener-Policy: same-origin</code> and ' +
                    '<code>Cross-Origin-Embedder-Policy: require-corp</code>, or over https so that its ' +
                    'service worker can add them. Where it is served that way, reloading the page tries ' +
                    'again.</p>', false);
    }
    if (outcome === 'not-kept') {
      return notice('The page could not start',
                    '<p>On its first visit to a host that does not send the headers for cross-origin ' +
                    'isolation, the page keeps the whole site in the browser first, and that did not ' +
                    'finish (' + escape_html(reason) + '). The network may be down, or the site on the ' +
                    'host was being replaced. Reloading the page tries again.</p>', false);
    }
    // The program's threads share their memory: without a SharedArrayBuffer it cannot start at all, with
    // the simulated unit or without.
    if (typeof SharedArrayBuffer === 'undefined') {
      return notice('This browser cannot run the utility',
                    '<p>The utility runs on threads that share their memory, and this browser gives the ' +
                    'page no <code>SharedArrayBuffer</code>, although the page is isolated for it.</p>' +
                    BROWSERS, false);
    }
    if (params.get('midi') === 'sim') return start_program('sim');
    if (!navigator.requestMIDIAccess) {
      return notice('This browser has no Web MIDI', BROWSERS +
                    '<p>You can still try every part of the utility with a simulated unit.</p>');
    }
    // The browser asks the person only when the page asks for MIDI: a page that was allowed before starts
    // at once, one that was refused shows why; otherwise the page first says why it asks.
    const permission = await midi_permission();
    if (permission === 'granted' || permission === 'denied') return connect_midi();
    explain_midi();
  }

  // 'granted', 'denied' or 'prompt' as the browser tells; 'unknown' where it cannot.
  async function midi_permission() {
    try {
      return (await navigator.permissions.query({name: 'midi', sysex: true})).state;
    } catch (error) {
      return 'unknown';
    }
  }

  function explain_midi() {
    const firefox = /\bFirefox\//.test(navigator.userAgent);
    notice('Connect to the vexa',
           '<p>The utility talks to the vexa with System Exclusive MIDI messages: they read and change its ' +
           'settings and carry the firmware update. When you press the button, your browser asks whether ' +
           'this page may use your MIDI devices with these messages.' +
           (firefox ? ' Plug in the vexa before you allow it: Firefox offers its permission add-on only ' +
                      'while a MIDI device is connected, and may not see a device plugged in later.' : '') +
           '</p>', true, true);
  }

  async function connect_midi() {
    $('notice').hidden = true;
    $('loading').hidden = false;
    try {
      window.Module['vexaMidiAccess'] = await navigator.requestMIDIAccess({sysex: true});
    } catch (error) {
      if (error.name === 'NotAllowedError' || error.name === 'SecurityError') {
        return notice('Access to MIDI devices was refused',
                      '<p>The utility needs to send System Exclusive messages to the vexa. To allow ' +
                      'it, click the icon at the left of the address bar, set "MIDI devices" (or ' +
                      '"Control and reprogram your MIDI devices") to Allow, and reload the page.</p>' +
                      BROWSERS);
      }
      return notice('MIDI could not be started',
                    '<p>The browser could not open its MIDI service (' + escape_html(error.name) +
                    ': ' + escape_html(error.message) + '). Check that the vexa is plugged in and ' +
                    'that no other program holds it, then reload the page.</p>' + BROWSERS);
    }
    start_program('webmidi');
  }

  function escape_html(text) {
    const div = document.createElement('div');
    div.textContent = String(text);
    return div.innerHTML;
  }

  $('use-sim').addEventListener('click', () => {
    history.replaceState(null, '', '?midi=sim');
    start_program('sim');
  });
  $('connect-midi').addEventListener('click', connect_midi);
  start().catch((error) => notice('The page could not start', '<p>' + escape_html(error) + '. Reloading the page ' +
                                  'tries again.</p>', false));
})();
