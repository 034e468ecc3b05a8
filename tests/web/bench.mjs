// Browser benchmark: the whole image uploaded through the page (program, stand-in, Web MIDI back-end,
// the page's main thread) into the unit stand-in, which answers every message after a latency L, at L = 1,
// 2 and 5 ms. Prints for each the wall time, packets per second and the ratio to the protocol's floor
// (messages x L + erase time); then the time from loading the page to the drawn dialog, the size of the
// site and what its service worker keeps for use offline.
import {readdirSync, statSync} from 'node:fs';
import path from 'node:path';

import {launch} from './driver.mjs';
import {require_site, serve, SITE} from './support.mjs';

require_site();
const LATENCIES_MS = [1, 2, 5];
const ERASE_MS = 200;

async function upload(browser, url, latency_ms) {
  const {page, close} = await browser.open(url, {mode: 'boot', latency_ms, erase_ms: ERASE_MS, keep_history: false,
                                                exact: true});
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name: 'vexa'}).click();
  await page.locator('#client [role=status]').filter({hasText: 'vexa in update mode'}).waitFor();
  // The presence check's status queries go on during the upload; they count as messages like the rest.
  await page.evaluate(() => Object.assign(window.vexaUnit, {message_count: 0, first_at: null, timer_late_ms: 0,
                                                            turnaround_ms: 0}));
  await page.getByRole('button', {name: 'Update firmware', exact: true}).click();
  await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 120000});
  const unit = await page.evaluate(() => window.vexaUnit);
  await close();

  const wall_ms = unit.last_at - unit.first_at + latency_ms;
  const floor_ms = unit.message_count * latency_ms + ERASE_MS;
  console.log(`L = ${latency_ms} ms: ${unit.next_packet} packets, ${unit.message_count} messages, wall time ` +
              `${(wall_ms / 1000).toFixed(2)} s, ${Math.round(unit.next_packet / (wall_ms / 1000))} packets/s, ` +
              `ratio to the floor (${(floor_ms / 1000).toFixed(2)} s) ${(wall_ms / floor_ms).toFixed(2)}`);
  // What remains of the unit's own lateness, and how long the page and the program take from a delivered
  // reply to the next message (at least one of the program's 1 ms looks).
  console.log(`  per message: reply late by ${(unit.timer_late_ms / unit.message_count).toFixed(3)} ms, ` +
              `reply to next message ${(unit.turnaround_ms / unit.message_count).toFixed(2)} ms`);
}

const server = await serve();
const browser = await launch('chromium');
try {
  console.log('browser upload (headless Chromium, the unit stand-in answering exactly after L):');
  for (const latency_ms of LATENCIES_MS) await upload(browser, server.url, latency_ms);

  const drawn = [];
  for (let load = 0; load < 3; ++load) {
    const {page, close} = await browser.open(server.url, {});
    await page.getByRole('dialog').waitFor();
    drawn.push(await page.evaluate(() => performance.getEntriesByName('vexa-dialog-drawn')[0].startTime));
    await close();
  }
  // What the service worker keeps for use offline, once the first visit has installed it.
  const {page, close} = await browser.open(server.url, {});
  await page.getByText('Kept for use offline').waitFor();
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
} finally {
  await browser.close();
  server.stop();
}
