// The utility in Chromium, Firefox and WebKit, used as a person with a screen reader would: through roles
// and accessible names (driver.mjs). The unit behind Web MIDI is the stand-in of unit.mjs. Firefox runs
// twice: as it is, and without Atomics.waitAsync as Firefox before 145 was, so that the page's other way of
// learning of sends runs in the engine it was written for. A test that needs what an engine cannot do here
// is skipped with the reason. VEXA_ENGINES (say "firefox webkit") runs some engines only.
import assert from 'node:assert/strict';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';

import {launch, missing, version} from './driver.mjs';
import {image_packets, require_site, ROOT, serve} from './support.mjs';

require_site();

const RUNS = [
  {engine: 'chromium'},
  {engine: 'firefox'},
  {engine: 'firefox', wait_async: false},
  {engine: 'webkit'},
];
const CHOSEN = (process.env.VEXA_ENGINES || '').split(/\s+/).filter(Boolean);

const TITLE = 'Quorvanex vexa 3.1';
// The settings in the order of their parameter bytes 52 53 55 56 58 59 5A 5B 5C 5D.
const PARAMS = [0x52, 0x53, 0x55, 0x56, 0x58, 0x59, 0x5a, 0x5b, 0x5c, 0x5d];
const CHECKS = {
  0x52: 'Blank leading zero', 0x55: 'Blank frames when running', 0x58: 'Enable stationary LTC output',
  0x59: 'Infinite flywheel', 0x5a: 'MTC with MMC Locate', 0x5b: 'Extended LTC hold off',
  0x5c: 'Enable MTC full message', 0x5d: 'Enable TRVX',
};
const INVERTED = new Set([0x58]);  // ticked means the unit's value 0
// What the engine's own navigator.requestMIDIAccess leads to here: Chromium refuses without a granted
// permission, Firefox without its site-permission add-on (SecurityError), WebKit has none.
const OWN_WEB_MIDI = {
  chromium: 'Access to MIDI devices was refused', firefox: 'Access to MIDI devices was refused',
  webkit: 'This browser has no Web MIDI',
};

// Polls a function in the page until it returns true (waitForFunction evaluates strings, which the
// page's Content-Security-Policy forbids).
async function until(page, fn, arg, timeout_ms = 30000) {
  const end = Date.now() + timeout_ms;
  while (!(await page.evaluate(fn, arg))) {
    if (Date.now() > end) throw new Error('timed out waiting for ' + fn);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

const messages = (page) => page.evaluate(() => window.vexaUnit.received);
const unit = (page) => page.evaluate(() => ({...window.vexaUnit, received: undefined, packets: undefined}));

async function connect(page, name = 'vexa') {
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name}).click();
}

async function box(page, title, text) {
  const alert = page.getByRole('alertdialog', {name: title});
  await alert.waitFor();
  assert.match(await alert.textContent(), text);
  return alert;
}

function engine_tests(run) {
  let server;
  let browser;
  before(async () => {
    server = await serve();
    browser = await launch(run.engine);
  });
  after(async () => {
    await browser?.close();
    server?.stop();
  });
  const without_wait_async = run.wait_async === false;

  // A test of the engine, skipped with the reason where it needs what the engine cannot do. Without
  // Atomics.waitAsync only the tests that send MIDI messages through the page run: nothing else differs.
  const check = (title, needs, body) => test(title, async (t) => {
    const reason = needs.map((need) => browser.cannot[need]).find(Boolean);
    if (reason) return t.skip(reason);
    if (without_wait_async && !needs.includes('sends')) return t.skip('sends no MIDI message through the page');
    return body(t);
  });

  // The page with the stand-in unit (null: none, the engine's own navigator as it is).
  async function open(unit_options = {}, query = '', url = server.url, options = {}) {
    const with_run = unit_options && (without_wait_async ? {...unit_options, wait_async: false} : unit_options);
    return browser.open(url, with_run, query, options);
  }

  async function start(unit_options = {}, query = '') {
    const opened = await open(unit_options, query);
    const {page} = opened;
    opened.dialog = page.getByRole('dialog', {name: TITLE});
    await opened.dialog.waitFor();
    opened.device_text = page.locator('#client [role=status]');
    return opened;
  }

  async function finish(t, {page, close}) {
    assert.deepEqual(await page.foreign_requests(), [], 'requests to other origins');
    if (page.errors) assert.deepEqual(page.errors, [], 'errors on the page');
    else t.diagnostic('errors on the page are not seen over classic WebDriver');
    await close();
  }

  check('start-up: the dialog drawn from its template, both help boxes, closing', ['stand-in'], async (t) => {
    const opened = await start();
    const {page} = opened;
    assert.equal((await page.evaluate(() => window.vexaUnit.requested)).sysex, true);
    // Isolated for the threads, and a policy that allows no other origin.
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    const policy = opened.headers['content-security-policy'];
    assert.match(policy, /^default-src 'self';/);
    assert.doesNotMatch(policy, /https?:|\*/);
    assert.equal(await page.title(), TITLE);
    assert.match(await page.locator('#favicon').getAttribute('href'), /^blob:/);
    // Template positions: the update button at (40, 81) and 133 x 12 dialog units.
    const button = page.getByRole('button', {name: 'Update firmware'});
    const client = await page.locator('#client').boundingBox();
    const drawn = await button.boundingBox();
    assert.equal(Math.round(drawn.x - client.x), 75);
    assert.equal(Math.round(drawn.y - client.y), 165);
    assert.equal(Math.round(drawn.width), 249);
    assert.ok(await page.locator('img.control').evaluate((img) => img.complete && img.naturalWidth > 0));
    for (const name of Object.values(CHECKS)) assert.equal(await page.getByRole('checkbox', {name}).isDisabled(), true);
    assert.equal(await page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'}).count(), 1);
    assert.equal(await page.getByRole('slider', {name: 'Brightness'}).count(), 1);
    assert.equal(await page.getByRole('progressbar').count(), 1);

    await page.getByRole('button', {name: 'Help: Update firmware'}).click();
    const help_update = await box(page, 'Help', /Hold down both keys while connecting/);
    assert.equal(await opened.dialog.getAttribute('aria-disabled'), 'true');
    await page.keyboard.press('Enter');
    await help_update.waitFor({state: 'hidden'});
    await page.getByRole('button', {name: 'Help: Blank leading zero'}).click();
    const help_settings = await box(page, 'Help', /All settings are stored non volatile\./);
    await help_settings.getByRole('button', {name: 'OK'}).click();
    await help_settings.waitFor({state: 'hidden'});

    await page.getByRole('button', {name: 'Close'}).click();
    await page.getByText('The program has ended').waitFor();
    await finish(t, opened);
  });

  check('connecting: all ten settings as the unit reports them, the read-back burst 50 ms apart', ['stand-in', 'sends'],
        async (t) => {
    const settings = [1, 42, 0, 11, 0, 1, 0, 1, 0, 1];
    const opened = await start({settings});
    const {page} = opened;
    await connect(page);
    await opened.device_text.filter({hasText: 'Firmware 3.1'}).waitFor();
    await page.getByRole('checkbox', {name: 'Enable TRVX'}).and(page.locator(':enabled')).waitFor();
    await until(page, () => document.querySelector('[role=slider]').getAttribute('aria-valuenow') === '11');
    for (const [param, name] of Object.entries(CHECKS)) {
      const value = settings[PARAMS.indexOf(Number(param))];
      const ticked = INVERTED.has(Number(param)) ? value === 0 : value === 1;
      assert.equal(await page.getByRole('checkbox', {name}).isChecked(), ticked, name);
    }
    const spin = page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'});
    assert.equal(await spin.inputValue(), '042');
    assert.equal(await spin.getAttribute('aria-valuenow'), '42');

    const reads = (await messages(page)).filter((m) => m.bytes.length === 6 && m.bytes[4] === 0x7f);
    assert.deepEqual(reads.slice(0, 10).map((m) => m.bytes[3]), [0x52, 0x55, 0x53, 0x58, 0x59, 0x5a, 0x5b, 0x5c, 0x5d, 0x56]);
    // Each send crosses to the page's main thread, which may be busy for a moment (drawing, or a loaded
    // machine): a late message shortens the gap after it, and the first or last of a span may come a frame
    // late. Over the ten gaps from the first read-back to the status query the pacing still shows: sent
    // without pauses they would take a few milliseconds, with 100 ms pauses a second.
    const all = await messages(page);
    const first_read = all.indexOf(all.find((m) => m.bytes.length === 6 && m.bytes[4] === 0x7f));
    const burst = all.slice(first_read, first_read + 11);
    assert.deepEqual(burst[10].bytes, [0xf0, 0x2c, 0x4d, 0x10, 0xf7]);
    const gaps = burst.slice(1).map((m, i) => m.at - burst[i].at);
    for (const gap of gaps) assert.ok(gap >= 0 && gap < 150, `read-back gaps ${gaps}`);
    const mean = (burst[10].at - burst[0].at) / 10;
    assert.ok(mean >= 40 && mean < 70, `mean gap of the burst ${mean} ms (${gaps})`);
    await opened.dialog.screenshot({path: path.join(ROOT, `build-web/connected-${run.engine}.png`)});
    await finish(t, opened);
  });

  check('settings: each kind of control sends its exact bytes', ['stand-in', 'sends'], async (t) => {
    const opened = await start();
    const {page} = opened;
    await connect(page);
    const trvx = page.getByRole('checkbox', {name: 'Enable TRVX'});
    await trvx.and(page.locator(':enabled')).waitFor();
    const sent_after = async (action, expected) => {
      const before_count = (await messages(page)).length;
      await action();
      await until(page,
          ([count, wanted]) => window.vexaUnit.received.slice(count).some((m) => m.bytes.join() === wanted.join()),
          [before_count, expected]);
    };
    // The page draws the dialog's state a frame after the program changed it: wait for the drawing.
    await sent_after(() => trvx.click(), [0xf0, 0x2c, 0x4d, 0x5d, 0x01, 0xf7]);
    await trvx.and(page.locator(':checked')).waitFor();
    await sent_after(() => page.keyboard.press('Space'), [0xf0, 0x2c, 0x4d, 0x5d, 0x00, 0xf7]);
    await trvx.and(page.locator(':not(:checked)')).waitFor();
    await sent_after(() => page.getByRole('checkbox', {name: 'Enable stationary LTC output'}).click(),
                     [0xf0, 0x2c, 0x4d, 0x58, 0x01, 0xf7]);
    await sent_after(() => page.getByRole('button', {name: 'Increase'}).click(), [0xf0, 0x2c, 0x4d, 0x53, 0x01, 0xf7]);
    const slider = page.getByRole('slider', {name: 'Brightness'});
    await sent_after(async () => {
      await slider.focus();
      await page.keyboard.press('ArrowRight');
    }, [0xf0, 0x2c, 0x4d, 0x56, 0x09, 0xf7]);
    await slider.and(page.locator('[aria-valuenow="9"]')).waitFor();
    const spin = page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'});
    await spin.click();
    await page.keyboard.press('Backspace');
    await page.keyboard.type('7');
    await sent_after(() => page.keyboard.press('Tab'), [0xf0, 0x2c, 0x4d, 0x53, 0x07, 0xf7]);
    const settings = await page.evaluate(() => window.vexaUnit.settings);
    assert.deepEqual(settings, [0, 7, 0, 9, 1, 0, 0, 0, 0, 0]);
    await finish(t, opened);
  });

  check('unplug: "vexa not found" and the settings disabled', ['stand-in', 'sends'], async (t) => {
    const opened = await start();
    const {page} = opened;
    await connect(page);
    const trvx = page.getByRole('checkbox', {name: 'Enable TRVX'});
    await trvx.and(page.locator(':enabled')).waitFor();
    await page.evaluate(() => window.vexaUnit.unplug());
    await opened.device_text.filter({hasText: 'vexa not found'}).waitFor();
    // Emptying the port list is the tick's last step; the page may have drawn the text before it.
    await until(page, () => document.querySelectorAll('[role=option]').length === 0);
    for (const name of Object.values(CHECKS)) assert.equal(await page.getByRole('checkbox', {name}).isDisabled(), true);
    assert.equal(await page.getByRole('slider', {name: 'Brightness'}).getAttribute('aria-disabled'), 'true');
    assert.equal(await page.getByRole('option').count(), 0);
    await finish(t, opened);
  });

  // Port names come as UTF-8 and reach the page whole; the program pairs the input by the same name.
  check('a port named "Café ütility": listed whole, and connected', ['stand-in', 'sends'], async (t) => {
    const name = 'Café ütility';
    const opened = await start({name});
    const {page} = opened;
    await connect(page, name);
    await opened.device_text.filter({hasText: 'Firmware 3.1'}).waitFor();
    assert.equal(await page.getByRole('combobox', {name: 'MIDI port'}).textContent(), name);
    await finish(t, opened);
  });

  // Both ways the page learns of a send: waiting on the send ring itself (Atomics.waitAsync) and, where the
  // browser lacks that, one call per send posted to its main thread. The image is three times the ring's
  // size, so the ring wraps around; a packet damaged on the way would be answered with a NAK and sent
  // again, so the unit counts every packet it refused.
  for (const wait_async of [true, false]) {
    const how = wait_async ? 'page waits on the ring' : 'without Atomics.waitAsync';
    check(`update: the whole image written byte for byte (${how})`, ['stand-in', 'sends'], async (t) => {
      if (wait_async && without_wait_async) return t.skip('this run removes Atomics.waitAsync');
      const opened = await start({mode: 'boot', erase_ms: 200, keep_history: false, wait_async});
      const {page} = opened;
      await connect(page);
      await opened.device_text.filter({hasText: 'vexa in update mode'}).waitFor();
      // Firefox before 145 (Debian 12's firefox-esr without its security updates) has no Atomics.waitAsync
      // of its own: there the page learns of sends the other way, which the next case tests.
      if (wait_async && !(await page.evaluate(() => typeof Atomics.waitAsync === 'function'))) {
        await finish(t, opened);
        return t.skip('the engine has no Atomics.waitAsync');
      }
      const page_waits = await page.evaluate(() => Module.HEAP32[(Module._webmidi_ring() >> 2) + 2]);
      assert.equal(page_waits, wait_async ? 1 : 0);
      await page.getByRole('button', {name: 'Update firmware'}).click();
      await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});
      const written = await page.evaluate(() => window.vexaUnit.packets.map(
          (p) => p.map((b) => b.toString(16).padStart(2, '0')).join(' ')));
      const expected = image_packets();
      assert.equal(written.length, expected.length);
      assert.ok(written.every((packet, i) => packet === expected[i]), 'packets differ from the image');
      assert.ok(Number(await page.getByRole('progressbar').getAttribute('aria-valuenow')) > 0);
      const {mode, rejected} = await unit(page);
      assert.equal(mode, 'running');
      assert.equal(rejected, 0, 'packets refused by the unit');
      await finish(t, opened);
    });
  }

  check('update: three NAKs give "Checksum error" and "Programming failed"', ['stand-in', 'sends'], async (t) => {
    const opened = await start({mode: 'boot', erase_ms: 50, naks: {3: 3}});
    const {page} = opened;
    await connect(page);
    await opened.device_text.filter({hasText: 'vexa in update mode'}).waitFor();
    await page.getByRole('button', {name: 'Update firmware'}).click();
    const failed = await box(page, 'Warning', /Programming failed/);
    await page.getByRole('status').filter({hasText: 'Checksum error'}).waitFor();
    const packet3 = (await messages(page)).filter((m) => m.bytes[3] === 0x30 && m.bytes[6] === 3);
    assert.equal(packet3.length, 3);
    assert.equal((await unit(page)).next_packet, 3);
    await failed.getByRole('button', {name: 'OK'}).click();
    await failed.waitFor({state: 'hidden'});
    await finish(t, opened);
  });

  check('Web MIDI refused or missing: the page says so and offers the simulated unit', ['stand-in'], async (t) => {
    const refused = await open({web_midi: 'refused'});
    await refused.page.getByRole('heading', {name: 'Access to MIDI devices was refused'}).waitFor();
    assert.match(await refused.page.locator('#notice').textContent(), /Allow, and reload/);
    await refused.page.getByRole('button', {name: 'Try the simulated unit'}).click();
    await refused.page.getByRole('dialog', {name: TITLE}).waitFor();
    assert.match(await refused.page.url(), /\?midi=sim$/);
    await finish(t, refused);

    const missing_midi = await open({web_midi: 'missing'});
    await missing_midi.page.getByRole('heading', {name: 'This browser has no Web MIDI'}).waitFor();
    assert.match(await missing_midi.page.locator('#notice').textContent(), /Safari has no Web MIDI/);
    await finish(t, missing_midi);
  });

  // An engine with Web MIDI has not been allowed it here: the page first says why it asks (in Firefox, that
  // the vexa must be plugged in before allowing), and asks on the button.
  check(`the engine's own Web MIDI: "${OWN_WEB_MIDI[run.engine]}", then the simulated unit`, [], async (t) => {
    const opened = await open(null);
    const {page} = opened;
    if (await page.evaluate(() => Boolean(navigator.requestMIDIAccess))) {
      await page.getByRole('heading', {name: 'Connect to the vexa'}).waitFor();
      const firefox = /Plug in the vexa before you allow it/.test(await page.locator('#notice').textContent());
      assert.equal(firefox, run.engine === 'firefox');
      await page.getByRole('button', {name: 'Connect to MIDI devices'}).click();
    }
    const asked = Date.now();
    await page.getByRole('heading', {name: OWN_WEB_MIDI[run.engine]}).waitFor();
    t.diagnostic(`the notice came ${((Date.now() - asked) / 1000).toFixed(1)} s after the page had loaded`);
    assert.match(await page.locator('#notice').textContent(), /Safari has no Web MIDI/);
    await page.getByRole('button', {name: 'Try the simulated unit'}).click();
    await page.getByRole('dialog', {name: TITLE}).waitFor();
    await finish(t, opened);
  });

  // The program's threads share memory: without a SharedArrayBuffer on the isolated page it cannot start,
  // and the page says so instead of its text for the start.
  check('threads: the isolated page has SharedArrayBuffer as the engine comes, or says it cannot start', [],
        async (t) => {
    const opened = await open(null, '?midi=sim', server.url, {shared_memory: false});
    const {page} = opened;
    // The dialog, or the title of a notice, whichever the page shows first.
    await until(page, () => !document.getElementById('window').hidden || !document.getElementById('notice').hidden);
    const shown = await page.evaluate(() => (document.getElementById('window').hidden ?
                                             document.getElementById('notice-title').textContent : 'dialog'));
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    const shared = await page.evaluate(() => typeof SharedArrayBuffer);
    assert.equal(shown, shared === 'undefined' ? 'This browser cannot run the utility' : 'dialog');
    if (shared === 'undefined') {
      assert.match(await page.locator('#notice').textContent(), /gives the page no SharedArrayBuffer/);
      assert.equal(await page.locator('#loading').evaluate((el) => el.hidden), true);
      t.diagnostic(`${version(run.engine)} has no SharedArrayBuffer on the isolated page unless ` +
                   'JSC_useSharedArrayBuffer=1 is in its environment (its other tests run with it): the page ' +
                   'says it cannot run');
    }
    if (run.engine !== 'webkit') assert.equal(shared, 'function');
    await finish(t, opened);
  });

  check('?midi=sim: the built-in simulated unit, its update mode entered from the page, a whole update', [],
        async (t) => {
    const stand_in = !browser.cannot['stand-in'];
    const opened = await start(stand_in ? {} : null, '?midi=sim');
    const {page} = opened;
    if (stand_in) assert.equal(await page.evaluate(() => window.vexaUnit.requested), undefined);
    const keys = page.getByRole('button', {name: 'Both keys held (F9)'});
    assert.equal(await keys.getAttribute('aria-pressed'), 'false');
    await keys.click();
    await until(page, () => document.querySelector('#sim-boot').getAttribute('aria-pressed') === 'true');
    await page.keyboard.press('F9');
    await until(page, () => document.querySelector('#sim-boot').getAttribute('aria-pressed') === 'false');
    await connect(page);
    await opened.device_text.filter({hasText: 'Firmware 3.1'}).waitFor();
    // The time code reader's line below the dialog: the built-in unit's time code, running.
    await page.getByRole('timer', {name: 'Time code'}).filter({hasText: /^Time code 01:\d\d:\d\d:\d\d 25 fps running/}).waitFor();
    await page.reload();
    await opened.dialog.waitFor();
    await keys.click();
    await until(page, () => document.querySelector('#sim-boot').getAttribute('aria-pressed') === 'true');
    await connect(page);
    await opened.device_text.filter({hasText: 'vexa in update mode'}).waitFor();
    await page.getByRole('button', {name: 'Update firmware'}).click();
    await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});
    await finish(t, opened);
  });

  check('a static host that sets no headers: the service worker isolates the page', [], async (t) => {
    const plain = await serve(true);
    try {
      const opened = await open(browser.cannot['stand-in'] ? null : {}, '?midi=sim', plain.url);
      const {page} = opened;
      await page.getByRole('dialog', {name: TITLE}).waitFor();
      assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
      assert.equal(await page.evaluate(() => Boolean(navigator.serviceWorker.controller)), true);
      await finish(t, opened);
    } finally {
      plain.stop();
    }
  });
}

for (const run of RUNS) {
  const chosen = CHOSEN.length === 0 || CHOSEN.includes(run.engine);
  const skip = !chosen ? 'not in VEXA_ENGINES' : missing(run.engine);
  const title = `${run.engine}${run.wait_async === false ? ' without Atomics.waitAsync' : ''}` +
                (skip ? '' : ` (${version(run.engine)})`);
  describe(title, {skip: skip || false}, () => engine_tests(run));
}
