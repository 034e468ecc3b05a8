// Asking for MIDI with System Exclusive messages, in headless Chromium: the page starts at once where the
// permission was granted before, and otherwise says why it asks before the browser asks the person, on a
// click. The browser's answer to navigator.permissions is the stand-in's (unit.mjs).
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {launch, open_page, require_site, serve} from './support.mjs';

require_site();

const TITLE = 'Quorvanex vexa 3.1';
const FIREFOX = 'Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0';

let server;
let browser;
before(async () => {
  server = await serve();
  browser = await launch();
});
after(async () => {
  await browser?.close();
  server?.stop();
});

const requested = (page) => page.evaluate(() => window.vexaUnit.requested);

// The explanation, and nothing asked of the browser before the button.
async function explained(page) {
  await page.getByRole('heading', {name: 'Connect to the vexa'}).waitFor();
  const text = await page.locator('#notice').textContent();
  assert.match(text, /System Exclusive MIDI messages: they read and change its settings and carry the firmware update/);
  assert.equal(await requested(page), undefined);
  assert.equal(await page.getByRole('button', {name: 'Try the simulated unit'}).isVisible(), true);
  return text;
}

test('not granted before: the page says why, and asks when "Connect to MIDI devices" is pressed', async () => {
  for (const permission of ['prompt', 'missing']) {
    const {context, page} = await open_page(browser, server.url, {permission});
    const text = await explained(page);
    assert.doesNotMatch(text, /Plug in the vexa/);
    await page.getByRole('button', {name: 'Connect to MIDI devices'}).click();
    await page.getByRole('dialog', {name: TITLE}).waitFor();
    assert.deepEqual(await requested(page), {sysex: true});
    await context.close();
  }
});

test('in Firefox the explanation asks for the vexa to be plugged in before allowing', async () => {
  const {context, page} = await open_page(browser, server.url, {permission: 'prompt', user_agent: FIREFOX});
  assert.match(await explained(page),
               /Plug in the vexa before you allow it: Firefox offers its permission add-on only while a MIDI device is connected/);
  await context.close();
});

test('granted before: the page starts at once; refused on the click: the page says how to allow it', async () => {
  const granted = await open_page(browser, server.url, {permission: 'granted'});
  await granted.page.getByRole('dialog', {name: TITLE}).waitFor();
  assert.deepEqual(await requested(granted.page), {sysex: true});
  assert.equal(await granted.page.locator('#notice').isHidden(), true);
  await granted.context.close();

  const refused = await open_page(browser, server.url, {permission: 'prompt', web_midi: 'refused'});
  await refused.page.getByRole('button', {name: 'Connect to MIDI devices'}).click();
  await refused.page.getByRole('heading', {name: 'Access to MIDI devices was refused'}).waitFor();
  assert.equal(await refused.page.getByRole('button', {name: 'Connect to MIDI devices'}).isHidden(), true);
  await refused.context.close();
});
