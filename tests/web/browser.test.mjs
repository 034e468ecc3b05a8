// The utility on the page, used as a person with a screen reader would: through roles and accessible names
// (driver.mjs), the unit behind Web MIDI the stand-in of unit.mjs.
import assert from 'node:assert/strict';
import path from 'node:path';

import {assert_image_written, connect, dialog, engines, ROOT, succeeded, TITLE} from './support.mjs';

// The settings in the order of their parameter bytes 52 53 55 56 58 59 5A 5B 5C 5D.
const PARAMS = [0x52, 0x53, 0x55, 0x56, 0x58, 0x59, 0x5a, 0x5b, 0x5c, 0x5d];
const CHECKS = {
  0x52: 'Blank leading zero', 0x55: 'Blank frames when running', 0x58: 'Enable stationary LTC output',
  0x59: 'Infinite flywheel', 0x5a: 'MTC with MMC Locate', 0x5b: 'Extended LTC hold off',
  0x5c: 'Enable MTC full message', 0x5d: 'Enable TRVX',
};
const INVERTED = new Set([0x58]);  // ticked means the unit's value 0
const REFUSED = 'Access to MIDI devices was refused';
const NO_WEB_MIDI = 'This browser has no Web MIDI';
const FIREFOX = 'Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0';
const CHROME = 'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/140.0 Safari/537.36';

const messages = (page) => page.evaluate(() => window.vexaUnit.received);
const sysex = (...bytes) => [0xf0, 0x2c, 0x4d, ...bytes, 0xf7];
// The settings and their files can be neither changed nor saved nor loaded.
async function settings_disabled(page, names = [...Object.values(CHECKS), 'Save settings…', 'Load settings…']) {
  for (const name of names)
    await page.getByRole(name.endsWith('…') ? 'button' : 'checkbox', {name}).waitFor({state: 'disabled'});
}

async function box(page, title, text) {
  const alert = page.getByRole('alertdialog', {name: title});
  await alert.waitFor();
  assert.match(await alert.textContent(), text);
  return alert;
}

engines({timeout_ms: 120000}, (run) => {
  // Port names come as UTF-8 and reach the page whole; the program pairs the input by the same name.
  run.each('the page: start-up, both help boxes, connecting to "Café ütility" (all ten settings, the read-back ' +
           'burst 50 ms apart), each kind of control\'s exact bytes by mouse and key, unplugging, closing',
           ['stand-in'], async (c) => {
    const settings = [1, 42, 0, 11, 0, 1, 0, 1, 0, 1];
    const name = 'Café ütility';
    const page = await c.start({settings, name});
    assert.equal((await page.evaluate(() => window.vexaUnit.requested)).sysex, true);
    // Isolated for the threads, and a policy that allows no other origin.
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    const policy = await page.evaluate(async () =>
      (await fetch(location.href)).headers.get('content-security-policy'));
    assert.match(policy, /^default-src 'self';/);
    assert.doesNotMatch(policy, /https?:|\*/);
    assert.equal(await page.evaluate(() => document.title), TITLE);
    assert.match(await page.locator('#favicon').getAttribute('href'), /^blob:/);
    // Template positions: the update button at (40, 81) and 133 x 12 dialog units.
    const at = await page.getByRole('button', {name: 'Update firmware'}).evaluate((el) => {
      const [button, client] = [el, document.getElementById('client')].map((e) => e.getBoundingClientRect());
      return [button.x - client.x, button.y - client.y, button.width].map(Math.round);
    });
    assert.deepEqual(at, [75, 165, 249]);
    assert.ok(await page.locator('img.control').evaluate((img) => img.complete && img.naturalWidth > 0));
    await settings_disabled(page);
    await page.getByRole('button', {name: 'Help: Update firmware'}).click();
    const help_update = await box(page, 'Help', /Hold down both keys while connecting/);
    assert.equal(await page.getByRole('dialog', {name: TITLE}).getAttribute('aria-disabled'), 'true');
    await page.keyboard.press('Enter');
    await help_update.waitFor({state: 'hidden'});
    await page.getByRole('button', {name: 'Help: Blank leading zero'}).click();
    const help_settings = await box(page, 'Help', /All settings are stored non volatile\./);
    await page.getByRole('button', {name: 'OK'}).click();
    await help_settings.waitFor({state: 'hidden'});

    await connect(page, 'Firmware 3.1', name);
    assert.equal(await page.getByRole('combobox', {name: 'MIDI port'}).textContent(), name);
    const trvx = page.getByRole('checkbox', {name: 'Enable TRVX'});
    await trvx.waitFor({state: 'enabled'});
    await page.until(() => document.querySelector('[role=slider]').getAttribute('aria-valuenow') === '11');
    for (const [param, name] of Object.entries(CHECKS)) {
      const value = settings[PARAMS.indexOf(Number(param))];
      const ticked = INVERTED.has(Number(param)) ? value === 0 : value === 1;
      assert.equal(await page.getByRole('checkbox', {name}).isChecked(), ticked, name);
    }
    const spin = page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'});
    assert.equal(await spin.inputValue(), '042');
    assert.equal(await spin.getAttribute('aria-valuenow'), '42');
    // Each send crosses to the page's main thread, which may be busy for a moment (drawing, or a loaded
    // machine): a late message shortens the gap after it, and the first or last of a span may come a frame
    // late. Over the ten gaps from the first read-back to the status query the pacing still shows: sent
    // without pauses they would take a few milliseconds, with 100 ms pauses a second.
    const all = await messages(page);
    const first_read = all.findIndex((m) => m.bytes.length === 6 && m.bytes[4] === 0x7f);
    const burst = all.slice(first_read, first_read + 11);
    const order = [0x52, 0x55, 0x53, 0x58, 0x59, 0x5a, 0x5b, 0x5c, 0x5d, 0x56];
    assert.deepEqual(burst.slice(0, 10).map((m) => m.bytes[3]), order);
    assert.deepEqual(burst[10].bytes, sysex(0x10));
    const gaps = burst.slice(1).map((m, i) => m.at - burst[i].at);
    for (const gap of gaps) assert.ok(gap >= 0 && gap < 150, `read-back gaps ${gaps}`);
    const mean = (burst[10].at - burst[0].at) / 10;
    assert.ok(mean >= 40 && mean < 70, `mean gap of the burst ${mean} ms (${gaps})`);
    await (await page.native.$('#window')).screenshot({path: path.join(ROOT, `build-web/connected-${c.engine}.png`)});

    // Each action sends its setting's parameter and value. The page draws the dialog's state a frame after
    // the program changed it: the drawing is waited for.
    const sent_after = async (action, param, value) => {
      const count = (await messages(page)).length;
      await action();
      await page.until(([from, wanted]) => window.vexaUnit.received.slice(from).some(
          (m) => m.bytes.join() === wanted), [count, sysex(param, value).join()]);
    };
    await sent_after(() => trvx.click(), 0x5d, 0);
    await trvx.and(':not(:checked)').waitFor();
    await sent_after(() => page.keyboard.press('Space'), 0x5d, 1);
    await trvx.and(':checked').waitFor();
    await sent_after(() => page.getByRole('checkbox', {name: 'Enable stationary LTC output'}).click(), 0x58, 1);
    await sent_after(() => page.getByRole('button', {name: 'Increase'}).click(), 0x53, 43);
    const slider = page.getByRole('slider', {name: 'Brightness'});
    await sent_after(() => slider.focus().then(() => page.keyboard.press('ArrowRight')), 0x56, 12);
    await slider.and('[aria-valuenow="12"]').waitFor();
    await spin.click();
    for (const key of ['End', 'Backspace', 'Backspace', 'Backspace', '7']) await page.keyboard.press(key);
    await sent_after(() => page.keyboard.press('Tab'), 0x53, 7);
    assert.deepEqual(await page.evaluate(() => window.vexaUnit.settings), [1, 7, 0, 12, 1, 1, 0, 1, 0, 1]);

    await page.evaluate(() => window.vexaUnit.unplug());
    await page.locator('#client [role=status]').filter({hasText: 'vexa not found'}).waitFor();
    // Emptying the port list is the tick's last step; the page may have drawn the text before it.
    await page.until(() => document.querySelectorAll('[role=option]').length === 0);
    await settings_disabled(page);
    assert.equal(await page.getByRole('slider', {name: 'Brightness'}).getAttribute('aria-disabled'), 'true');
    await page.getByRole('button', {name: 'Close'}).click();
    await page.getByRole('status').filter({hasText: 'The program has ended'}).waitFor();
  });

  // Both ways the page learns of a send: waiting on the send ring itself (Atomics.waitAsync) and, where the
  // browser lacks that (Firefox before 145), one call per send posted to its main thread. The image is
  // three times the ring's size, so the ring wraps around.
  for (const wait_async of [true, false]) {
    const how = wait_async ? 'page waits on the ring' : 'without Atomics.waitAsync';
    run.each(`update: the whole image written byte for byte (${how})`, ['stand-in'], async (c) => {
      const page = await c.start({mode: 'boot', erase_ms: 200, wait_async});
      if (wait_async && !(await page.evaluate(() => typeof Atomics.waitAsync === 'function')))
        return c.t.skip('the engine has no Atomics.waitAsync (Firefox before 145): the next case is its way');
      await connect(page, 'vexa in update mode');
      assert.equal(await page.evaluate(() => Module.HEAP32[(Module._webmidi_ring() >> 2) + 2]), wait_async ? 1 : 0);
      await page.getByRole('button', {name: 'Update firmware'}).click();
      await succeeded(page);
      await assert_image_written(page);
      assert.ok(Number(await page.getByRole('progressbar').getAttribute('aria-valuenow')) > 0);
      assert.equal(await page.evaluate(() => window.vexaUnit.mode), 'running');
    });
  }

  run.once('update: no settings files in update mode; three NAKs give "Checksum error" and "Programming failed"',
           ['stand-in'], async (c) => {
    const page = await c.start({mode: 'boot', erase_ms: 50, naks: {3: 3}});
    await connect(page, 'vexa in update mode');
    await settings_disabled(page, ['Save settings…', 'Load settings…']);
    await page.getByRole('button', {name: 'Update firmware'}).click();
    const failed = await box(page, 'Warning', /Programming failed/);
    await page.getByRole('status').filter({hasText: 'Checksum error'}).waitFor();
    const packet3 = (await messages(page)).filter((m) => m.bytes[3] === 0x30 && m.bytes[6] === 3);
    assert.equal(packet3.length, 3);
    assert.equal(await page.evaluate(() => window.vexaUnit.next_packet), 3);
    await page.getByRole('button', {name: 'OK'}).click();
    await failed.waitFor({state: 'hidden'});
  });

  // Asking for MIDI with System Exclusive messages: the page starts at once where the browser says it was
  // allowed before, and otherwise says why it asks (in Firefox: plug the vexa in first) before the browser
  // asks the person, on a click. Answers of navigator.permissions and Web MIDI are the stand-in's.
  run.once('Web MIDI asked on a click, granted before, refused or missing: what the page says and does', ['stand-in'],
           async (c) => {
    const PLUG = /Plug in the vexa before you allow it: Firefox offers its permission add-on only while a MIDI device is connected/;
    // The stand-in's options; whether the page explains first, with the paragraph for Firefox; its end.
    for (const [unit, explains, end] of [
      [{permission: 'prompt', user_agent: CHROME}, 'plainly', TITLE],
      [{permission: 'missing', user_agent: CHROME}, 'plainly', TITLE],
      [{permission: 'prompt', user_agent: FIREFOX}, 'for Firefox', TITLE],
      [{permission: 'prompt', user_agent: CHROME, web_midi: 'refused'}, 'plainly', REFUSED],
      [{permission: 'granted'}, '', TITLE],
      [{web_midi: 'refused'}, '', REFUSED],
      [{web_midi: 'missing'}, '', NO_WEB_MIDI],
    ]) {
      const {page, close} = await c.open(unit);
      const notice = page.locator('#notice');
      if (explains) {
        // The explanation, and nothing asked of the browser before the button.
        await page.getByRole('heading', {name: 'Connect to the vexa'}).waitFor();
        const text = await notice.textContent();
        assert.match(text, /System Exclusive MIDI messages: they read and change its settings and carry the firmware update/);
        assert.equal(PLUG.test(text), explains === 'for Firefox', text);
        assert.equal(await page.evaluate(() => window.vexaUnit.requested), undefined);
        await page.getByRole('button', {name: 'Connect to MIDI devices'}).click();
      }
      if (end !== TITLE) {
        await page.getByRole('heading', {name: end}).waitFor();
        await page.getByRole('button', {name: 'Connect to MIDI devices'}).waitFor({state: 'hidden'});
        assert.match(await notice.textContent(), end === REFUSED ? /Allow, and reload/ : /Safari has no Web MIDI/);
        await page.getByRole('button', {name: 'Try the simulated unit'}).click();
      }
      await dialog(page);
      await notice.waitFor({state: 'hidden'});
      if (end === TITLE) assert.deepEqual(await page.evaluate(() => window.vexaUnit.requested), {sysex: true});
      else assert.match(await page.url(), /\?midi=sim$/);
      await close();
    }
  });

  // An engine with Web MIDI has not been allowed it here: the page first says why it asks (in Firefox, that
  // the vexa must be plugged in before allowing), and asks on the button.
  // Chromium refuses without a granted permission, Firefox without its site-permission add-on (SecurityError).
  const own = run.engine === 'webkit' ? NO_WEB_MIDI : REFUSED;
  run.each(`the engine's own Web MIDI: "${own}", then the simulated unit`, [], async (c) => {
    const {page} = await c.open(null);
    if (await page.evaluate(() => Boolean(navigator.requestMIDIAccess))) {
      await page.getByRole('heading', {name: 'Connect to the vexa'}).waitFor();
      const firefox = /Plug in the vexa before you allow it/.test(await page.locator('#notice').textContent());
      assert.equal(firefox, c.engine === 'firefox');
      await page.getByRole('button', {name: 'Connect to MIDI devices'}).click();
    }
    await page.getByRole('heading', {name: own}).waitFor();
    assert.match(await page.locator('#notice').textContent(), /Safari has no Web MIDI/);
    await page.getByRole('button', {name: 'Try the simulated unit'}).click();
    await dialog(page);
  });

  // The program's threads share memory: without a SharedArrayBuffer on the isolated page (as WebKitGTK comes,
  // without JSC_useSharedArrayBuffer=1 in its environment) it cannot start, and the page says so.
  run.once('threads: without SharedArrayBuffer the page says it cannot start', ['stand-in'], async (c) => {
    const {page} = await c.open({shared_memory: false}, '?midi=sim');
    await page.getByRole('heading', {name: 'This browser cannot run the utility'}).waitFor();
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    assert.match(await page.locator('#notice').textContent(), /gives the page no SharedArrayBuffer/);
    await page.locator('#loading').waitFor({state: 'hidden'});
  });
});
