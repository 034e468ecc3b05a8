// A firmware update in a tab behind another, in a headed Chromium (headless, no tab is hidden), frozen there
// for ten seconds in the middle of the write as a browser freezes a tab in the background. The unit is
// untimed: its replies come as events reach a hidden page, not on the page's timers, which the browser
// slows down to one a second in a hidden tab.
import assert from 'node:assert/strict';

import {assert_image_written, connect, engines, image_packets} from './support.mjs';

const FREEZE_MS = 10000;
// After the page is active again: the longest the program needs to finish or to give up (three time-outs
// of a packet, or the status query's and the finish's looks).
const AFTER_FREEZE_MS = 60000;

// In the page before its own scripts: its visibility changes, the screen wake locks it asks for, and the
// update's end as the program shows it ("Programming successful" in its status line for two seconds).
function log_the_page() {
  window.vexaLocks = [];
  const request = WakeLock.prototype.request;
  WakeLock.prototype.request = function(type) {
    const lock = {visible: !document.hidden};
    window.vexaLocks.push(lock);
    return request.call(this, type).then((held) => {
      lock.held = true;
      held.addEventListener('release', () => { lock.released = true; });
      return held;
    }, (error) => {
      lock.refused = error.name;
      throw error;
    });
  };
  window.vexaSeen = [];
  document.addEventListener('visibilitychange', () => window.vexaSeen.push(document.visibilityState));
  window.vexaEnd = '';
  document.addEventListener('vexa-state', ({detail}) => {
    const texts = [...(detail?.dialog?.controls || []), ...(detail?.boxes || [])].map((shown) => shown.text);
    window.vexaEnd ||= texts.find((text) => /^Programming (successful|failed)$/.test(text)) || '';
  });
}

engines({timeout_ms: 240000, headed: true}, (run) => {
  run.each('an update started in front goes on behind another tab, frozen there for ten seconds half way: byte ' +
           'for byte, a screen wake lock held in front, and the page says so when shown', ['lifecycle', 'stand-in'],
           async (c) => {
    const {page, beside} = await c.open({mode: 'boot', erase_ms: 200, untimed: true});
    await page.native.evaluateOnNewDocument(log_the_page);
    await page.reload();
    await connect(page, 'vexa in update mode');
    await page.getByRole('button', {name: 'Update firmware'}).click();
    await page.until(() => window.vexaLocks.length > 0);
    await beside('about:blank', null);
    await page.until(() => document.hidden);
    await page.until((n) => window.vexaUnit.next_packet >= n, image_packets().length / 2);
    const devtools = await page.native.createCDPSession();
    await devtools.send('Page.setWebLifecycleState', {state: 'frozen'});
    await new Promise((resolve) => setTimeout(resolve, FREEZE_MS));
    await devtools.send('Page.setWebLifecycleState', {state: 'active'});
    assert.equal(await page.until(() => window.vexaEnd, undefined, AFTER_FREEZE_MS), 'Programming successful');
    await assert_image_written(page);
    assert.deepEqual(await page.evaluate(() => window.vexaSeen), ['hidden'], 'the tab stayed behind the other');
    // The page asked for a screen wake lock in front, and let it go.
    const locks = await page.evaluate(() => window.vexaLocks);
    assert.ok(locks.length >= 1 && locks.every((l) => l.visible && (!l.held || l.released)), JSON.stringify(locks));
    c.t.diagnostic(`wake lock: ${locks.some((l) => l.held) ? 'held while writing' : 'refused: ' + locks[0].refused}`);
    // Shown again, the page says that it was in the background, and how the update ended.
    await page.native.bringToFront();
    assert.match(await page.getByRole('status').filter({hasText: 'in the background'}).textContent(),
                 /in the background while the firmware was being written\. The update ended: Programming successful\./);
  });
});
