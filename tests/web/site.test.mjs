// The site as people keep and publish it, in headless Chromium: installable and kept for use offline, its
// version on the page, a new version taken only when the page starts and no other page of the site is
// open, files of two builds never mixed, two sites on one host apart, and a reload that bypasses the
// service worker (Shift+Reload). Hosts: serve_web.py (make run-web) or host.mjs, a static host without the
// isolation headers.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import {appendFileSync, cpSync, mkdtempSync, readdirSync, readFileSync, rmSync} from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {after, before, test} from 'node:test';

import {start_host} from './host.mjs';
import {chromium} from 'playwright-core';

import {BROWSER_OPTIONS, image_packets, launch, open_page, require_site, ROOT, serve, SITE} from './support.mjs';

require_site();

const TITLE = 'Quorvanex vexa 3.1';
const VERSION = readFileSync(path.join(ROOT, 'VERSION'), 'utf8').trim();
const PARTS = path.join(SITE, '../site-parts');
// Caching hosts commonly let browsers keep files for ten minutes.
const CACHE_SECONDS = 600;

let browser;
let scratch;
before(async () => {
  browser = await launch();
  scratch = mkdtempSync(path.join(os.tmpdir(), 'vexa-site-'));
});
after(async () => {
  await browser?.close();
  if (scratch) rmSync(scratch, {recursive: true, force: true});
});

async function until(page, fn, arg, timeout_ms = 30000) {
  const end = Date.now() + timeout_ms;
  while (!(await page.evaluate(fn, arg).catch(() => false))) {
    if (Date.now() > end) throw new Error('timed out waiting for ' + fn);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

const dialog = (page) => page.getByRole('dialog', {name: TITLE}).waitFor();
const kept = (page) => page.getByText('Kept for use offline').waitFor();

async function connect(page) {
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name: 'vexa'}).click();
}

// The built-in simulated unit in update mode, and a whole update.
async function update_with_sim(page) {
  await page.getByRole('button', {name: 'Both keys held (F9)'}).click();
  await until(page, () => document.querySelector('#sim-boot').getAttribute('aria-pressed') === 'true');
  await connect(page);
  await page.locator('#client [role=status]', {hasText: 'vexa in update mode'}).waitFor();
  await page.getByRole('button', {name: 'Update firmware', exact: true}).click();
  await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 120000});
}

// A copy of the site of build-web/ in the scratch folder.
function copy_site(name) {
  const folder = path.join(scratch, name);
  cpSync(SITE, folder, {recursive: true});
  return folder;
}

test('installable: a manifest with the program\'s icons, as Chromium checks it; the version below the dialog',
     async () => {
  const server = await serve();
  // Chromium installs no app from a private window, which is what a context of the shared browser is.
  const context = await chromium.launchPersistentContext(path.join(scratch, 'profile'), BROWSER_OPTIONS);
  const page = await context.newPage();
  await page.goto(server.url + '?midi=sim');
  await dialog(page);
  await kept(page);
  assert.equal(await page.locator('#site-version').textContent(), 'vexa utility ' + VERSION);
  const devtools = await context.newCDPSession(page);
  assert.deepEqual((await devtools.send('Page.getInstallabilityErrors')).installabilityErrors, []);
  const manifest = await page.evaluate(async () => {
    const response = await fetch(document.querySelector('link[rel=manifest]').href);
    const body = await response.json();
    const sizes = [];
    for (const icon of body.icons) {
      const image = new Image();
      image.src = new URL(icon.src, response.url).href;
      await image.decode();
      sizes.push([icon.sizes, `${image.naturalWidth}x${image.naturalHeight}`]);
    }
    return {type: response.headers.get('content-type'), body, sizes};
  });
  assert.equal(manifest.type, 'application/manifest+json');
  assert.equal(manifest.body.name, 'vexa utility');
  assert.equal(manifest.body.display, 'standalone');
  assert.equal(manifest.body.start_url, './');
  for (const [declared, drawn] of manifest.sizes) assert.equal(drawn, declared);
  // Every file but the page and the service worker is named by its content.
  for (const file of readdirSync(SITE).filter((f) => !['index.html', 'sw.js'].includes(f))) {
    const hash = createHash('sha256').update(readFileSync(path.join(SITE, file))).digest('hex').slice(0, 10);
    assert.match(file, new RegExp(`\\.${hash}\\.[a-z]+$`), file);
  }
  await context.close();
  server.stop();
});

test('offline: kept on the first visit, the page starts with no network and ?midi=sim runs an update', async () => {
  const server = await serve();
  const {context, page} = await open_page(browser, server.url);
  await dialog(page);
  await kept(page);
  await until(page, () => Boolean(navigator.serviceWorker.controller));
  server.stop();
  await context.setOffline(true);
  const served = [];
  page.on('response', (response) => response.url().startsWith('blob:') || served.push([response.url(), response.fromServiceWorker()]));
  await page.reload();
  await dialog(page);
  await page.goto(server.url + '?midi=sim');
  await dialog(page);
  await update_with_sim(page);
  assert.ok(served.length > 0);
  assert.deepEqual(served.filter(([, from_worker]) => !from_worker), [], 'responses not from the service worker');
  await context.close();
});

test('Shift+Reload, which bypasses the service worker, starts the page', async () => {
  const host = await start_host(SITE);
  const {context, page} = await open_page(browser, host.url, {}, '?midi=sim');
  await dialog(page);
  // Each load tells whether the service worker served it.
  const loads = [];
  await context.exposeFunction('testLoaded', (served) => loads.push(served ? 'served' : 'bypassed'));
  await context.addInitScript(() => window.testLoaded(Boolean(navigator.serviceWorker.controller)));
  const devtools = await context.newCDPSession(page);
  await devtools.send('Page.reload', {ignoreCache: true});
  await until(page, () => !document.getElementById('window').hidden || !document.getElementById('notice').hidden);
  await dialog(page);
  assert.deepEqual(loads, ['bypassed', 'served']);
  assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
  assert.equal(new URL(page.url()).search, '?midi=sim');
  await context.close();
  await host.stop();
});

// The site rebuilt with a change in its style, its script and the program: the parts of build-web/ with a
// line added to each, assembled by the build's own site.cmake. Each change marks the files of the new build.
let rebuilt = null;
function rebuilt_site() {
  if (rebuilt) return rebuilt;
  const parts = path.join(scratch, 'parts');
  cpSync(PARTS, parts, {recursive: true});
  appendFileSync(path.join(parts, 'page.css'), ':root { --test-build: 2; }\n');
  appendFileSync(path.join(parts, 'page.js'), 'window.testPageBuild = 2;\n');
  appendFileSync(path.join(parts, 'vexa.js'), 'self.testProgramBuild = 2;\n');
  const site = path.join(scratch, 'rebuilt');
  execFileSync('cmake', [`-DPARTS=${parts}`, `-DSITE=${site}`, `-DVERSION=${VERSION}-rebuilt`, '-P',
                         path.join(ROOT, 'hosts/web/site.cmake')]);
  rebuilt = site;
  return site;
}

// The build whose files a page runs, by the marks of rebuilt_site: 1 for none, 2 for all, else mixed.
const build_of = (page) => page.evaluate(() => {
  const marks = [getComputedStyle(document.documentElement).getPropertyValue('--test-build').trim() === '2',
                 window.testPageBuild === 2, self.testProgramBuild === 2];
  return marks.every(Boolean) ? 2 : marks.some(Boolean) ? 'mixed' : 1;
});

test('a new version on a caching host: taken at the next start of the only open page, never mixed', async () => {
  const old_site = copy_site('published');
  const new_site = rebuilt_site();
  const host = await start_host(old_site, CACHE_SECONDS);
  // Page A writes the firmware while the new version is published.
  const a = await open_page(browser, host.url, {mode: 'boot', erase_ms: 200, keep_history: false});
  await dialog(a.page);
  await kept(a.page);
  await connect(a.page);
  await a.page.locator('#client [role=status]', {hasText: 'vexa in update mode'}).waitFor();
  await a.page.getByRole('button', {name: 'Update firmware', exact: true}).click();
  host.publish(new_site);
  await a.page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
  await a.page.getByText(`Version ${VERSION}-rebuilt is ready`).waitFor();
  // Page B starts meanwhile: page A is open, so B runs the version A runs.
  const b = await a.context.newPage();
  await b.goto(host.url + '?midi=sim');
  await dialog(b);
  await b.getByText(`Version ${VERSION}-rebuilt is ready`).waitFor();
  assert.equal(await build_of(b), 1);
  // A's update goes on to the end under the version it started with.
  await a.page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});
  const written = await a.page.evaluate(() => window.vexaUnit.packets.length);
  assert.equal(written, image_packets().length);
  assert.equal(await build_of(a.page), 1);
  assert.equal(await a.page.locator('#site-version').textContent(), 'vexa utility ' + VERSION);
  await a.page.close();
  // B alone, started again: the new version takes over, and every file B runs is of the new build.
  await b.reload();
  await until(b, () => document.querySelector('#site-version')?.textContent.endsWith('-rebuilt'));
  await dialog(b);
  assert.equal(await build_of(b), 2);
  assert.equal(await b.locator('#site-version').textContent(), `vexa utility ${VERSION}-rebuilt`);
  const stores = await b.evaluate(() => caches.keys());
  assert.equal(stores.length, 1, 'the old version\'s store is gone: ' + stores);
  await update_with_sim(b);
  await a.context.close();
  await host.stop();
});

test('two sites on one host (a release kept in a folder of its own) keep their own stores, offline or gone', async () => {
  const both = path.join(scratch, 'two');
  cpSync(SITE, path.join(both, 'vexa'), {recursive: true});
  cpSync(rebuilt_site(), path.join(both, 'vexa-3.1'), {recursive: true});
  const host = await start_host(both);
  const {context, page} = await open_page(browser, host.url + 'vexa/');
  await dialog(page);
  await kept(page);
  await page.goto(host.url + 'vexa-3.1/?midi=sim');
  await dialog(page);
  await kept(page);
  assert.equal(await build_of(page), 2);
  // The release's folder is taken off the host: the browser's look for a new version finds nothing, and
  // the kept release still starts.
  rmSync(path.join(both, 'vexa-3.1'), {recursive: true});
  await assert.rejects(page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update()));
  await page.reload();
  await dialog(page);
  assert.equal(await build_of(page), 2);
  await host.stop();
  await context.setOffline(true);
  await page.goto(host.url + 'vexa/?midi=sim');
  await dialog(page);
  assert.equal(await build_of(page), 1);
  assert.equal((await page.evaluate(() => caches.keys())).length, 2);
  await context.close();
});
