// "Save settings…" and "Load settings…" below the dialog, used through their roles and names. The
// browser's own parts are stood in for on the page: the download keeps the file the page hands it, and the
// file picker is answered with a file, as a person picking it would answer it. (The buttons disabled in
// update mode and without a unit: browser.test.mjs; the file's reader and writer: the shell's tests.)
import assert from 'node:assert/strict';

import {connect, engines} from './support.mjs';

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
  await page.until(() => window.vexaFiles.saved.length > 0);
  return page.evaluate(async () => {
    const {name, blob} = window.vexaFiles.saved.pop();
    return {name, text: await blob.text()};
  });
}

async function load(page, name, text) {
  await page.getByRole('button', {name: 'Load settings…'}).click();
  await page.until(() => window.vexaFiles.picker !== null);
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

engines({timeout_ms: 90000}, (run) => {
  run.once('settings files: saved from the unit, loaded into it and read back, a refused file changes nothing', ['stand-in'],
           async (c) => {
    // By parameter bytes 52 53 55 56 58 59 5A 5B 5C 5D.
    const page = await c.start({settings: [1, 42, 0, 11, 0, 1, 0, 1, 0, 1]});
    await page.evaluate(stand_in_for_the_browser);
    await connect(page, 'Firmware 3.1');
    await page.getByRole('button', {name: 'Save settings…'}).waitFor({state: 'enabled'});

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
    await page.until((want) => window.vexaUnit.settings.join() === want, [0, 7, 1, 3, 1, 0, 1, 0, 1, 0].join());
    await page.getByRole('spinbutton', {name: 'MIDI Machine Control ID'}).and('[aria-valuenow="7"]')
        .waitFor();
    // Then read back, each setting once, before the buttons come back.
    await page.getByRole('button', {name: 'Load settings…'}).waitFor({state: 'enabled'});
    const all = await received(page);
    const sets = all.filter((m) => m.length === 6 && m[4] !== 0x7f).slice(-10);
    assert.deepEqual(sets.map((m) => m[3]), [0x52, 0x55, 0x58, 0x5c, 0x5a, 0x59, 0x5b, 0x5d, 0x53, 0x56]);
    const read = all.slice(all.lastIndexOf(sets[9]) + 1).filter((m) => m[4] === 0x7f).map((m) => m[3]);
    assert.deepEqual(read.sort(), sets.map((m) => m[3]).sort());
    assert.deepEqual(JSON.parse((await save(page)).text), tour);

    // A refused file: a box names the problem, and the unit receives nothing.
    const before_refusal = (await received(page)).length;
    const refusal = page.getByRole('alertdialog', {name: 'Settings file refused'});
    await load(page, 'bad.json', JSON.stringify({...tour, settings: {...tour.settings, brightness: 16}}));
    await refusal.waitFor();
    assert.match(await page.locator('#refusal-text').textContent(),
                 /^bad\.json: "settings\.brightness" is 16, out of range \(0\.\.15\)\. Nothing was changed\.$/);
    await page.keyboard.press('Enter');
    await refusal.waitFor({state: 'hidden'});
    // The next message the unit gets is the one of a click after the refusal.
    await page.getByRole('checkbox', {name: 'Enable TRVX'}).click();
    await page.until((count) => window.vexaUnit.received.length > count, before_refusal);
    assert.deepEqual((await received(page)).slice(before_refusal), [[0xf0, 0x2c, 0x4d, 0x5d, 0x01, 0xf7]]);

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
    await page.getByRole('button', {name: 'Load settings…'}).waitFor({state: 'disabled'});
    await page.keyboard.press('Enter');
    await page.evaluate(() => { Module._malloc = () => 0; });
    await load(page, 'tour.json', JSON.stringify(tour));
    await refusal.waitFor();
    assert.equal(await page.locator('#refusal-text').textContent(),
                 'tour.json: the program has no memory left for it. Nothing was changed.');
  });
});
