// The site around the program: its files' names, its service worker (sw.js), which keeps the site for use
// without a network and makes the page cross-origin isolated where the host cannot send the headers, and
// the version the page runs. page.js asks it whether the program may start (vexaSite.prepare).
//
// A new version of the site is fetched by the browser in the background and waits. It is taken when the
// page starts next, before the program runs, and only if no other page of the site is open: so never while
// the program runs, nor while it writes firmware.
'use strict';

window.vexaSite = (() => {
  // Marks the address of the one reload that should make the page isolated. Not sessionStorage: a page
  // that turns isolated moves to a new browsing context group, which may hold another copy of it, and a
  // flag left there by an earlier load would then stop a reload that bypassed the service worker
  // (Shift+Reload) from ever reaching it.
  const ISOLATING = 'vexa-isolating';
  // How long a waiting version may take to answer and take over before the page starts as it is.
  const TAKE_OVER_MS = 5000;
  // How long the service worker's registration waits for the program to start.
  const START_MS = 3000;
  const $ = (id) => document.getElementById(id);

  // Plain name -> name with the content hash (site.cmake), for the files the scripts load.
  const files = new Map();
  const meta = document.querySelector('meta[name="vexa-files"]');
  for (const pair of meta ? meta.content.split(/\s+/) : []) {
    const [name, hashed] = pair.split('=');
    if (hashed) files.set(name, hashed);
  }
  const file = (name) => files.get(name) || name;

  async function register() {
    if (!('serviceWorker' in navigator) || !window.isSecureContext) return null;
    try {
      return await navigator.serviceWorker.register('sw.js');
    } catch (error) {
      return null;
    }
  }

  // Asks a worker of the site a question (sw.js answers 'take-over' and 'version').
  function ask(worker, question) {
    return new Promise((resolve) => {
      const channel = new MessageChannel();
      const timer = setTimeout(() => resolve(null), TAKE_OVER_MS);
      channel.port1.onmessage = (event) => {
        clearTimeout(timer);
        resolve(event.data);
      };
      worker.postMessage(question, [channel.port2]);
    });
  }

  // The waiting version takes over when this is the site's only open page; true once it controls the page.
  async function take_over(registration) {
    const changed = new Promise((resolve) => {
      navigator.serviceWorker.addEventListener('controllerchange', () => resolve(true), {once: true});
      setTimeout(() => resolve(false), TAKE_OVER_MS);
    });
    const answer = await ask(registration.waiting, 'take-over');
    return Boolean(answer && answer.taking) && changed;
  }

  function reload() {
    location.reload();
    return 'reloading';
  }

  // True once the site's service worker is active, false when it could not be installed.
  function installed(registration) {
    const worker = registration.installing || registration.waiting;
    return new Promise((resolve) => {
      navigator.serviceWorker.ready.then(() => resolve(true));
      worker?.addEventListener('statechange', () => worker.state === 'redundant' && resolve(false));
    });
  }

  // Runs `then` once the program has drawn its dialog, or after START_MS where it does not (a notice): a
  // first visit's service worker fetches and stores the whole site, which would slow the start down.
  function after_start(then) {
    let done = false;
    const once = () => {
      if (!done) then();
      done = true;
    };
    document.addEventListener('vexa-state', once, {once: true});
    setTimeout(once, START_MS);
  }

  // 'start' when the program can run, 'reloading' when the page reloads first, 'failed' when the page
  // cannot be isolated. A page that the service worker did not serve starts without waiting for it.
  async function prepare() {
    const address = new URL(location.href);
    const retried = address.searchParams.has(ISOLATING);
    if (retried) {
      address.searchParams.delete(ISOLATING);
      history.replaceState(history.state, '', address);
    }
    const served = Boolean(navigator.serviceWorker && navigator.serviceWorker.controller);
    if (served) {
      const registration = await navigator.serviceWorker.getRegistration();
      if (registration && registration.waiting && (await take_over(registration))) return reload();
    }
    if (window.crossOriginIsolated) {
      after_start(() => register().then((registration) => registration && watch(registration)));
      return 'start';
    }
    // The service worker isolates the pages it serves. This one it did not serve (the first visit, or a
    // reload that bypassed it): one reload is enough.
    const registration = served || retried ? null : await register();
    if (!registration || !(await installed(registration))) return 'failed';
    address.searchParams.set(ISOLATING, '');
    location.replace(address);
    return 'reloading';
  }

  // Says below the page whether the site is kept for offline use and whether a new version waits.
  function watch(registration) {
    const state = $('site-state');
    const show = async () => {
      const waiting = registration.waiting;
      if (waiting && registration.active) {
        const answer = await ask(waiting, 'version');
        const version = answer && answer.version ? 'Version ' + answer.version : 'A new version';
        state.textContent = '· ' + version + ' is ready: it starts the next time this page is opened.';
      } else if (registration.active) {
        state.textContent = '· Kept for use offline.';
      }
    };
    registration.addEventListener('updatefound', () => {
      const installing = registration.installing;
      installing.addEventListener('statechange', () => installing.state === 'installed' && show());
    });
    navigator.serviceWorker.ready.then(show);
  }

  return {file, prepare};
})();
