// A firmware update on the page, in headless Chromium: while the firmware is written, leaving or reloading
// the page asks first (and not once the update has ended), and a page reloaded during the write says so
// when it starts again. The unit is the stand-in of unit.mjs.
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {launch, open_page, require_site, serve} from './support.mjs';

require_site();

const TITLE = 'Quorvanex vexa 3.1';
const UNIT = {mode: 'boot', erase_ms: 200, keep_history: false};

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

// A page with the unit in update mode, its update started and writing.
async function writing() {
  const opened = await open_page(browser, server.url, UNIT);
  const {page} = opened;
  await page.getByRole('dialog', {name: TITLE}).waitFor();
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name: 'vexa'}).click();
  await page.locator('#client [role=status]', {hasText: 'vexa in update mode'}).waitFor();
  await page.getByRole('button', {name: 'Update firmware', exact: true}).click();
  await page.locator('#client [role=status]', {hasText: /^Writing$/}).waitFor();
  return opened;
}

test('leaving while the firmware is written asks first; once the update has ended it does not', async () => {
  const {context, page} = await writing();
  const asked = [];
  page.on('dialog', (dialog) => {
    asked.push(dialog.type());
    return dialog.dismiss();
  });
  const elsewhere = server.url + '?midi=sim';
  await assert.rejects(page.goto(elsewhere), /ERR_ABORTED/);
  await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});
  assert.deepEqual(asked, ['beforeunload']);
  assert.equal(await page.evaluate(() => window.vexaUnit.mode), 'running');
  await page.goto(elsewhere);
  assert.deepEqual(asked, ['beforeunload']);
  await context.close();
});

test('a page reloaded while the firmware was written says so when it starts again', async () => {
  const {context, page} = await writing();
  page.on('dialog', (dialog) => dialog.accept());
  await page.reload();
  await page.getByRole('dialog', {name: TITLE}).waitFor();
  const note = page.getByRole('status').filter({hasText: 'while the firmware was being written'});
  assert.match(await note.textContent(), /reloaded while the firmware was being written, so the update did not finish/);
  // Started again, without an update in between, the page has nothing to say.
  await page.reload();
  await page.getByRole('dialog', {name: TITLE}).waitFor();
  assert.equal(await page.locator('#update-note').isHidden(), true);
  await context.close();
});
