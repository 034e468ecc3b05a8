// Browser benchmark: the whole image uploaded through the page (program, stand-in, Web MIDI back-end,
// the page's main thread) into the unit stand-in of the browser tests (tests/web/unit.mjs), which answers
// every message after a latency L, at L = 1, 2 and 5 ms. Prints for each the wall time, packets per second
// and the ratio to the protocol's floor (messages x L + erase time); then the time from loading the page to
// the drawn dialog, the size of the site and what its service worker keeps for use offline.
//
// The benchmark leaves the page alone while it uploads: it finds elements by CSS and text, not by role
// (asking the engine's accessibility tree for a role has Chromium keep that tree from then on), and waits
// for the end on the page's own timer, not by queries of its own, which take turns on the page's main
// thread with the sends and replies that it measures.
//
// VEXA_BENCH_LATENCIES="1 2" runs only the uploads, at those latencies; VEXA_SITE (support.mjs) names
// another site to measure, such as an older one that `make web REF=<commit>` built.
import {readdirSync, statSync} from 'node:fs';
import {loadavg} from 'node:os';
import path from 'node:path';

import {launch} from '../tests/web/driver.mjs';
import {serve, SITE} from '../tests/web/support.mjs';

const ONLY = process.env.VEXA_BENCH_LATENCIES;
const LATENCIES_MS = ONLY ? ONLY.trim().split(/[\s,]+/).map(Number) : [1, 2, 5];
const ERASE_MS = 200;

// The unit answers exactly after its latency, as the Linux build's simulated unit does: Chromium fires a
// timer a quarter of a millisecond late on average, so the unit sets it a millisecond short and waits out
// the rest on the page's thread. What remains late is summed, and each reply's time kept.
function answer_exactly() {
  const unit = window.vexaUnit;
  Object.assign(unit, {late_ms: 0, replied: []});
  unit.wait = (then, due) => setTimeout(() => {
    while (performance.now() < due);
    unit.late_ms += performance.now() - due;
    unit.replied.push(performance.now());
    then();
  }, Math.max(0, due - performance.now() - 1));
}

// The share of replies that the program answered only after more than 1 ms: its look just before the
// reply came had missed it, and the next look is a millisecond on.
function missed_first_look() {
  const {received, replied, message_count: count} = window.vexaUnit;
  const sent = received.slice(-count).map((message) => message.at);
  let next = 0;
  let missed = 0;
  let answered = 0;
  for (const at of replied.filter((time) => time >= sent[0])) {
    while (next < sent.length && sent[next] < at) ++next;
    if (next === sent.length) break;
    ++answered;
    if (sent[next] - at > 1) ++missed;
  }
  return missed / answered;
}

async function upload(browser, url, latency_ms) {
  const {page, close} = await browser.open(url, {mode: 'boot', latency_ms, erase_ms: ERASE_MS});
  await page.native.evaluateOnNewDocument(answer_exactly);
  await page.reload();
  await page.locator('[role=combobox]').click();
  await page.locator('[role=option]').filter({hasText: 'vexa'}).click();
  await page.locator('#client [role=status]').filter({hasText: 'vexa in update mode'}).waitFor();
  // The presence check's status queries go on during the upload; they count as messages like the rest.
  await page.evaluate(() => Object.assign(window.vexaUnit, {message_count: 0, first_at: null, late_ms: 0}));
  const load = loadavg()[0];
  await page.locator('#client button').filter({hasText: /^Update firmware$/}).click();
  // The unit leaves its update mode at the upload's last message.
  const unit = await page.evaluate(() => new Promise((resolve) => {
    const look = () => (window.vexaUnit.mode === 'running' ? resolve(window.vexaUnit) : setTimeout(look, 100));
    look();
  }));
  const missed = await page.evaluate(missed_first_look);
  await close();

  const wall_ms = unit.last_at - unit.first_at + latency_ms;
  const floor_ms = unit.message_count * latency_ms + ERASE_MS;
  console.log(`L = ${latency_ms} ms: ${unit.next_packet} packets, ${unit.message_count} messages, wall time ` +
              `${(wall_ms / 1000).toFixed(2)} s, ${Math.round(unit.next_packet / (wall_ms / 1000))} packets/s, ` +
              `ratio to the floor (${(floor_ms / 1000).toFixed(2)} s) ${(wall_ms / floor_ms).toFixed(2)} ` +
              `(load average ${load.toFixed(2)})`);
  // What remains of the unit's own lateness, and how long the page and the program take from a delivered
  // reply to the next message (at least one of the program's 1 ms looks): the rest of the time.
  const late_ms = unit.late_ms / unit.message_count;
  console.log(`  per message: reply late by ${late_ms.toFixed(3)} ms, reply to next message ` +
              `${((wall_ms - floor_ms) / unit.message_count - late_ms).toFixed(2)} ms; ` +
              `${(missed * 100).toFixed(0)} % of replies answered after more than 1 ms`);
}

// The time from loading the page to the drawn dialog, the site's size and what its service worker keeps.
async function site_figures(browser, url) {
  const drawn = [];
  for (let load = 0; load < 3; ++load) {
    const {page, close} = await browser.open(url, {});
    await page.locator('#window').waitFor();
    drawn.push(await page.evaluate(() => performance.getEntriesByName('vexa-dialog-drawn')[0].startTime));
    await close();
  }
  // What the service worker keeps for use offline, once the first visit has installed it.
  const {page, close} = await browser.open(url, {});
  await page.locator('#site-state').filter({hasText: 'Kept for use offline'}).waitFor();
  const kept = await page.evaluate(async () => {
    let bytes = 0;
    let files = 0;
    for (const name of await caches.keys()) {
      const store = await caches.open(name);
      for (const request of await store.keys()) {
        bytes += (await (await store.match(request)).blob()).size;
        ++files;
      }
    }
    return {bytes, files, usage: (await navigator.storage.estimate()).usage};
  });
  await close();
  const site = readdirSync(SITE).map((name) => [name, statSync(path.join(SITE, name)).size]);
  const total = site.reduce((sum, [, size]) => sum + size, 0);
  console.log(`page load to drawn dialog: ${drawn.map((ms) => ms.toFixed(0) + ' ms').join(', ')} ` +
              '(first load, then cached)');
  console.log(`site: ${(total / 1024).toFixed(0)} KiB (` +
              site.map(([name, size]) => `${name} ${(size / 1024).toFixed(1)}`).join(', ') + ')');
  console.log(`kept offline: ${kept.files} files, ${(kept.bytes / 1024).toFixed(0)} KiB in the service worker's ` +
              `store, ${(kept.usage / 1024).toFixed(0)} KiB of the origin's storage in use`);
}

const server = await serve();
const browser = await launch('chromium');
try {
  console.log('browser upload (headless Chromium, the unit stand-in answering exactly after L):');
  for (const latency_ms of LATENCIES_MS) await upload(browser, server.url, latency_ms);
  if (!ONLY) await site_figures(browser, server.url);
} finally {
  await browser.close();
  server.stop();
}
