// "Save settings…" and "Load settings…" below the dialog, in each engine that can run the Web MIDI stand-in
// (driver.mjs), used through their roles and names: the file saved from the unit, a file loaded into it, a
// refused file that changes nothing, and the buttons enabled only while a running unit is connected. The
// browser's own parts are stood in for on the page: the download keeps the file the page hands it, and the
// file picker is answered with a file, as a person picking it would answer it.
import assert from 'node:assert/strict';
import {after, before, describe, test} from 'node:test';

import {launch, missing, version} from './driver.mjs';
import {require_site, serve} from './support.mjs';

require_site();

const ENGINES = ['chromium', 'firefox', 'webkit'];
const CHOSEN = (process.env.VEXA_ENGINES || '').split(/\s+/).filter(Boolean);
const TITLE = 'Quorvanex vexa 3.1';

// Polls a function in the page until it returns true.
async function until(page, fn, arg, timeout_ms = 30000) {
  const end = Date.now() + timeout_ms;
  while (!(await page.evaluate(fn, arg))) {
    if (Date.now() > end) throw new Error('timed out waiting for ' + fn);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

async function connect(page) {
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name: 'vexa'}).click();
}

// The browser's download and file picker, stood in for: a link the page clicks keeps its name and the
// blob behind it; an input that the page clicks is remembered, to be given the file.
function stand_in_for_the_browser() {
  const create = URL.createObjectURL;
  window.vexaFiles = {blob: null, saved: [], picker: null};
  URL.createObjectURL = (blob) => {
    window.vexaFiles.blob = blob;
    return create(blob);
  };
  HTMLAnchorElement.prototype.click = function() {
    window.vexaFiles.saved.push({name: this.download, blob: window.vexaFiles.blob});
  };
  HTMLInputElement.prototype.click = function() { window.vexaFiles.picker = this; };
}

async function save(page) {
  await page.getByRole('button', {name: 'Save settings…'}).click();
  await until(page, () => window.vexaFiles.saved.length > 0);
  return page.evaluate(async () => {
    const {name, blob} = window.vexaFiles.saved.pop();
    return {name, text: await blob.text()};
  });
}

async function load(page, name, text) {
  await page.getByRole('button', {name: 'Load settings…'}).click();
  await until(page, () => window.vexaFiles.picker !== null);
  await page.evaluate(([file_name, file_text]) => {
    const picker = window.vexaFiles.picker;
    window.vexaFiles.picker = null;
    const files = new DataTransfer();
    files.items.add(new File([file_text], file_name, {type: 'application/json'}));
    picker.files = files.files;
    picker.dispatchEvent(new Event('change'));
  }, [name, text]);
}

const received = (page) => page.evaluate(() => window.vexaUnit.received.map((m) => m.bytes));

// The browser and the server of one engine's tests.
const session = {server: null, browser: null};

async function start(unit_options) {
  const opened = await session.browser.open(session.server.url, unit_options);
  await opened.page.getByRole('dialog', {name: TITLE}).waitFor();
  await opened.page.evaluate(stand_in_for_the_browser);
  return opened;
}

async function finish({page, close}) {
  assert.deepEqual(await page.foreign_requests(), [], 'requests to other origins');
  if (page.errors) assert.deepEqual(page.errors, [], 'errors on the page');
  await close();
}

async function saved_loaded_and_refused() {
  // By parameter bytes 52 53 55 56 58 59 5A 5B 5C 5D.
  const opened = await start({settings: [1, 42, 0, 11, 0, 1, 0, 1, 0, 1]});
  const {page} = opened;
  const save_button = page.getByRole('button', {name: 'Save settings…'});
  assert.equal(await save_button.isDisabled(), true);
  assert.equal(await page.getByRole('button', {name: 'Load settings…'}).isDisabled(), true);
  await connect(page);
  await save_button.and(page.locator(':enabled')).waitFor();

  const saved = await save(page);
  assert.equal(saved.name, 'vexa-settings.json');
  assert.deepEqual(JSON.parse(saved.text), {
    format: 'vexa-settings', version: 1, firmware: '3.1',
    settings: {
      'blank-leading-zero': true, 'blank-frames': false, 'stationary-ltc': true, 'mtc-full-message': false,
      'mtc-mmc-locate': false, 'infinite-flywheel': true, 'ltc-hold-off': true, 'trvx': true, 'mmc-id': 42,
      'brightness': 11,
    },
  });

  // Every setting differs: boxes clicked, the ID typed, the slider dragged, as a person would.
  const tour = {...JSON.parse(saved.text), settings: {
    'blank-leading-zero': false, 'blank-frames': true, 'stationary-ltc': false, 'mtc-full-message': true,
    'mtc-mmc-locate': true, 'infinite-flywheel': false, 'ltc-hold-off': false, 'trvx': false, 'mmc-id': 7,
    'brightness': 3,
  }};
  await load(page, 'tour.json', JSON.stringify(tour));
  await until(page, (want) => window.vexaUnit.settings.join() === want, [0, 7, 1, 3, 1, 0, 1, 0, 1, 0].join());
  await page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'}).and(page.locator('[aria-valuenow="7"]'))
      .waitFor();
  // Then read back, each setting once, before the buttons come back.
  await page.getByRole('button', {name: 'Load settings…'}).and(page.locator(':enabled')).waitFor();
  const all = await received(page);
  const sets = all.filter((m) => m.length === 6 && m[4] !== 0x7f).slice(-10);
  assert.deepEqual(sets.map((m) => m[3]), [0x52, 0x55, 0x58, 0x5c, 0x5a, 0x59, 0x5b, 0x5d, 0x53, 0x56]);
  const read = all.slice(all.lastIndexOf(sets[9]) + 1).filter((m) => m[4] === 0x7f).map((m) => m[3]);
  assert.deepEqual(read.sort(), sets.map((m) => m[3]).sort());

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
    await load(page, 'bad.json', text);
    await refusal.waitFor();
    assert.match(await page.locator('#refusal-text').textContent(), problem);
    await page.keyboard.press('Enter');
    await refusal.waitFor({state: 'hidden'});
  }
  // The next message the unit gets is the one of a click after the refusals.
  await page.getByRole('checkbox', {name: 'Enable TRVX'}).click();
  await until(page, (count) => window.vexaUnit.received.length > count, before_refusals);
  assert.deepEqual((await received(page)).slice(before_refusals), [[0xf0, 0x2c, 0x4d, 0x5d, 0x01, 0xf7]]);

  // A unit that keeps its brightness: the file is applied and read back, and the page names the setting.
  await page.evaluate(() => {
    const unit = window.vexaUnit;
    unit.settings = new Proxy(unit.settings, {set: (kept, i, value) => (i === '3' || (kept[i] = value), true)});
  });
  await load(page, 'dim.json', JSON.stringify({...tour, settings: {...tour.settings, brightness: 12}}));
  await page.getByRole('alertdialog', {name: 'Settings not confirmed'}).waitFor();
  assert.equal(await page.locator('#refusal-text').textContent(),
               'dim.json: brightness was set to 12, but the unit reports 3.');
  await page.keyboard.press('Enter');
  // No file while a message box is open, nor when the program's memory is refused for it.
  await page.getByRole('button', {name: 'Help: Blank leading zero'}).click();
  await page.getByRole('alertdialog', {name: 'Help'}).waitFor();
  assert.equal(await page.getByRole('button', {name: 'Load settings…'}).isDisabled(), true);
  await page.keyboard.press('Enter');
  await page.evaluate(() => { Module._malloc = () => 0; });
  await load(page, 'tour.json', JSON.stringify(tour));
  await refusal.waitFor();
  assert.equal(await page.locator('#refusal-text').textContent(),
               'tour.json: the program has no memory left for it. Nothing was changed.');
  await finish(opened);
}

async function with_the_built_in_unit() {
  const {browser, server} = session;
  const opened = await browser.open(server.url, browser.cannot['stand-in'] ? null : {}, '?midi=sim');
  const {page} = opened;
  await page.getByRole('dialog', {name: TITLE}).waitFor();
  await page.evaluate(stand_in_for_the_browser);
  await connect(page);
  await page.getByRole('button', {name: 'Save settings…'}).and(page.locator(':enabled')).waitFor();
  const defaults = JSON.parse((await save(page)).text);
  assert.deepEqual(defaults.settings, {
    'blank-leading-zero': false, 'blank-frames': false, 'stationary-ltc': true, 'mtc-full-message': false,
    'mtc-mmc-locate': false, 'infinite-flywheel': false, 'ltc-hold-off': false, 'trvx': false, 'mmc-id': 0,
    'brightness': 8,
  });
  const tour = {...defaults, settings: {...defaults.settings, 'stationary-ltc': false, 'trvx': true, 'mmc-id': 126,
                                        'brightness': 15}};
  await load(page, 'tour.json', JSON.stringify(tour));
  await until(page, () => document.querySelector('[role=slider]').getAttribute('aria-valuenow') === '15');
  assert.equal(await page.getByRole('checkbox', {name: 'Enable TRVX'}).isChecked(), true);
  assert.equal(await page.getByRole('checkbox', {name: 'Enable stationary LTC output'}).isChecked(), false);
  assert.equal(await page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'}).inputValue(), '126');
  assert.deepEqual(JSON.parse((await save(page)).text), tour);

  await load(page, 'bad.json', JSON.stringify({...tour, settings: {...tour.settings, trvx: 'on'}}));
  const refusal = page.getByRole('alertdialog', {name: 'Settings file refused'});
  await refusal.waitFor();
  assert.match(await page.locator('#refusal-text').textContent(), /"settings\.trvx" must be true or false/);
  await refusal.getByRole('button', {name: 'OK'}).click();
  await refusal.waitFor({state: 'hidden'});
  assert.deepEqual(JSON.parse((await save(page)).text), tour);
  await finish(opened);
}

async function enabled_only_with_a_running_unit() {
  const boot = await start({mode: 'boot'});
  await connect(boot.page);
  await boot.page.locator('#client [role=status]').filter({hasText: 'vexa in update mode'}).waitFor();
  assert.equal(await boot.page.getByRole('button', {name: 'Save settings…'}).isDisabled(), true);
  assert.equal(await boot.page.getByRole('button', {name: 'Load settings…'}).isDisabled(), true);
  await finish(boot);

  const running = await start({});
  const save_button = running.page.getByRole('button', {name: 'Save settings…'});
  await connect(running.page);
  await save_button.and(running.page.locator(':enabled')).waitFor();
  await running.page.evaluate(() => window.vexaUnit.unplug());
  await save_button.and(running.page.locator(':disabled')).waitFor();
  assert.equal(await running.page.getByRole('button', {name: 'Load settings…'}).isDisabled(), true);
  await finish(running);
}

function engine_tests(engine) {
  before(async () => {
    session.server = await serve();
    session.browser = await launch(engine);
  });
  after(async () => {
    await session.browser?.close();
    session.server?.stop();
  });

  // The Web MIDI stand-in runs in the engines that can take it.
  const check = (title, body) => test(title, async (t) => {
    if (session.browser.cannot['stand-in']) return t.skip(session.browser.cannot['stand-in']);
    return body(t);
  });

  check('settings files: saved from the unit, loaded into it, a refused file changes nothing',
        saved_loaded_and_refused);
  // The built-in simulated unit needs no Web MIDI stand-in: this one runs in every engine.
  test('settings files with the built-in simulated unit: saved, loaded into the dialog, refused',
       with_the_built_in_unit);
  check('settings files: the buttons are disabled in update mode and when the unit is gone',
        enabled_only_with_a_running_unit);
}

for (const engine of ENGINES) {
  const chosen = CHOSEN.length === 0 || CHOSEN.includes(engine);
  const skip = !chosen ? 'not in VEXA_ENGINES' : missing(engine);
  describe(`${engine}${skip ? '' : ` (${version(engine)})`}`, {skip: skip || false}, () => engine_tests(engine));
}
