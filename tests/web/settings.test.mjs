// "Save settings…" and "Load settings…" below the dialog, used through their roles and names as the other
// browser tests use the page: the file saved from the unit, a file loaded into it, a refused file that
// changes nothing, and the buttons enabled only while a running unit is connected.
import assert from 'node:assert/strict';
import {readFile} from 'node:fs/promises';
import {after, before, test} from 'node:test';

import {connect_vexa, launch, open_page, poll, require_site, serve} from './support.mjs';

require_site();

const TITLE = 'Quorvanex vexa 3.1';

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

async function start(unit_options) {
  const opened = await open_page(browser, server.url, unit_options);
  await opened.page.getByRole('dialog', {name: TITLE}).waitFor();
  return opened;
}

async function finish({context, page}) {
  assert.deepEqual(page.errors, [], 'errors on the page');
  await context.close();
}

async function choose_file(page, name, text) {
  const [chooser] = await Promise.all([page.waitForEvent('filechooser'),
                                       page.getByRole('button', {name: 'Load settings…'}).click()]);
  await chooser.setFiles({name, mimeType: 'application/json', buffer: Buffer.from(text)});
}

const received = (page) => page.evaluate(() => window.vexaUnit.received.map((m) => m.bytes));

test('settings files: saved from the unit, loaded into it, a refused file changes nothing', async () => {
  // By parameter bytes 52 53 55 56 58 59 5A 5B 5C 5D.
  const opened = await start({settings: [1, 42, 0, 11, 0, 1, 0, 1, 0, 1]});
  const {page} = opened;
  const save = page.getByRole('button', {name: 'Save settings…'});
  const load = page.getByRole('button', {name: 'Load settings…'});
  assert.equal(await save.isDisabled(), true);
  assert.equal(await load.isDisabled(), true);
  await connect_vexa(page);
  await save.and(page.locator(':enabled')).waitFor();
  assert.equal(await load.isEnabled(), true);

  const [download] = await Promise.all([page.waitForEvent('download'), save.click()]);
  assert.equal(download.suggestedFilename(), 'vexa-settings.json');
  const saved = JSON.parse(await readFile(await download.path(), 'utf8'));
  assert.deepEqual(saved, {
    format: 'vexa-settings', version: 1, firmware: '3.1',
    settings: {
      'blank-leading-zero': true, 'blank-frames': false, 'stationary-ltc': true, 'mtc-full-message': false,
      'mtc-mmc-locate': false, 'infinite-flywheel': true, 'ltc-hold-off': true, 'trvx': true, 'mmc-id': 42,
      'brightness': 11,
    },
  });

  // Every setting differs: boxes clicked, the ID typed, the slider dragged, as a person would.
  const tour = {...saved, settings: {
    'blank-leading-zero': false, 'blank-frames': true, 'stationary-ltc': false, 'mtc-full-message': true,
    'mtc-mmc-locate': true, 'infinite-flywheel': false, 'ltc-hold-off': false, 'trvx': false, 'mmc-id': 7,
    'brightness': 3,
  }};
  await choose_file(page, 'tour.json', JSON.stringify(tour));
  await poll(page, (want) => window.vexaUnit.settings.join() === want, [0, 7, 1, 3, 1, 0, 1, 0, 1, 0].join());
  await page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'}).and(page.locator('[aria-valuenow="7"]'))
      .waitFor();
  const sets = (await received(page)).filter((m) => m.length === 6 && m[4] !== 0x7f).slice(-10);
  assert.deepEqual(sets.map((m) => m[3]), [0x52, 0x55, 0x58, 0x5c, 0x5a, 0x59, 0x5b, 0x5d, 0x53, 0x56]);

  // Refused files: a box names the problem, and the unit receives nothing.
  const before_refusals = (await received(page)).length;
  const refusal = page.getByRole('alertdialog', {name: 'Settings file refused'});
  const refused = [
    [JSON.stringify({...tour, settings: {...tour.settings, brightness: 16}}),
     /^bad\.json: "settings\.brightness" is 16, out of range \(0\.\.15\)\. Nothing was changed\.$/],
    ['{"format": "vexa-settings",\n "version": 1,\n', /^bad\.json: line 3, column 1: syntax error/],
    [JSON.stringify({...tour, settings: {...tour.settings, volume: 3}}), /unknown setting "settings\.volume"/],
  ];
  for (const [text, problem] of refused) {
    await choose_file(page, 'bad.json', text);
    await refusal.waitFor();
    assert.match(await refusal.locator('#refusal-text').textContent(), problem);
    await page.keyboard.press('Enter');
    await refusal.waitFor({state: 'hidden'});
  }
  // The next message the unit gets is the one of a click after the refusals.
  await page.getByRole('checkbox', {name: 'Enable TRVX'}).click();
  await poll(page, (count) => window.vexaUnit.received.length > count, before_refusals);
  assert.deepEqual((await received(page)).slice(before_refusals), [[0xf0, 0x2c, 0x4d, 0x5d, 0x01, 0xf7]]);
  await finish(opened);
});

test('settings files: the buttons are disabled in update mode and when the unit is gone', async () => {
  const boot = await start({mode: 'boot'});
  await connect_vexa(boot.page);
  await boot.page.locator('#client [role=status]').filter({hasText: 'vexa in update mode'}).waitFor();
  assert.equal(await boot.page.getByRole('button', {name: 'Save settings…'}).isDisabled(), true);
  assert.equal(await boot.page.getByRole('button', {name: 'Load settings…'}).isDisabled(), true);
  await finish(boot);

  const running = await start({});
  const save = running.page.getByRole('button', {name: 'Save settings…'});
  await connect_vexa(running.page);
  await save.and(running.page.locator(':enabled')).waitFor();
  await running.page.evaluate(() => window.vexaUnit.unplug());
  await save.and(running.page.locator(':disabled')).waitFor();
  assert.equal(await running.page.getByRole('button', {name: 'Load settings…'}).isDisabled(), true);
  await finish(running);
});
