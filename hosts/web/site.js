// The site around the program: its files' names, its service worker (sw.js), which keeps the site for use
// without a network and makes the page cross-origin isolated where the host cannot send the headers, and
// the version the page runs. start.js asks it whether the program may start (vexaSite.prepare).
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
  // How long a page waits for the reason of a failed install after the worker's state says so.
  const REASON_MS = 1000;
  const $ = (id) => document.getElementById(id);

  // Plain name -> name with the content hash (site.cmake), for the files the scripts load.
  const files = new Map();
  const meta = document.querySelector('meta[name="vexa-files"]');
  for (const pair of meta ? meta.content.split(/\s+/) : []) {
    const [name, hashed] = pair.split('=');
    if (hashed) files.set(name, hashed);
  }
  const file = (name) => files.get(name) || name;

  // The site's own worker serves this page: not one of a site in a folder around it. Where site storage is
  // blocked, Firefox throws on navigator.serviceWorker: no worker serves the page then.
  const own_worker = new URL('sw.js', location.href).href;
  function served() {
    try {
      return navigator.serviceWorker?.controller?.scriptURL === own_worker;
    } catch (error) {
      return false;
    }
  }

  // The site's worker registered, or the reason why not (a text).
  async function register() {
    if (!('serviceWorker' in navigator) || !window.isSecureContext) return 'this browser has no service worker here';
    try {
      return await navigator.serviceWorker.register('sw.js');
    } catch (error) {
      return error.message;
    }
  }

  // Asks a worker of the site a question (sw.js answers 'take-over' and 'version'). Resolves to the answer
  // and the channel's port, or to null when none came in time: a later answer is not heard.
  function ask(worker, question) {
    return new Promise((resolve) => {
      const {port1, port2} = new MessageChannel();
      const timer = setTimeout(() => {
        port1.close();
        resolve(null);
      }, TAKE_OVER_MS);
      port1.onmessage = (event) => {
        clearTimeout(timer);
        resolve({answer: event.data, port: port1});
      };
      worker.postMessage(question, [port2]);
    });
  }

  // The waiting version takes over when this is the site's only open page, in two steps: it answers
  // whether it may, and only a page that still waits for the answer tells it to. One that answers too late
  // is not told and waits on, so a page that started meanwhile keeps the files that it was served. True
  // when the page is to reload.
  async function take_over(registration) {
    const asked = await ask(registration.waiting, 'take-over');
    if (!asked || !asked.answer.taking) return false;
    const changed = new Promise((resolve) => {
      navigator.serviceWorker.addEventListener('controllerchange', resolve, {once: true});
      setTimeout(resolve, TAKE_OVER_MS);
    });
    asked.port.postMessage('go');
    await changed;
    return true;
  }

  function reload() {
    location.reload();
    return {outcome: 'reloading'};
  }

  // True once the site's own worker is active; otherwise why it could not be installed. sw.js names the file
  // that it could not keep, and the word may come after the worker's state.
  function installed(registration) {
    if (registration.active) return Promise.resolve(true);
    const worker = registration.installing || registration.waiting;
    return new Promise((resolve) => {
      navigator.serviceWorker.addEventListener('message', (event) => {
        if (event.data?.not_kept) resolve(event.data.not_kept);
      });
      navigator.serviceWorker.startMessages();
      worker.addEventListener('statechange', () => {
        if (worker.state === 'activated') resolve(true);
        if (worker.state === 'redundant') setTimeout(() => resolve('the service worker was not installed'), REASON_MS);
      });
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

  // {outcome}: 'start' when the program can run, 'reloading' when the page reloads first, 'not-isolated'
  // when the page cannot be isolated and 'not-kept' when the site could not be kept for it, each with the
  // `reason`. A page that the site's worker did not serve starts without waiting for it.
  async function prepare() {
    const address = new URL(location.href);
    const retried = address.searchParams.has(ISOLATING);
    if (retried) {
      address.searchParams.delete(ISOLATING);
      history.replaceState(history.state, '', address);
    }
    if (served()) {
      const registration = await navigator.serviceWorker.getRegistration();
      if (registration && registration.waiting && (await take_over(registration))) return reload();
    }
    if (window.crossOriginIsolated) {
      after_start(() => register().then((registration) => typeof registration !== 'string' && watch(registration)));
      return {outcome: 'start'};
    }
    // The service worker isolates the pages it serves. This one it did not serve (the first visit, or a
    // reload that bypassed it): one reload is enough.
    if (served() || retried) return {outcome: 'not-isolated', reason: 'the service worker did not isolate it'};
    const registration = await register();
    if (typeof registration === 'string') return {outcome: 'not-isolated', reason: registration};
    const kept = await installed(registration);
    if (kept !== true) return {outcome: 'not-kept', reason: kept};
    address.searchParams.set(ISOLATING, '');
    location.replace(address);
    return {outcome: 'reloading'};
  }

  // Says below the page whether the site is kept for offline use and whether a new version waits.
  function watch(registration) {
    const state = $('site-state');
    const show = async () => {
      const waiting = registration.waiting;
      if (waiting && registration.active) {
        const asked = await ask(waiting, 'version');
        const version = asked && asked.answer.version ? 'Version ' + asked.answer.version : 'A new version';
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
