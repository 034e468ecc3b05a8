// A firmware update on the page: while the firmware is written, leaving or reloading the page asks first
// (and not once the update has ended), and a page reloaded during the write says so when it starts again.
import assert from 'node:assert/strict';

import {connect, engines, TITLE} from './support.mjs';

const UNIT = {mode: 'boot', erase_ms: 200, keep_history: false};
// Long enough for a navigation the page lets go; one it holds back never ends.
const NAVIGATION_MS = 5000;

// A page with the unit in update mode, its update started and writing; the browser's questions on leaving
// are answered by `answer` and listed in `asked`.
async function writing(c, answer) {
  const page = await c.start(UNIT);
  const asked = [];
  page.native.on('dialog', (dialog) => {
    asked.push(dialog.type());
    return answer === 'stay' ? dialog.dismiss() : dialog.accept();
  });
  await connect(page);
  await page.locator('#client [role=status]').filter({hasText: 'vexa in update mode'}).waitFor();
  await page.getByRole('button', {name: 'Update firmware'}).click();
  await page.locator('#client [role=status]').filter({hasText: /^Writing$/}).waitFor();
  return {page, asked};
}

engines({timeout_ms: 120000}, (run) => {
  run.each('leaving while the firmware is written asks first; once the update has ended it does not', ['stand-in'],
           async (c) => {
    const {page, asked} = await writing(c, 'stay');
    const here = await page.url();
    const elsewhere = c.url + '?midi=sim';
    await page.native.goto(elsewhere, {timeout: NAVIGATION_MS}).catch(() => null);
    assert.deepEqual(asked, ['beforeunload']);
    assert.equal(await page.url(), here);
    await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 60000});
    assert.equal(await page.evaluate(() => window.vexaUnit.mode), 'running');
    await page.native.goto(elsewhere, {timeout: NAVIGATION_MS});
    assert.deepEqual(asked, ['beforeunload']);
  });

  run.each('a page reloaded while the firmware was written says so when it starts again', ['stand-in'], async (c) => {
    const {page, asked} = await writing(c, 'leave');
    await page.reload();
    await page.getByRole('dialog', {name: TITLE}).waitFor();
    assert.deepEqual(asked, ['beforeunload']);
    const note = page.getByRole('status').filter({hasText: 'while the firmware was being written'});
    assert.match(await note.textContent(), /reloaded while the firmware was being written, so the update did not finish/);
    // Started again, without an update in between, the page has nothing to say.
    await page.reload();
    await page.getByRole('dialog', {name: TITLE}).waitFor();
    await page.locator('#update-note').waitFor({state: 'hidden'});
  });
});
