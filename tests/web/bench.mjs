// Browser benchmark: the whole image uploaded through the page (program, stand-in, Web MIDI back-end,
// the page's main thread) into the unit stand-in, which answers every message after 2 ms. Prints the wall
// time, packets per second and the ratio to the protocol's floor (messages x latency + erase time), the
// time from loading the page to the drawn dialog, and the size of the site.
import {readdirSync, statSync} from 'node:fs';
import path from 'node:path';

import {launch, open_page, require_site, serve, SITE} from './support.mjs';

require_site();
const LATENCY_MS = 2;
const ERASE_MS = 200;

const server = await serve();
const browser = await launch();
try {
  const drawn = [];
  for (let load = 0; load < 3; ++load) {
    const {context, page} = await open_page(browser, server.url, {});
    await page.getByRole('dialog').waitFor();
    drawn.push(await page.evaluate(() => performance.getEntriesByName('vexa-dialog-drawn')[0].startTime));
    await context.close();
  }

  const {context, page} = await open_page(browser, server.url,
                                          {mode: 'boot', latency_ms: LATENCY_MS, erase_ms: ERASE_MS,
                                           keep_history: false});
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name: 'vexa'}).click();
  await page.locator('#client [role=status]', {hasText: 'vexa in update mode'}).waitFor();
  // The presence check's status queries go on during the upload; they count as messages like the rest.
  await page.evaluate(() => Object.assign(window.vexaUnit, {message_count: 0, first_at: null, timer_late_ms: 0, turnaround_ms: 0}));
  await page.getByRole('button', {name: 'Update firmware', exact: true}).click();
  await page.getByRole('status').filter({hasText: 'Programming successful'}).waitFor({timeout: 120000});
  const unit = await page.evaluate(() => window.vexaUnit);
  await context.close();

  const wall_ms = unit.last_at - unit.first_at + LATENCY_MS;
  const floor_ms = unit.message_count * LATENCY_MS + ERASE_MS;
  const site = readdirSync(SITE).map((name) => [name, statSync(path.join(SITE, name)).size]);
  const total = site.reduce((sum, [, size]) => sum + size, 0);
  console.log(`browser upload at ${LATENCY_MS} ms reply latency: ${unit.next_packet} packets, ` +
              `${unit.message_count} messages`);
  console.log(`  wall time ${(wall_ms / 1000).toFixed(2)} s, ${Math.round(unit.next_packet / (wall_ms / 1000))} ` +
              `packets/s, ratio to the floor (${(floor_ms / 1000).toFixed(2)} s) ${(wall_ms / floor_ms).toFixed(2)}`);
  // The stand-in's replies come on the page's timers, which fire late by some share of a millisecond:
  // the floor with the replies' true times separates that from what the program and the page add.
  const unit_floor_ms = floor_ms + unit.timer_late_ms;
  console.log(`  per message: reply timer late by ${(unit.timer_late_ms / unit.message_count).toFixed(2)} ms, ` +
              `reply to next message ${(unit.turnaround_ms / unit.message_count).toFixed(2)} ms; ratio to ` +
              `the floor with the replies' true times ${(wall_ms / unit_floor_ms).toFixed(2)}`);
  console.log(`page load to drawn dialog: ${drawn.map((ms) => ms.toFixed(0) + ' ms').join(', ')} ` +
              '(first load, then cached)');
  console.log(`site: ${(total / 1024).toFixed(0)} KiB (` +
              site.map(([name, size]) => `${name} ${(size / 1024).toFixed(1)}`).join(', ') + ')');
} finally {
  await browser.close();
  server.stop();
}
