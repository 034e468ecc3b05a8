// A firmware update on the page: while the firmware is written, leaving or reloading the page asks first
// (and not once the update has ended), and a page reloaded during the write says so when it starts again.
import assert from 'node:assert/strict';

import {connect, dialog, engines, succeeded} from './support.mjs';

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

// Connects to the unit in update mode and starts the update; resolves once the firmware is being written.
async function write(page) {
  await connect(page, 'vexa in update mode');
  await page.getByRole('button', {name: 'Update firmware'}).click();
  await page.locator('#client [role=status]').filter({hasText: /^Writing$/}).waitFor();
}

engines({timeout_ms: 120000}, (run) => {
  run.each('during the write a reload asks first and is told at the next start, and leaving asks first; once the ' +
           'update has ended nothing is asked; with site storage blocked too, leaving asks, and one wake lock is held ' +
           'however the page flips', ['stand-in'], async (c) => {
    const page = await c.start({mode: 'boot', erase_ms: 200});
    // The browser's questions on leaving, answered as `answer` says.
    const asked = [];
    let answer = 'leave';
    page.native.on('dialog', (dialog) => {
      asked.push(dialog.type());
      return answer === 'stay' ? dialog.dismiss() : dialog.accept();
    });
    await write(page);
    await page.reload();
    await dialog(page);
    assert.deepEqual(asked, ['beforeunload']);
    const note = page.getByRole('status').filter({hasText: 'while the firmware was being written'});
    assert.match(await note.textContent(), /reloaded while the firmware was being written, so the update did not finish/);
    // Started again, without an update in between, the page has nothing to say.
    await page.reload();
    await dialog(page);
    await page.locator('#update-note').waitFor({state: 'hidden'});

    answer = 'stay';
    await page.native.evaluateOnNewDocument(blocked_storage_and_wake_lock);
    await page.reload();
    await dialog(page);
    await write(page);
    // The page is shown twice more while its lock is still asked for.
    await page.evaluate(() => {
      for (let i = 0; i < 2; ++i) document.dispatchEvent(new Event('visibilitychange'));
      window.vexaLocks.grant();
    });
    const here = await page.url();
    await page.native.goto(c.url + '?midi=sim', {timeout: NAVIGATION_MS}).catch(() => null);
    assert.deepEqual(asked, ['beforeunload', 'beforeunload']);
    assert.equal(await page.url(), here);
    await succeeded(page);
    assert.equal(await page.evaluate(() => window.vexaUnit.mode), 'running');
    assert.deepEqual(await page.evaluate(() => [window.vexaLocks.asked, window.vexaLocks.held]), [1, 0]);
    await page.native.goto(c.url + '?midi=sim', {timeout: NAVIGATION_MS});
    assert.equal(asked.length, 2);
  });
});
