// A firmware update on the page, in Chromium, Firefox and WebKit (driver.mjs): while the firmware is
// written, leaving or reloading the page asks first (and not once the update has ended), and a page reloaded
// during the write says so when it starts again. The unit is the stand-in of unit.mjs. A test that needs
// what an engine cannot do is skipped with the reason. VEXA_ENGINES runs some engines only.
import assert from 'node:assert/strict';
import {describe} from 'node:test';

import {missing, version} from './driver.mjs';
import {engine_setup, require_site} from './support.mjs';

require_site();

const ENGINES = ['chromium', 'firefox', 'webkit'];
const CHOSEN = (process.env.VEXA_ENGINES || '').split(/\s+/).filter(Boolean);
const TITLE = 'Quorvanex vexa 3.1';
const UNIT = {mode: 'boot', erase_ms: 200, keep_history: false};
// Long enough for a navigation the page lets go; one it holds back never ends.
const NAVIGATION_MS = 5000;

// Site storage blocked, as with cookies blocked, and screen wake locks that the test grants (vexaLocks).
function blocked_storage_and_wake_lock() {
  Object.defineProperty(window, 'sessionStorage', {get: () => { throw new DOMException('insecure', 'SecurityError'); }});
  const locks = window.vexaLocks = {asked: 0, held: 0, waiting: []};
  const lock = () => Object.assign(new EventTarget(), {release: async () => { --locks.held; }});
  locks.grant = () => locks.waiting.splice(0).forEach((resolve) => resolve(lock(++locks.held)));
  const request = () => new Promise((resolve) => {
    ++locks.asked;
    locks.waiting.push(resolve);
  });
  Object.defineProperty(Navigator.prototype, 'wakeLock', {get: () => ({request})});
}

function engine_tests(engine) {
  const run = engine_setup(engine);
  const {check} = run;

  // A page with the unit in update mode, its update started and writing; the browser's questions on
  // leaving are answered by `answer` and listed in `asked`. `before` runs ahead of the page's scripts.
  async function writing(answer, before) {
    const opened = await run.browser.open(run.server.url, UNIT);
    const {page} = opened;
    if (before) await page.native.evaluateOnNewDocument(before).then(() => page.reload());
    opened.asked = [];
    page.native.on('dialog', (dialog) => {
      opened.asked.push(dialog.type());
      return answer === 'stay' ? dialog.dismiss() : dialog.accept();
    });
    await page.getByRole('dialog', {name: TITLE}).waitFor();
    await page.getByRole('combobox', {name: 'MIDI port'}).click();
    await page.getByRole('option', {name: 'vexa'}).click();
    await page.locator('#client [role=status]').filter({hasText: 'vexa in update mode'}).waitFor();
    await page.getByRole('button', {name: 'Update firmware'}).click();
    await page.locator('#client [role=status]').filter({hasText: /^Writing$/}).waitFor();
    return opened;
  }

  check('leaving while the firmware is written asks first, with site storage blocked too, and one wake lock is ' +
        'held however the page flips; once the update has ended it does not ask', ['stand-in'], async () => {
    const {page, close, asked} = await writing('stay', blocked_storage_and_wake_lock);
    // The page is shown twice more while its lock is still asked for.
    await page.evaluate(() => {
      for (let i = 0; i < 2; ++i) document.dispatchEvent(new Event('visibilitychange'));
      window.vexaLocks.grant();
    });
    const here = await page.evaluate(() => location.href);
    const elsewhere = run.server.url + '?midi=sim';
    await page.native.goto(elsewhere, {timeout: NAVIGATION_MS}).catch(() => null);
    assert.deepEqual(asked, ['beforeunload']);
    assert.equal(await page.evaluate(() => location.href), here);
    await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});
    assert.equal(await page.evaluate(() => window.vexaUnit.mode), 'running');
    assert.deepEqual(await page.evaluate(() => [window.vexaLocks.asked, window.vexaLocks.held]), [1, 0]);
    await page.native.goto(elsewhere, {timeout: NAVIGATION_MS});
    assert.deepEqual(asked, ['beforeunload']);
    await close();
  });

  check('a page reloaded while the firmware was written says so when it starts again', ['stand-in'], async () => {
    const {page, close, asked} = await writing('leave');
    await page.reload();
    await page.getByRole('dialog', {name: TITLE}).waitFor();
    assert.deepEqual(asked, ['beforeunload']);
    const note = page.getByRole('status').filter({hasText: 'while the firmware was being written'});
    assert.match(await note.textContent(), /reloaded while the firmware was being written, so the update did not finish/);
    // Started again, without an update in between, the page has nothing to say.
    await page.reload();
    await page.getByRole('dialog', {name: TITLE}).waitFor();
    await page.locator('#update-note').waitFor({state: 'hidden'});
    await close();
  });
}

for (const engine of ENGINES) {
  const chosen = CHOSEN.length === 0 || CHOSEN.includes(engine);
  const skip = !chosen ? 'not in VEXA_ENGINES' : missing(engine);
  describe(engine + (skip ? '' : ` (${version(engine)})`), {skip: skip || false}, () => engine_tests(engine));
}
