// The site's service worker. The build puts SITE ahead of this text (site.cmake): the version, and every
// file of the site with the start of its SHA-256 ("./" is the page).
//
// It stores the whole site when it is installed, checking each file against its hash, so that the page
// starts without a network afterwards and a store never holds files of two builds. It answers for the
// site's own files and pages only, from the store, and adds the two headers that make the page
// cross-origin isolated (needed for the program's threads), for hosts that cannot send them; anything else
// in its folder (another page, a site in a folder inside) it leaves to the host. A new version waits until
// no page of the old one is open, or until a starting page that is the only one asks it to take over and,
// still waiting, tells it to (site.js).
'use strict';

const STORE_PREFIX = 'vexa ' + self.registration.scope + ' ';
const STORE = STORE_PREFIX + SITE.files[0][1];
const NAMES = new Set(SITE.files.map(([name]) => name));
// How long a waiting version that may take over waits for the page to tell it to.
const GO_MS = 10000;

async function hash_of(response) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', await response.clone().arrayBuffer()));
  return Array.from(digest, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// The page may change between builds under the same name: it is fetched past the browser's cache.
async function store_site() {
  const store = await caches.open(STORE);
  await Promise.all(SITE.files.map(async ([name, hash]) => {
    const response = await fetch(new Request(name, {cache: name === './' ? 'no-cache' : 'default'}))
        .catch((error) => Promise.reject(new Error(name + ': ' + error.message)));
    if (!response.ok) throw new Error(name + ': ' + response.status);
    // A host that is being updated may still serve the old page: the install fails and is tried again.
    if (!(await hash_of(response)).startsWith(hash)) throw new Error(name + ' is not of this build');
    await store.put(name, response);
  }));
}

// Stores of this site's other versions go once this one is active: no page of theirs is open then. A page
// that opened without a worker is not claimed, and has it when it is loaded next: in Firefox 153 a page
// claimed while it ran no longer got the unit's replies through to the program ("vexa not found").
async function activate() {
  for (const name of await caches.keys()) {
    if (name.startsWith(STORE_PREFIX) && name !== STORE) await caches.delete(name);
  }
}

// The site's name of an address: "./" for the page (its folder's address, with or without "index.html" and
// a query, as "?midi=sim"), a file's name for the site's other files, null for anything else.
function site_name(url) {
  const scope = new URL(self.registration.scope);
  if (url.origin !== scope.origin || !url.pathname.startsWith(scope.pathname)) return null;
  const rest = url.pathname.slice(scope.pathname.length);
  const name = rest === '' || rest === 'index.html' ? './' : rest;
  return NAMES.has(name) ? name : null;
}

async function open_pages() {
  const pages = await self.clients.matchAll({type: 'window', includeUncontrolled: true});
  return pages.filter((page) => site_name(new URL(page.url)) === './');
}

// A first visit's page waits for the site to be kept: a file that could not be is named to it.
async function install() {
  try {
    await store_site();
  } catch (error) {
    for (const page of await open_pages()) page.postMessage({not_kept: error.message});
    throw error;
  }
}

// Asked to take over: whether the asking page is the site's only open one, then, told to go while it still
// is, the take-over.
function take_over(reply) {
  return open_pages().then((pages) => new Promise((resolve) => {
    const taking = pages.length <= 1;
    reply.onmessage = (event) => {
      if (event.data === 'go') resolve(open_pages().then((now) => now.length <= 1 && self.skipWaiting()));
    };
    reply.postMessage({taking});
    setTimeout(resolve, taking ? GO_MS : 0);
  }));
}

self.addEventListener('install', (event) => event.waitUntil(install()));
self.addEventListener('activate', (event) => event.waitUntil(activate()));
self.addEventListener('message', (event) => {
  const reply = event.ports[0];
  if (!reply) return;
  if (event.data === 'version') reply.postMessage({version: SITE.version});
  if (event.data === 'take-over') event.waitUntil(take_over(reply));
});

function isolated(response) {
  if (response.status === 0) return response;
  const headers = new Headers(response.headers);
  headers.set('Cross-Origin-Opener-Policy', 'same-origin');
  headers.set('Cross-Origin-Embedder-Policy', 'require-corp');
  return new Response(response.body, {status: response.status, statusText: response.statusText, headers});
}

async function respond(request, name) {
  const stored = await caches.open(STORE).then((store) => store.match(name));
  return isolated(stored || (await fetch(request)));
}

self.addEventListener('fetch', (event) => {
  const name = site_name(new URL(event.request.url));
  if (name !== null && event.request.method === 'GET') event.respondWith(respond(event.request, name));
});
