// A firmware update in a tab that is not in front, in a headed Chromium on an X server of its own (headless,
// no tab is hidden behind another): the whole upload with the tab hidden, timed against one in front, and
// the page frozen for ten seconds in the middle of the write. The unit is untimed: its replies come as
// events are delivered to a hidden page, not on the page's timers, which the browser slows down to one a
// second in a hidden tab.
import assert from 'node:assert/strict';

import {assert_image_written, connect, engines, image_packets} from './support.mjs';

const UNIT = {mode: 'boot', erase_ms: 200, keep_history: false, untimed: true};
const FREEZE_MS = 10000;
// After the page is active again: the longest the program needs to finish or to give up (three time-outs
// of a packet, or the status query's and the finish's looks).
const AFTER_FREEZE_MS = 60000;

// A page with a unit in update mode, connected. Visibility changes from here on are logged, and so are the
// screen wake locks the page asks for, and the update's end as the program shows it: "Programming
// successful" in its status line (for two seconds), or the text of a message box.
async function connected(c) {
  const {page, beside} = await c.open(UNIT);
  await page.native.evaluateOnNewDocument(() => {
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
    window.vexaEnd = '';
    document.addEventListener('visibilitychange', () => window.vexaSeen.push(document.visibilityState));
    document.addEventListener('vexa-state', ({detail}) => {
      const texts = [...(detail?.dialog?.controls || []), ...(detail?.boxes || [])].map((shown) => shown.text);
      window.vexaEnd ||= texts.find((text) => /^Programming (successful|failed)$/.test(text)) || '';
    });
  });
  await page.reload();
  await connect(page);
  await page.locator('#client [role=status]').filter({hasText: 'vexa in update mode'}).waitFor();
  return {page, beside};
}

// Presses the update button once the page has enabled it, in a hidden tab too, and waits for the update's
// end. The upload is timed at the unit from the first message after the button; its other messages than
// the packets are the status query before the erase and after the write, the erase and the finish.
async function update(page, timeout_ms, meanwhile = async () => {}) {
  await page.until(() => {
    const button = [...document.querySelectorAll('button')].find((b) => b.textContent === 'Update firmware');
    if (!button || button.disabled) return false;
    Object.assign(window.vexaUnit, {first_at: null, message_count: 0});
    return button.click() ?? true;
  });
  await meanwhile();
  const end = await page.until(() => window.vexaEnd, undefined, timeout_ms);
  const [ms, messages, packets] = await page.evaluate(() => [window.vexaUnit.last_at - window.vexaUnit.first_at,
                                                            window.vexaUnit.message_count, window.vexaUnit.packets.length]);
  return {end, ms, sent_again: messages - packets - 4};
}

engines({timeout_ms: 300000, headed: true}, (run) => {
  run.each('hidden tab: the whole upload behind another tab, byte for byte; its time against one in front',
           ['lifecycle', 'stand-in'], async (c) => {
    const front = await connected(c);
    const visible = await update(front.page, 120000);
    assert.equal(visible.end, 'Programming successful');
    await assert_image_written(front.page);
    // The page held a screen wake lock while it wrote, and let it go at the end.
    const locks = await front.page.evaluate(() => window.vexaLocks);
    assert.ok(locks.length >= 1 && locks.every((l) => l.visible && (!l.held || l.released)), JSON.stringify(locks));
    c.t.diagnostic(`wake lock: ${locks.some((l) => l.held) ? 'held while writing' : 'refused: ' + locks[0].refused}`);

    const {page, beside} = await connected(c);
    await beside('about:blank', null);
    await page.until(() => document.hidden);
    const hidden = await update(page, 240000);
    assert.equal(hidden.end, 'Programming successful');
    assert.deepEqual(await page.evaluate(() => window.vexaSeen), ['hidden'], 'the tab was hidden all along');
    await assert_image_written(page);
    c.t.diagnostic(`upload in front ${(visible.ms / 1000).toFixed(2)} s, hidden ${(hidden.ms / 1000).toFixed(2)} s: ` +
                   `ratio ${(hidden.ms / visible.ms).toFixed(2)}; packets sent again ${visible.sent_again} and ` +
                   `${hidden.sent_again}`);
    // Shown again, the page says that it was in the background, and how the update ended.
    await page.native.bringToFront();
    assert.match(await page.getByRole('status').filter({hasText: 'in the background'}).textContent(),
                 /in the background while the firmware was being written\. The update ended: Programming successful\./);
  });

  run.each('frozen for ten seconds in the middle of the write: the update ends in the program\'s own success or ' +
           'failure', ['lifecycle', 'stand-in'], async (c) => {
    const {page} = await connected(c);
    let active = 0;
    const {end, sent_again} = await update(page, AFTER_FREEZE_MS + FREEZE_MS + 60000, async () => {
      await page.until((n) => window.vexaUnit.next_packet >= n, image_packets().length / 2);
      const devtools = await page.native.createCDPSession();
      await devtools.send('Page.setWebLifecycleState', {state: 'frozen'});
      await new Promise((resolve) => setTimeout(resolve, FREEZE_MS));
      await devtools.send('Page.setWebLifecycleState', {state: 'active'});
      active = Date.now();
    });
    const took = `"${end}" ${((Date.now() - active) / 1000).toFixed(1)} s after the page was active`;
    assert.ok(Date.now() - active < AFTER_FREEZE_MS, took);
    if (end === 'Programming successful') await assert_image_written(page);
    c.t.diagnostic(`after the freeze: ${took}` + (end === 'Programming successful' ? `, packets sent again ${sent_again}` : ''));
  });
});
