// What the browser tests and the benchmark share: the site served as `make run-web` serves it.
import {spawn} from 'node:child_process';
import {existsSync, readFileSync} from 'node:fs';
import path from 'node:path';
import {after, before, test} from 'node:test';
import {fileURLToPath} from 'node:url';

import {launch} from './driver.mjs';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const SITE = process.env.VEXA_SITE || path.join(ROOT, 'build-web/site');

// Exit code 77 (skipped) when the site is missing.
export function require_site() {
  if (!existsSync(path.join(SITE, 'sw.js'))) {
    console.error(`browser tests: ${SITE} missing (make web)`);
    process.exit(77);
  }
}

// Starts scripts/serve_web.py on a free port (or, plain, a static server that sets no headers at all);
// resolves to {url, stop}.
export function serve(plain = false) {
  const command = plain ? ['-m', 'http.server', '--bind', '127.0.0.1', '--directory', SITE, '0']
                        : [path.join(ROOT, 'scripts/serve_web.py'), SITE, '0'];
  return new Promise((resolve, reject) => {
    // The plain server logs every request on stderr.
    const server = spawn('python3', ['-u', ...command], {stdio: ['ignore', 'pipe', plain ? 'ignore' : 'inherit']});
    server.on('error', reject);
    server.stdout.on('data', (chunk) => {
      const found = /(?:127\.0\.0\.1:|127\.0\.0\.1 port )(\d+)/.exec(String(chunk));
      if (found) resolve({url: `http://127.0.0.1:${found[1]}/`, stop: () => server.kill()});
    });
  });
}

const hex = (bytes) => bytes.map((b) => b.toString(16).padStart(2, '0')).join(' ');

// The image as the unit must receive it: the firmware file's packets, one per line after the header line.
export function image_packets() {
  const file = readFileSync(path.join(ROOT, 'res/firmware.bin'));
  const packets = [];
  let start = file.indexOf(0x0d) + 1;
  while (file[start] === 0xf0) {
    const end = file.indexOf(0xf7, start);
    packets.push(hex([...file.subarray(start, end + 1)]));
    start = end + 2;
  }
  return packets;
}

// What one engine's tests share: the site served and the engine started before them and both stopped after
// them (`run.server`, `run.browser`), and `run.check(title, needs, body)`, a test that is skipped with the
// engine's reason where it cannot do one of `needs`.
export function engine_setup(engine) {
  const run = {server: null, browser: null};
  before(async () => {
    run.server = await serve();
    run.browser = await launch(engine);
  });
  after(async () => {
    await run.browser?.close();
    run.server?.stop();
  });
  run.check = (title, needs, body) => test(title, async (t) => {
    const reason = needs.map((need) => run.browser.cannot[need]).find(Boolean);
    return reason ? t.skip(reason) : body(t);
  });
  return run;
}
