// Asking for MIDI with System Exclusive messages, in Chromium, Firefox and WebKit (driver.mjs): the page
// starts at once where the permission was granted before, and otherwise says why it asks before the browser
// asks the person, on a click. The browser's answer to navigator.permissions is the stand-in's (unit.mjs).
// A test that needs what an engine cannot do is skipped with the reason. VEXA_ENGINES runs some engines only.
import assert from 'node:assert/strict';
import {describe} from 'node:test';

import {missing, version} from './driver.mjs';
import {engine_setup, require_site} from './support.mjs';

require_site();

const ENGINES = ['chromium', 'firefox', 'webkit'];
const CHOSEN = (process.env.VEXA_ENGINES || '').split(/\s+/).filter(Boolean);
const TITLE = 'Quorvanex vexa 3.1';
const FIREFOX = 'Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0';
const CHROME = 'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/140.0 Safari/537.36';

const requested = (page) => page.evaluate(() => window.vexaUnit.requested);

// The explanation, and nothing asked of the browser before the button.
async function explained(page) {
  await page.getByRole('heading', {name: 'Connect to the vexa'}).waitFor();
  const text = await page.locator('#notice').textContent();
  assert.match(text, /System Exclusive MIDI messages: they read and change its settings and carry the firmware update/);
  assert.equal(await requested(page), undefined);
  await page.getByRole('button', {name: 'Try the simulated unit'}).waitFor();
  return text;
}

function engine_tests(engine) {
  const run = engine_setup(engine);
  const {check} = run;

  check('not granted before: the page says why, and asks when "Connect to MIDI devices" is pressed', ['stand-in'],
        async () => {
    // As a browser other than Firefox says it is: the Firefox paragraph is the next test's.
    for (const permission of ['prompt', 'missing']) {
      const {page, close} = await run.browser.open(run.server.url, {permission, user_agent: CHROME});
      const text = await explained(page);
      assert.doesNotMatch(text, /Plug in the vexa/);
      await page.getByRole('button', {name: 'Connect to MIDI devices'}).click();
      await page.getByRole('dialog', {name: TITLE}).waitFor();
      assert.deepEqual(await requested(page), {sysex: true});
      await close();
    }
  });

  check('in Firefox the explanation asks for the vexa to be plugged in before allowing', ['stand-in'], async (t) => {
    // Firefox as it is; the other engines as Firefox says it is.
    const {page, close} = await run.browser.open(run.server.url, {permission: 'prompt',
                                                          user_agent: engine === 'firefox' ? undefined : FIREFOX});
    if (engine === 'firefox') t.diagnostic(await page.evaluate(() => navigator.userAgent));
    assert.match(await explained(page),
                 /Plug in the vexa before you allow it: Firefox offers its permission add-on only while a MIDI device is connected/);
    await close();
  });

  check('granted before: the page starts at once; refused on the click: the page says how to allow it', ['stand-in'],
        async () => {
    const granted = await run.browser.open(run.server.url, {permission: 'granted'});
    await granted.page.getByRole('dialog', {name: TITLE}).waitFor();
    assert.deepEqual(await requested(granted.page), {sysex: true});
    await granted.page.locator('#notice').waitFor({state: 'hidden'});
    await granted.close();

    const refused = await run.browser.open(run.server.url, {permission: 'prompt', web_midi: 'refused'});
    await refused.page.getByRole('button', {name: 'Connect to MIDI devices'}).click();
    await refused.page.getByRole('heading', {name: 'Access to MIDI devices was refused'}).waitFor();
    await refused.page.getByRole('button', {name: 'Connect to MIDI devices'}).waitFor({state: 'hidden'});
    await refused.close();
  });
}

for (const engine of ENGINES) {
  const chosen = CHOSEN.length === 0 || CHOSEN.includes(engine);
  const skip = !chosen ? 'not in VEXA_ENGINES' : missing(engine);
  describe(engine + (skip ? '' : ` (${version(engine)})`), {skip: skip || false}, () => engine_tests(engine));
}
