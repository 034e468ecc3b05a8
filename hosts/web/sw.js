// The site's service worker. The build puts SITE ahead of this text (site.cmake): the version, and every
// file of the site with the start of its SHA-256 ("./" is the page).
//
// It stores the whole site when it is installed, checking each file against its hash, so that the page
// starts without a network afterwards and a store never holds files of two builds. It serves the stored
// files first and the network for anything else, and adds the two headers that make the page
// cross-origin isolated (needed for the program's threads) to every response, for hosts that cannot send
// them. A new version waits until no page of the old one is open, or until a starting page that is the
// only one asks it to take over (site.js).
'use strict';

const STORE_PREFIX = 'vexa ' + self.registration.scope + ' ';
const STORE = STORE_PREFIX + SITE.files[0][1];

async function hash_of(response) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', await response.clone().arrayBuffer()));
  return Array.from(digest, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// The page may change between builds under the same name: it is fetched past the browser's cache.
async function store_site() {
  const store = await caches.open(STORE);
  await Promise.all(SITE.files.map(async ([name, hash]) => {
    const response = await fetch(new Request(name, {cache: name === './' ? 'no-cache' : 'default'}));
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

async function open_pages() {
  const pages = await self.clients.matchAll({type: 'window', includeUncontrolled: true});
  return pages.filter((page) => page.url.startsWith(self.registration.scope));
}

self.addEventListener('install', (event) => event.waitUntil(store_site()));
self.addEventListener('activate', (event) => event.waitUntil(activate()));
self.addEventListener('message', (event) => {
  const reply = event.ports[0];
  if (!reply) return;
  if (event.data === 'version') reply.postMessage({version: SITE.version});
  if (event.data !== 'take-over') return;
  event.waitUntil(open_pages().then((pages) => {
    const taking = pages.length <= 1;
    reply.postMessage({taking});
    if (taking) return self.skipWaiting();
  }));
});

function isolated(response) {
  if (response.status === 0) return response;
  const headers = new Headers(response.headers);
  headers.set('Cross-Origin-Opener-Policy', 'same-origin');
  headers.set('Cross-Origin-Embedder-Policy', 'require-corp');
  return new Response(response.body, {status: response.status, statusText: response.statusText, headers});
}

// The page is opened by its folder's address, with or without "index.html" and a query ("?midi=sim").
function stored_name(url) {
  const scope = new URL(self.registration.scope);
  if (url.pathname === scope.pathname || url.pathname === scope.pathname + 'index.html') return './';
  return url.pathname.startsWith(scope.pathname) ? url.pathname.slice(scope.pathname.length) : null;
}

async function respond(request, url) {
  const name = stored_name(url);
  const stored = name !== null && (await caches.open(STORE).then((store) => store.match(name)));
  return isolated(stored || (await fetch(request)));
}

self.addEventListener('fetch', (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (url.origin !== self.location.origin || request.method !== 'GET') return;
  event.respondWith(respond(request, url));
});
