// What the browser tests share: the site served as `make run-web` serves it, the engines, and the cases run
// in them. A test file gives its cases to engines():
//
//   engines({timeout_ms: 120000}, (run) => {
//     run.each('what it shows', ['stand-in'], async (c) => {  // in every engine that can
//       const page = await c.start({settings: [...]});       // the stand-in unit's options; the dialog shown
//       ...
//     });
//     run.once('what it shows', [], async (c) => { ... });   // in one engine
//   });
//
// `each` is for what depends on the engine (start-up, keys and names, timers, the update's two ways of
// learning of sends, its own Web MIDI, service worker and caches, the guard); `once` for what only exercises
// the stand-in unit, the program and the page's script: Chromium runs it (or the first engine that runs). A
// case is skipped with the reason where the engine cannot do what it `needs` (driver.mjs). A case ends its
// pages and hosts whether it passes, fails or runs out of its file's time; once it has passed, no page it
// left open may have asked another origin or shown an error. VEXA_ENGINES="firefox webkit" runs some only.
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import {createReadStream, existsSync, readFileSync, statSync} from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';
import {fileURLToPath} from 'node:url';

import {cannot, launch, missing, version} from './driver.mjs';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const SITE = process.env.VEXA_SITE || path.join(ROOT, 'build-web/site');
export const TITLE = 'Quorvanex vexa 3.1';

// Exit code 77 (skipped) when the site is missing.
if (!existsSync(path.join(SITE, 'sw.js'))) {
  console.error(`browser tests: ${SITE} missing (make web)`);
  process.exit(77);
}

// Starts scripts/serve_web.py on a free port; resolves to {url, stop}. Its stderr would only show the broken
// pipes of pages closed while they loaded.
export function serve() {
  return new Promise((resolve, reject) => {
    const server = spawn('python3', ['-u', path.join(ROOT, 'scripts/serve_web.py'), SITE, '0'],
                         {stdio: ['ignore', 'pipe', 'ignore']});
    server.on('error', reject);
    server.on('exit', (code) => reject(new Error(`serve_web.py ended (${code})`)));
    server.stdout.on('data', (chunk) => {
      const found = /127\.0\.0\.1:(\d+)/.exec(String(chunk));
      if (found) resolve({url: `http://127.0.0.1:${found[1]}/`, stop: () => server.kill()});
    });
  });
}

// A static host as people publish the site on: it sends no isolation headers (the site's service worker adds
// them), and it lets browsers cache every file for `cache_seconds` (0: they must ask again each time). The
// folder it serves can be swapped, as a new version of the site is published.
const TYPES = {
  '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
  '.png': 'image/png', '.webmanifest': 'application/manifest+json',
};

// Resolves to {url, requests (the path and query of each request, in order), publish(folder), stop()}.
export function start_host(folder, cache_seconds = 0) {
  let root = folder;
  const requests = [];
  const server = http.createServer((request, response) => {
    requests.push(request.url);
    const name = decodeURIComponent(new URL(request.url, 'http://host').pathname).replace(/\/$/, '/index.html');
    const file = path.join(root, path.normalize(name));
    const size = file.startsWith(root) ? statSync(file, {throwIfNoEntry: false})?.size ?? -1 : -1;
    if (size < 0) return response.writeHead(404).end();
    response.writeHead(200, {
      'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream', 'Content-Length': size,
      'Cache-Control': cache_seconds ? `max-age=${cache_seconds}` : 'no-cache',
    });
    createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/`, requests, publish: (next) => { root = next; },
      stop: () => new Promise((done) => server.close(done).closeAllConnections()),
    }));
  });
}

export const dialog = (page) => page.getByRole('dialog', {name: TITLE}).waitFor();
export const succeeded = (page) =>
  page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});

// Picks the unit's port in the dialog's port list, and waits until the dialog says `shows` of the unit.
export async function connect(page, shows, name = 'vexa') {
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name}).click();
  await page.locator('#client [role=status]').filter({hasText: shows}).waitFor();
}

// The firmware file's packets, one a line after the header line, as the unit must receive them.
export function image_packets() {
  const file = readFileSync(path.join(ROOT, 'res/firmware.bin'));
  const packets = [];
  for (let start = file.indexOf(0x0d) + 1; file[start] === 0xf0; start = file.indexOf(0xf7, start) + 2)
    packets.push([...file.subarray(start, file.indexOf(0xf7, start) + 1)].join());
  return packets;
}

// The unit was given the image byte for byte, and refused no packet on the way (a packet damaged on the way
// would be answered with a NAK and sent again).
export async function assert_image_written(page) {
  const expected = image_packets();
  const [packets, rejected] = await page.evaluate(() => [window.vexaUnit.packets.join('\n'), window.vexaUnit.rejected]);
  assert.ok(packets === expected.join('\n'), `packets differ from the image's ${expected.length}`);
  assert.equal(rejected, 0, 'packets refused by the unit');
}

const CHOSEN = (process.env.VEXA_ENGINES || '').split(/\s+/).filter(Boolean);
const ENGINES = ['chromium', 'firefox', 'webkit'];
const not_run = (engine) => (CHOSEN.length && !CHOSEN.includes(engine) ? 'not in VEXA_ENGINES' : missing(engine));
const ONE = ENGINES.find((engine) => !not_run(engine));

// One case's pages and servers, ended with it.
function case_of(t, browser, url) {
  const pages = [];
  const ends = [];
  const keep = (opened) => {
    pages.push(opened.page);
    ends.push(opened.close);
    const {beside} = opened;
    if (beside) opened.beside = async (...args) => keep(await beside(...args));
    return opened;
  };
  const c = {
    t, engine: browser.name, url,
    // The page at `at` + query, with the stand-in unit where the engine takes one (null: none, the engine's
    // own navigator as it is).
    open: async (unit = {}, query = '', at = url) =>
      keep(await browser.open(at + query, browser.cannot['stand-in'] ? null : unit)),
    async start(unit, query) {
      const {page} = await c.open(unit, query);
      await dialog(page);
      return page;
    },
    // A server of serve(), or a host of start_host(), of its own.
    serve: () => serve().then((server) => ends.push(server.stop) && server),
    host: (folder, cache_seconds) => start_host(folder, cache_seconds).then((host) => ends.push(host.stop) && host),
    async check() {
      for (const page of pages.filter((open) => !open.closed)) {
        assert.deepEqual(await page.foreign_requests(), [], 'requests to other origins');
        if (page.errors) assert.deepEqual(page.errors, [], 'errors on the page');
      }
    },
    end: () => Promise.allSettled(ends.reverse().map((end) => end())),
  };
  return c;
}

// The cases of one test file in every engine that runs here (see the top of this file); headed, Chromium
// runs on an X server of its own.
export function engines({timeout_ms, headed = false}, body) {
  for (const engine of ENGINES) {
    const skip = not_run(engine);
    describe(engine + (skip ? '' : ` (${version(engine)}${headed ? ', headed' : ''})`), {skip: skip || false}, () => {
      let server = null;
      let browser = null;  // started by the first case that runs
      before(async () => { server = await serve(); });
      after(async () => {
        await browser?.then((started) => started.close(), () => {});
        server?.stop();
      });
      const add = (once) => (title, needs, fn) => test(title, {timeout: timeout_ms}, async (t) => {
        const reason = (once && engine !== ONE ? `the same in every engine: run in ${ONE}` : '') ||
                       needs.map((need) => cannot(engine, need)).find(Boolean);
        if (reason) return t.skip(reason);
        browser ??= launch(engine, {headed});
        const c = case_of(t, await browser, server.url);
        t.after(c.end);
        await fn(c);
        await c.check();
      });
      body({engine, each: add(false), once: add(true)});
    });
  }
}
