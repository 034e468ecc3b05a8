// The site as people keep and publish it, in Chromium, Firefox and WebKit (driver.mjs): its manifest and
// icons, the version on the page, kept for use offline, a reload that bypasses the service worker
// (Shift+Reload), a new version taken only when the page starts and no other page of the site is open, files
// of two builds never mixed, and two sites on one host apart. Hosts: serve_web.py (make run-web) or host.mjs,
// a static host without the isolation headers. A test that needs what an engine cannot do is skipped with
// the reason. VEXA_ENGINES (say "firefox webkit") runs some engines only.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import {appendFileSync, cpSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';

import puppeteer from 'puppeteer-core';

import {launch, missing, version} from './driver.mjs';
import {start_host} from './host.mjs';
import {image_packets, require_site, ROOT, serve, SITE} from './support.mjs';

require_site();

const ENGINES = ['chromium', 'firefox', 'webkit'];
const CHOSEN = (process.env.VEXA_ENGINES || '').split(/\s+/).filter(Boolean);
// What an engine cannot do for these tests besides what driver.mjs says.
const CANNOT = {
  firefox: {
    'installing': 'Firefox ESR installs no web app on Linux: there is nothing to ask',
    'hard reload': 'its WebDriver BiDi refuses a reload that bypasses the cache ("Argument ignoreCache is not ' +
                   'supported yet")',
  },
  webkit: {installing: 'the MiniBrowser installs no web app: there is nothing to ask'},
};
const TITLE = 'Quorvanex vexa 3.1';
const VERSION = readFileSync(path.join(ROOT, 'VERSION'), 'utf8').trim();
const PARTS = path.join(SITE, '../site-parts');
// Caching hosts commonly let browsers keep files for ten minutes.
const CACHE_SECONDS = 600;

let scratch;
before(() => {
  scratch = mkdtempSync(path.join(os.tmpdir(), 'vexa-site-'));
});
after(() => rmSync(scratch, {recursive: true, force: true}));

async function until(page, fn, arg, timeout_ms = 30000) {
  const end = Date.now() + timeout_ms;
  while (!(await page.evaluate(fn, arg).catch(() => false))) {
    if (Date.now() > end) throw new Error('timed out waiting for ' + fn);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

const dialog = (page) => page.getByRole('dialog', {name: TITLE}).waitFor();
const kept = (page) => page.getByText('Kept for use offline').waitFor();
const device_text = (page, text) => page.locator('#client [role=status]').filter({hasText: text}).waitFor();

async function connect(page) {
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name: 'vexa'}).click();
}

// The built-in simulated unit in update mode, and a whole update.
async function update_with_sim(page) {
  await page.getByRole('button', {name: 'Both keys held (F9)'}).click();
  await until(page, () => document.querySelector('#sim-boot').getAttribute('aria-pressed') === 'true');
  await connect(page);
  await device_text(page, 'vexa in update mode');
  await page.getByRole('button', {name: 'Update firmware'}).click();
  await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 120000});
}

// A copy of the site of build-web/ in the scratch folder.
function copy_site(name) {
  const folder = path.join(scratch, name);
  cpSync(SITE, folder, {recursive: true});
  return folder;
}

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
  rebuilt = path.join(scratch, 'rebuilt');
  execFileSync('cmake', [`-DPARTS=${parts}`, `-DSITE=${rebuilt}`, `-DVERSION=${VERSION}-rebuilt`, '-P',
                         path.join(ROOT, 'hosts/web/site.cmake')]);
  return rebuilt;
}

// The build whose files a page runs, by the marks of rebuilt_site: 1 for none, 2 for all, else mixed.
const build_of = (page) => page.evaluate(() => {
  const marks = [getComputedStyle(document.documentElement).getPropertyValue('--test-build').trim() === '2',
                 window.testPageBuild === 2, self.testProgramBuild === 2];
  return marks.every(Boolean) ? 2 : marks.some(Boolean) ? 'mixed' : 1;
});

function engine_tests(engine) {
  let browser;
  before(async () => {
    browser = await launch(engine);
  });
  after(async () => {
    await browser?.close();
  });

  const check = (title, needs, body) => test(title, async (t) => {
    const reason = needs.map((need) => browser.cannot[need] || CANNOT[engine]?.[need]).find(Boolean);
    return reason ? t.skip(reason) : body(t);
  });

  // The stand-in unit where the engine takes one; without it the page is opened with ?midi=sim.
  const unit = (options = {}) => (browser.cannot['stand-in'] ? null : options);

  async function finish(t, {page, close}) {
    assert.deepEqual(await page.foreign_requests(), [], 'requests to other origins');
    if (page.errors) assert.deepEqual(page.errors, [], 'errors on the page');
    await close();
  }

  check('the manifest and its icons, every file named by its content, the version below the dialog', [],
        async (t) => {
    const server = await serve();
    const opened = await browser.open(server.url, unit(), '?midi=sim');
    const {page} = opened;
    await dialog(page);
    assert.equal(await page.locator('#site-version').textContent(), 'vexa utility ' + VERSION);
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
    assert.ok(manifest.sizes.some(([declared]) => Number(declared.split('x')[0]) >= 192), 'an icon of 192 or more');
    for (const [declared, drawn] of manifest.sizes) assert.equal(drawn, declared);
    for (const file of readdirSync(SITE).filter((f) => !['index.html', 'sw.js'].includes(f))) {
      const hash = createHash('sha256').update(readFileSync(path.join(SITE, file))).digest('hex').slice(0, 10);
      assert.match(file, new RegExp(`\\.${hash}\\.[a-z]+$`), file);
    }
    await finish(t, opened);
    server.stop();
  });

  // Chromium's own check, in a profile of its own: it installs no app from a private window, which is what
  // the driver's pages are.
  check('installable as Chromium checks it', ['installing'], async () => {
    const server = await serve();
    const chromium = await puppeteer.launch({executablePath: process.env.VEXA_CHROMIUM || '/usr/bin/chromium',
                                             args: ['--no-sandbox'], userDataDir: path.join(scratch, 'profile')});
    try {
      const page = await chromium.newPage();
      await page.goto(server.url + '?midi=sim');
      await page.waitForSelector('#window:not([hidden])');
      await page.waitForFunction(() => document.querySelector('#site-state').textContent.includes('Kept'));
      const devtools = await page.createCDPSession();
      assert.deepEqual((await devtools.send('Page.getInstallabilityErrors')).installabilityErrors, []);
    } finally {
      await chromium.close();
      server.stop();
    }
  });

  check('offline: kept on the first visit, the page starts with no network and ?midi=sim runs an update', [],
        async (t) => {
    const server = await serve();
    const opened = await browser.open(server.url, unit(), '?midi=sim');
    const {page} = opened;
    await dialog(page);
    await kept(page);
    server.stop();
    // The browser's offline mode too, where the driver can set it.
    const offline = await page.native.setOfflineMode?.(true).then(() => true, () => false);
    t.diagnostic(offline ? 'the server stopped and the browser offline' : 'the server stopped');
    await page.reload();
    await dialog(page);
    await update_with_sim(page);
    await finish(t, opened);
  });

  check('Shift+Reload, which bypasses the service worker, starts the page', ['hard reload'], async (t) => {
    const host = await start_host(SITE);
    const opened = await browser.open(host.url, unit(), '?midi=sim');
    const {page} = opened;
    await dialog(page);
    host.requests.length = 0;
    await page.native.reload({ignoreCache: true});
    await until(page, () => !document.getElementById('window').hidden || !document.getElementById('notice').hidden);
    const bypassed = host.requests.filter((request) => request.startsWith('/?')).length;
    if (bypassed === 0) return t.skip(`the engine's reload without its cache went through the service worker`);
    await dialog(page);
    assert.equal(bypassed, 1, 'the page was loaded from the host once: ' + host.requests);
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    assert.equal(new URL(await page.url()).search, '?midi=sim');
    await finish(t, opened);
    await host.stop();
  });

  check('a new version on a caching host: taken at the next start of the only open page, never mixed',
        ['stand-in', 'beside'], async () => {
    const host = await start_host(copy_site(`published-${engine}`), CACHE_SECONDS);
    // Page A writes the firmware while the new version is published.
    // Untimed: the unit's replies keep coming while page B is in front and A's timers slow down.
    const a = await browser.open(host.url, {mode: 'boot', erase_ms: 200, keep_history: false, untimed: true});
    await dialog(a.page);
    await kept(a.page);
    await connect(a.page);
    await device_text(a.page, 'vexa in update mode');
    await a.page.getByRole('button', {name: 'Update firmware'}).click();
    host.publish(rebuilt_site());
    await a.page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
    await a.page.getByText(`Version ${VERSION}-rebuilt is ready`).waitFor();
    // Page B starts meanwhile: page A is open, so B runs the version A runs.
    const b = await a.beside(host.url, {}, '?midi=sim');
    await dialog(b.page);
    await b.page.getByText(`Version ${VERSION}-rebuilt is ready`).waitFor();
    assert.equal(await build_of(b.page), 1);
    // A's update goes on to the end under the version it started with. A is brought to the front for it:
    // headless Chromium answers no queries of a page left behind another one.
    await a.page.native.bringToFront?.();
    await a.page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});
    assert.equal(await a.page.evaluate(() => window.vexaUnit.packets.length), image_packets().length);
    assert.equal(await build_of(a.page), 1);
    assert.equal(await a.page.locator('#site-version').textContent(), 'vexa utility ' + VERSION);
    await a.page.native.close();
    // B alone, started again: the new version takes over, and every file B runs is of the new build.
    await b.page.reload();
    await until(b.page, () => document.querySelector('#site-version')?.textContent.endsWith('-rebuilt'));
    await dialog(b.page);
    assert.equal(await build_of(b.page), 2);
    const stores = await b.page.evaluate(() => caches.keys());
    assert.equal(stores.length, 1, 'the old version\'s store is gone: ' + stores);
    await update_with_sim(b.page);
    await a.close();
    await host.stop();
  });

  // A new version (its worker changed) waits while page A writes firmware; A is reloaded meanwhile.
  check('a reload during the write is told when the page starts again, also after a new version took over',
        ['stand-in'], async () => {
    const folder = copy_site(`told-${engine}`);
    const host = await start_host(folder);
    const {page, close} = await browser.open(host.url, {mode: 'boot', erase_ms: 200, keep_history: false});
    try {
      page.native.on('dialog', (question) => question.accept());
      await kept(page);
      await connect(page);
      await device_text(page, 'vexa in update mode');
      await page.getByRole('button', {name: 'Update firmware'}).click();
      await device_text(page, /^Writing$/);
      appendFileSync(path.join(folder, 'sw.js'), '// the next version\n');
      await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
      await page.getByText('is ready').waitFor();
      await page.reload();
      await kept(page);
      assert.match(await page.locator('#update-note').textContent(), /reloaded while the firmware was being written/);
    } finally {
      await close();
      await host.stop();
    }
  });

  check('a new version that answers too late does not take over the page that started meanwhile', [], async () => {
    const host = await start_host(copy_site(`late-${engine}`));
    const next = path.join(scratch, `late-next-${engine}`);
    cpSync(rebuilt_site(), next, {recursive: true});
    // Its answers come after the page has given up waiting for them.
    appendFileSync(path.join(next, 'sw.js'), 'const post = MessagePort.prototype.postMessage;\n' +
      'MessagePort.prototype.postMessage = function(...args) { setTimeout(() => post.apply(this, args), 6000); };\n');
    const {page, close} = await browser.open(host.url, unit(), '?midi=sim');
    try {
      await kept(page);
      host.publish(next);
      await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
      await page.getByText('is ready').waitFor();
      await page.reload();
      await dialog(page);
      await new Promise((resolve) => setTimeout(resolve, 3000));
      await host.stop();
      assert.equal(await build_of(page), 1);
      // Offline, the program's threads still have their file: the store the page was served from is there.
      assert.equal(await page.evaluate(() => fetch(vexaSite.file('vexa.worker.js')).then((r) => r.ok, () => false)), true);
    } finally {
      await close();
      await host.stop();
    }
  });

  check('in a folder of the host: the worker answers for its site only, a release inside is an app of its own, ' +
        'a failed start says why', [], async () => {
    const folder = copy_site(`folders-${engine}`);
    cpSync(SITE, path.join(folder, '3.1'), {recursive: true});
    cpSync(SITE, path.join(folder, 'broken'), {recursive: true});
    const lost = readdirSync(SITE).find((name) => name.startsWith('vexa.worker.'));
    rmSync(path.join(folder, 'broken', lost));
    writeFileSync(path.join(folder, 'notes.html'), '<!doctype html><title>Notes</title>');
    const host = await start_host(folder);
    const {page, close} = await browser.open(host.url, null);
    const app_id = async () => (await (await page.native.createCDPSession()).send('Page.getAppId')).appId;
    try {
      // The program gone from the host: a notice instead of the start's text.
      await until(page, () => !document.getElementById('notice').hidden);
      await page.evaluate(() => {
        const file = vexaSite.file;
        vexaSite.file = (name) => (name === 'vexa.js' ? 'gone.js' : file(name));
      });
      await page.getByRole('button', {name: 'Try the simulated unit'}).click();
      await page.getByRole('heading', {name: 'The utility could not be loaded'}).waitFor();
      await page.goto(host.url + 'notes.html');
      assert.equal(await page.evaluate(() => window.crossOriginIsolated), false);
      for (const release of ['', '3.1/']) {
        await page.goto(host.url + release + '?midi=sim');
        await kept(page);
        assert.equal(await page.evaluate(() => navigator.serviceWorker.controller.scriptURL), host.url + release + 'sw.js');
        if (!CANNOT[engine]?.installing) assert.equal(await app_id(), host.url + release);
      }
      // A first visit whose worker cannot keep a file of the site names it.
      await page.goto(host.url + 'broken/?midi=sim');
      await page.getByRole('heading', {name: 'The page could not start'}).waitFor();
      assert.match(await page.locator('#notice').textContent(), new RegExp(`did not finish \\(${lost}: 404\\)`));
    } finally {
      await close();
      await host.stop();
    }
  });

  check('two sites on one host (a release kept in a folder of its own) keep their own stores, offline or gone',
        [], async (t) => {
    const both = path.join(scratch, `two-${engine}`);
    cpSync(SITE, path.join(both, 'vexa'), {recursive: true});
    cpSync(rebuilt_site(), path.join(both, 'vexa-3.1'), {recursive: true});
    const host = await start_host(both);
    const opened = await browser.open(host.url + 'vexa/', unit(), '?midi=sim');
    const {page} = opened;
    await dialog(page);
    await kept(page);
    await page.goto(host.url + 'vexa-3.1/?midi=sim');
    await dialog(page);
    await kept(page);
    assert.equal(await build_of(page), 2);
    // The release's folder is taken off the host: the browser's look for a new version finds nothing, and
    // the kept release still starts.
    rmSync(path.join(both, 'vexa-3.1'), {recursive: true});
    assert.equal(await page.evaluate(() => navigator.serviceWorker.getRegistration().then((r) => r.update())
        .then(() => 'found', (error) => error.name)), 'TypeError');
    await page.reload();
    await dialog(page);
    assert.equal(await build_of(page), 2);
    await host.stop();
    await page.goto(host.url + 'vexa/?midi=sim');
    await dialog(page);
    assert.equal(await build_of(page), 1);
    assert.equal((await page.evaluate(() => caches.keys())).length, 2);
    await finish(t, opened);
  });
}

for (const engine of ENGINES) {
  const chosen = CHOSEN.length === 0 || CHOSEN.includes(engine);
  const skip = !chosen ? 'not in VEXA_ENGINES' : missing(engine);
  describe(engine + (skip ? '' : ` (${version(engine)})`), {skip: skip || false}, () => engine_tests(engine));
}
