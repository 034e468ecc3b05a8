// What the browser tests and the benchmark share: the site served as `make run-web` serves it, Debian's
// chromium driven headless, and a page with the stand-in unit installed.
import {spawn} from 'node:child_process';
import {existsSync} from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {chromium} from 'playwright-core';

import {install_unit} from './unit.mjs';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const SITE = process.env.VEXA_SITE || path.join(ROOT, 'build-web/site');
const BROWSER = process.env.VEXA_CHROMIUM || '/usr/bin/chromium';

// Exit code 77 (skipped) when the site or the browser is missing.
export function require_site() {
  if (!existsSync(path.join(SITE, 'vexa.wasm')) || !existsSync(BROWSER)) {
    console.error(`browser tests: ${SITE} or ${BROWSER} missing (make web, scripts/deps.sh web)`);
    process.exit(77);
  }
}

// Starts scripts/serve_web.py on a free port (or, plain, a static server that sets no headers at all);
// resolves to {url, stop}.
export function serve(plain = false) {
  const command = plain ? ['-m', 'http.server', '--bind', '127.0.0.1', '--directory', SITE, '0']
                        : [path.join(ROOT, 'scripts/serve_web.py'), SITE, '0'];
  return new Promise((resolve, reject) => {
    const server = spawn('python3', ['-u', ...command], {stdio: ['ignore', 'pipe', 'inherit']});
    server.on('error', reject);
    server.stdout.on('data', (chunk) => {
      const found = /(?:127\.0\.0\.1:|127\.0\.0\.1 port )(\d+)/.exec(String(chunk));
      if (found) resolve({url: `http://127.0.0.1:${found[1]}/`, stop: () => server.kill()});
    });
  });
}

export function launch() {
  return chromium.launch({executablePath: BROWSER, args: ['--no-sandbox']});
}

// A fresh context and page with the unit stand-in installed; requests to other origins are counted.
export async function open_page(browser, url, unit_options = {}, query = '') {
  const context = await browser.newContext({viewport: {width: 640, height: 1000}});
  await context.addInitScript(install_unit, unit_options);
  const page = await context.newPage();
  const origin = new URL(url).origin;
  page.foreign_requests = [];
  page.errors = [];
  page.on('request', (request) => {
    const target = new URL(request.url());
    if (!['blob:', 'data:'].includes(target.protocol) && target.origin !== origin)
      page.foreign_requests.push(request.url());
  });
  page.on('pageerror', (error) => page.errors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') page.errors.push(message.text());
  });
  const response = await page.goto(url + query);
  return {context, page, response};
}

// Opens the port list and chooses the unit.
export async function connect_vexa(page) {
  await page.getByRole('combobox', {name: 'MIDI port'}).click();
  await page.getByRole('option', {name: 'vexa'}).click();
}

// Polls a function in the page until it returns true (waitForFunction evaluates strings, which the
// page's Content-Security-Policy forbids).
export async function poll(page, fn, arg, timeout_ms = 30000) {
  const end = Date.now() + timeout_ms;
  while (!(await page.evaluate(fn, arg))) {
    if (Date.now() > end) throw new Error('timed out waiting for ' + fn);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}
