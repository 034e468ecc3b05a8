// The site as people keep and publish it: installable, kept for use offline, Shift+Reload, a new version
// taken only at a start with no other page of the site open, two builds never mixed, two sites on one host
// apart. Hosts: serve_web.py (make run-web), or host.mjs, a static host without the isolation headers.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import {appendFileSync, cpSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {after} from 'node:test';

import puppeteer from 'puppeteer-core';

import {cannot} from './driver.mjs';
import {assert_image_written, connect, dialog, engines, ROOT, SITE, succeeded} from './support.mjs';

const VERSION = readFileSync(path.join(ROOT, 'VERSION'), 'utf8').trim();
// Caching hosts commonly let browsers keep files for ten minutes.
const CACHE_SECONDS = 600;
const scratch = mkdtempSync(path.join(os.tmpdir(), 'vexa-site-'));
after(() => rmSync(scratch, {recursive: true, force: true}));

// Drops the page's errors that a case caused on purpose, so that only the others fail it.
const forgive = (page, pattern) => page.errors?.splice(0, Infinity, ...page.errors.filter((e) => !pattern.test(e)));
const site_says = (page, text) => page.locator('#site-state').filter({hasText: text}).waitFor();
const kept = (page) => site_says(page, 'Kept for use offline');

// A copy of the site of build-web/ in the scratch folder.
function copy_site(name) {
  const folder = path.join(scratch, name);
  cpSync(SITE, folder, {recursive: true});
  return folder;
}

// Waits until the page runs isolated under its service worker, and for its dialog: on a host without the
// isolation headers a first visit reloads itself for that, and a query of the page it left would fail.
async function isolated(page) {
  await page.until(() => window.crossOriginIsolated && navigator.serviceWorker.controller !== null);
  await dialog(page);
}

// The site rebuilt with a change in its style, its script and the program: the parts of build-web/ with a
// line added to each, assembled by the build's own site.cmake. Each change marks the files of the new build.
let rebuilt = null;
function rebuilt_site() {
  if (rebuilt) return rebuilt;
  const parts = path.join(scratch, 'parts');
  cpSync(path.join(SITE, '../site-parts'), parts, {recursive: true});
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

engines({timeout_ms: 120000}, (run) => {
  // Chromium's own check, in a profile of its own: it installs no app from a private window, which is what
  // the driver's pages are.
  run.each('installable as Chromium checks it, the manifest served as one, every file named by its content, the ' +
           'version below the dialog', ['installing'], async (c) => {
    for (const file of readdirSync(SITE).filter((f) => !['index.html', 'sw.js'].includes(f))) {
      const hash = createHash('sha256').update(readFileSync(path.join(SITE, file))).digest('hex').slice(0, 10);
      assert.match(file, new RegExp(`\\.${hash}\\.[a-z]+$`), file);
    }
    const chromium = await puppeteer.launch({executablePath: process.env.VEXA_CHROMIUM || '/usr/bin/chromium',
                                             args: ['--no-sandbox'], userDataDir: path.join(scratch, 'profile')});
    c.t.after(() => chromium.close());
    const page = await chromium.newPage();
    await page.goto(c.url + '?midi=sim');
    await page.waitForSelector('#window:not([hidden])');
    assert.equal(await page.$eval('#site-version', (el) => el.textContent), 'vexa utility ' + VERSION);
    // Chromium's check reads the manifest's fields and loads its icons; not its type.
    const manifest = await fetch(c.url + readdirSync(SITE).find((file) => file.endsWith('.webmanifest')));
    assert.equal(manifest.headers.get('content-type'), 'application/manifest+json');
    await page.waitForFunction(() => document.querySelector('#site-state').textContent.includes('Kept'));
    const devtools = await page.createCDPSession();
    assert.deepEqual((await devtools.send('Page.getInstallabilityErrors')).installabilityErrors, []);
  });

  run.each('Shift+Reload, which bypasses the service worker, starts the page', ['hard reload'], async (c) => {
    const host = await c.host(SITE);
    const {page} = await c.open({}, '?midi=sim', host.url);
    await isolated(page);
    host.requests.length = 0;
    await page.native.reload({ignoreCache: true});
    await page.until(() => !document.getElementById('window').hidden || !document.getElementById('notice').hidden);
    const bypassed = host.requests.filter((request) => request.startsWith('/?')).length;
    if (bypassed === 0) return c.t.skip(`the engine's reload without its cache went through the service worker`);
    await dialog(page);
    assert.equal(bypassed, 1, 'the page was loaded from the host once: ' + host.requests);
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    assert.equal(new URL(await page.url()).search, '?midi=sim');
  });

  run.each('a new version on a caching host: taken at the next start of the only open page, never mixed',
           ['stand-in', 'beside'], async (c) => {
    const folder = path.join(scratch, `published-${c.engine}`);
    cpSync(SITE, folder, {recursive: true});
    const host = await c.host(folder, CACHE_SECONDS);
    // Page A writes the firmware while the new version is published.
    // Untimed: the unit's replies keep coming while page B is in front and A's timers slow down.
    const a = await c.open({mode: 'boot', erase_ms: 200, untimed: true}, '', host.url);
    await isolated(a.page);
    await kept(a.page);
    await connect(a.page, 'vexa in update mode');
    await a.page.getByRole('button', {name: 'Update firmware'}).click();
    host.publish(rebuilt_site());
    await a.page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
    await site_says(a.page, `Version ${VERSION}-rebuilt is ready`);
    // Page B starts meanwhile: page A is open, so B runs the version A runs.
    const b = await a.beside(host.url + '?midi=sim', {});
    await dialog(b.page);
    await site_says(b.page, `Version ${VERSION}-rebuilt is ready`);
    assert.equal(await build_of(b.page), 1);
    // A's update goes on to the end under the version it started with. A is brought to the front for it:
    // headless Chromium answers no queries of a page left behind another one.
    await a.page.native.bringToFront?.();
    await succeeded(a.page);
    await assert_image_written(a.page);
    assert.equal(await build_of(a.page), 1);
    assert.equal(await a.page.locator('#site-version').textContent(), 'vexa utility ' + VERSION);
    await a.close();
    // B alone, started again: the new version takes over, and every file B runs is of the new build.
    await b.page.reload();
    await b.page.until(() => document.querySelector('#site-version')?.textContent.endsWith('-rebuilt'));
    await dialog(b.page);
    assert.equal(await build_of(b.page), 2);
    const stores = await b.page.evaluate(() => caches.keys());
    assert.equal(stores.length, 1, 'the old version\'s store is gone: ' + stores);
  });

  // With the browser's offline mode too, where the driver can set it. (WebKitGTK 2.50 was seen to start the
  // program's threads on only about half of such loads from the static host, isolated by the service worker.)
  run.each('offline: kept on the first visit, the page starts with no network, and ?midi=sim, its keys held by F9 ' +
           'and the button, runs an update', [], async (c) => {
    const server = await c.serve();
    const {page} = await c.open({}, '?midi=sim', server.url);
    await dialog(page);
    await connect(page, 'Firmware 3.1');
    // The time code reader's line below the dialog: the built-in unit plays from 01:00:00:00 at 25 fps.
    await page.getByRole('timer', {name: 'Time code'}).filter({hasText: /^Time code 01:\d\d:\d\d:\d\d 25 fps running/})
        .waitFor();
    await kept(page);
    server.stop();
    await page.native.setOfflineMode?.(true);
    await page.reload();
    await dialog(page);
    assert.equal(await page.evaluate(() => window.vexaUnit?.requested ?? null), null, 'MIDI asked for with ?midi=sim');
    const keys = page.getByRole('button', {name: 'Both keys held (F9)'});
    for (const [press, pressed] of [[() => page.keyboard.press('F9'), true], [() => keys.click(), false],
                                    [() => page.keyboard.press('F9'), true]]) {
      await press();
      await keys.and(`[aria-pressed=${pressed}]`).waitFor();
    }
    await connect(page, 'vexa in update mode');
    await page.getByRole('button', {name: 'Update firmware'}).click();
    await succeeded(page);
  });

  run.each('two sites on one host (a release kept in a folder of its own) keep their own stores, offline or gone', [],
           async (c) => {
    const both = path.join(scratch, `two-${c.engine}`);
    cpSync(SITE, path.join(both, 'vexa'), {recursive: true});
    cpSync(rebuilt_site(), path.join(both, 'vexa-3.1'), {recursive: true});
    const host = await c.host(both);
    const {page} = await c.open({}, '?midi=sim', host.url + 'vexa/');
    await isolated(page);
    assert.equal(await build_of(page), 1);
    // The page's own policy holds where the host sends none: no style, as no script, from the page's text.
    assert.equal(await page.evaluate(() => new Promise((resolve) => {
      document.addEventListener('securitypolicyviolation', () => resolve('refused'));
      document.head.append(Object.assign(document.createElement('style'), {textContent: 'main {}'}));
      setTimeout(() => resolve('applied'), 1000);
    })), 'refused');
    await kept(page);
    await page.goto(host.url + 'vexa-3.1/?midi=sim');
    await isolated(page);
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
    forgive(page, /Content.Security.Policy/i);  // the style refused above, reported when the engine gets to it
  });

  // A new version (its worker changed) waits while the page writes firmware, and the page is reloaded then.
  run.each('a reload during the write is told when the page starts again, also after a new version took over',
           ['stand-in'], async (c) => {
    const folder = copy_site(`told-${c.engine}`);
    const host = await c.host(folder);
    const {page} = await c.open({mode: 'boot', erase_ms: 200}, '', host.url);
    page.native.on('dialog', (question) => question.accept());
    await isolated(page);
    await kept(page);
    await connect(page, 'vexa in update mode');
    await page.getByRole('button', {name: 'Update firmware'}).click();
    await page.locator('#client [role=status]').filter({hasText: /^Writing$/}).waitFor();
    appendFileSync(path.join(folder, 'sw.js'), '// the next version\n');
    await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
    await site_says(page, 'is ready');
    await page.reload();
    await isolated(page);
    await kept(page);
    assert.match(await page.locator('#update-note').textContent(), /reloaded while the firmware was being written/);
  });

  run.each('a new version that answers too late does not take over the page that started meanwhile', [],
           async (c) => {
    const host = await c.host(copy_site(`late-${c.engine}`));
    const next = path.join(scratch, `late-next-${c.engine}`);
    cpSync(rebuilt_site(), next, {recursive: true});
    // Its answers come after the page has given up waiting for them.
    appendFileSync(path.join(next, 'sw.js'), 'const post = MessagePort.prototype.postMessage;\n' +
      'MessagePort.prototype.postMessage = function(...args) { setTimeout(() => post.apply(this, args), 6000); };\n');
    const {page} = await c.open({}, '?midi=sim', host.url);
    await isolated(page);
    await kept(page);
    host.publish(next);
    await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
    await site_says(page, 'is ready');
    await page.reload();
    await isolated(page);
    await new Promise((resolve) => setTimeout(resolve, 3000));
    await host.stop();
    assert.equal(await build_of(page), 1);
    // Offline, the program's threads still have their file: the store the page was served from is there.
    assert.equal(await page.evaluate(() => fetch(vexaSite.file('vexa.worker.js')).then((r) => r.ok, () => false)), true);
  });

  run.each('in a folder of the host: the worker answers for its site only, a release inside is an app of its own, ' +
           'a failed start says why', [], async (c) => {
    const folder = copy_site(`folders-${c.engine}`);
    cpSync(SITE, path.join(folder, '3.1'), {recursive: true});
    cpSync(SITE, path.join(folder, 'broken'), {recursive: true});
    const lost = readdirSync(SITE).find((name) => name.startsWith('vexa.worker.'));
    rmSync(path.join(folder, 'broken', lost));
    writeFileSync(path.join(folder, 'notes.html'), '<!doctype html><title>Notes</title>');
    const host = await c.host(folder);
    const {page} = await c.open(null, '', host.url);
    // The program gone from the host: a notice instead of the start's text.
    await page.until(() => !document.getElementById('notice').hidden);
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
      await isolated(page);
      await kept(page);
      assert.equal(await page.evaluate(() => navigator.serviceWorker.controller.scriptURL), host.url + release + 'sw.js');
      if (!cannot(c.engine, 'installing')) {
        const devtools = await page.native.createCDPSession();
        assert.equal((await devtools.send('Page.getAppId')).appId, host.url + release);
      }
    }
    // A first visit whose worker cannot keep a file of the site names it.
    await page.goto(host.url + 'broken/?midi=sim');
    await page.getByRole('heading', {name: 'The page could not start'}).waitFor();
    assert.match(await page.locator('#notice').textContent(), new RegExp(`did not finish \\(${lost}: 404\\)`));
    forgive(page, /404/);
  });
});
