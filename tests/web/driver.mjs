// One way for the browser tests to use the page in every engine: Chromium (DevTools protocol) and Firefox
// (WebDriver BiDi) through puppeteer-core, WebKit through classic WebDriver (webdriver.mjs). Elements are
// found by role and accessible name as the engine's own accessibility tree computes them, or by CSS or
// text, and used through real input events. The calls are the few of Playwright's API that the tests use.
import {spawnSync} from 'node:child_process';
import {existsSync} from 'node:fs';

import puppeteer from 'puppeteer-core';

import {MATCH} from './match.mjs';
import {install_unit} from './unit.mjs';
import {launch_webkit, MINIBROWSER} from './webdriver.mjs';

const VIEWPORT = {width: 640, height: 1000};
const TIMEOUT_MS = 30000;
const POLL_MS = 25;

// The engines, and what each cannot do here, as measured: a test that needs it is skipped with the reason.
const ENGINES = {
  chromium: {program: process.env.VEXA_CHROMIUM || '/usr/bin/chromium', cannot: {}},
  firefox: {program: process.env.VEXA_FIREFOX || '/usr/bin/firefox-esr', cannot: {}},
  webkit: {
    program: '/usr/bin/WebKitWebDriver',
    also: ['/usr/bin/Xvfb', MINIBROWSER],
    cannot: {
      'stand-in': 'classic WebDriver runs no script before the page\'s own, so there is no stand-in for Web ' +
                  'MIDI (WebKit has none: navigator.requestMIDIAccess is undefined)',
      'beside': 'each page is a WebDriver session of its own, a browser of its own: no two pages share a ' +
                'service worker',
      'hard reload': 'classic WebDriver reloads a page only as a plain reload does',
    },
  },
};

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- Locators: a query that is run again until it holds ----

class Locator {
  constructor(page, spec) {
    this.page = page;
    this.spec = spec;
  }

  filter({hasText}) { return new Locator(this.page, {...this.spec, has_text: hasText}); }
  and(other) { return new Locator(this.page, {...this.spec, and_css: other.spec.css}); }
  getByRole(role, {name} = {}) { return new Locator(this.page, {role, name, inside: this}); }

  // The matching elements; only those shown with `shown`.
  async all(shown = false) {
    const {has_text, inside, ...rest} = this.spec;
    const text = has_text instanceof RegExp ? {source: has_text.source, flags: has_text.flags} : has_text;
    const around = inside ? await inside.all(true) : [];
    const found = await this.page.engine.find({...rest, has_text: text, shown, inside: Boolean(inside)}, around);
    await this.page.engine.release(around);
    return found;
  }

  // Waits until fn(the matches, shown ones only with `shown`) gives a value other than undefined, and
  // returns it.
  async until(fn, what, timeout_ms = TIMEOUT_MS, shown = true) {
    const end = Date.now() + timeout_ms;
    let failure = '';
    for (;;) {
      // A query fails while the page navigates (the service worker reloads it once): it is tried again.
      const found = await this.all(shown).catch((error) => {
        failure = `; the last query failed: ${error.message}`;
        return null;
      });
      if (found) {
        const value = await fn(found);
        await this.page.engine.release(found.filter((element) => element !== value));
        if (value !== undefined) return value;
      }
      if (Date.now() > end) throw new Error(`timed out after ${timeout_ms} ms waiting for ${what}: ${this}${failure}`);
      await sleep(POLL_MS);
    }
  }

  // The one element that matches (as Playwright's strict locators, an error when several do); shown and
  // enabled, for input.
  async one(for_input = false) {
    return this.until(async (found) => {
      if (found.length > 1) throw new Error(`${found.length} elements match ${this}`);
      if (found.length === 0 || (for_input && (await this.page.engine.on(found[0], DISABLED)))) return undefined;
      return found[0];
    }, for_input ? 'an enabled element' : 'an element', TIMEOUT_MS, for_input);
  }

  async waitFor({state = 'visible', timeout = TIMEOUT_MS} = {}) {
    await this.until((shown) => ((shown.length > 0) === (state === 'visible') ? true : undefined), state, timeout);
  }

  async count() {
    const found = await this.all();
    await this.page.engine.release(found);
    return found.length;
  }
  async click() { await this.page.engine.click(await this.one(true)); }
  async focus() { await this.page.engine.on(await this.one(true), (el) => el.focus()); }
  async evaluate(fn, arg) { return this.page.engine.on(await this.one(), fn, arg); }
  async textContent() { return this.evaluate((el) => el.textContent); }
  async inputValue() { return this.evaluate((el) => el.value); }
  async getAttribute(name) { return this.evaluate((el, n) => el.getAttribute(n), name); }
  async isChecked() { return this.evaluate((el) => el.checked ?? el.getAttribute('aria-checked') === 'true'); }
  async isDisabled() { return this.page.engine.on(await this.one(), DISABLED); }
  async boundingBox() {
    return this.evaluate((el) => {
      const r = el.getBoundingClientRect();
      return {x: r.x, y: r.y, width: r.width, height: r.height};
    });
  }
  async screenshot({path}) { await this.page.engine.screenshot(await this.one(true), path); }
  toString() { return JSON.stringify(this.spec); }
}

// Disabled as Playwright counts it: the element's own disabled state or aria-disabled on it or around it.
function DISABLED(el) { return el.disabled === true || el.closest('[aria-disabled="true"]') !== null; }

// ---- Pages ----

// `native` is the driver's own page (puppeteer's Page; the WebDriver session for WebKit), for what only
// one engine can do (the DevTools protocol's lifecycle states, say).
class Page {
  constructor(engine) {
    this.engine = engine;
    this.native = engine.native;
    this.keyboard = {press: (key) => engine.press(key), type: (text) => engine.type(text)};
  }
  getByRole(role, {name} = {}) { return new Locator(this, {role, name}); }
  getByText(text) { return new Locator(this, {text}); }
  locator(css) { return new Locator(this, {css}); }
  evaluate(fn, arg) { return this.engine.evaluate(fn, arg); }
  reload() { return this.engine.reload(); }
  goto(url) { return this.engine.goto(url); }
  url() { return this.engine.url(); }
  title() { return this.engine.evaluate(() => document.title); }
  // Requests to other origins, and errors on the page; null where the engine cannot tell.
  foreign_requests() { return this.engine.foreign_requests(); }
  get errors() { return this.engine.errors; }
}

// ---- Chromium and Firefox through puppeteer-core ----

const aria = (role, name) =>
  `::-p-aria([role=${JSON.stringify(role)}]` + (name === undefined ? '' : `[name=${JSON.stringify(name)}]`) + ')';

// The elements of a role and accessible name. Names compare without blanks at either end, as Gecko and
// WebKit give them; Chromium keeps the blank that leads the dialog's caption, so there a name is also looked
// for with a leading blank (lead_blank).
async function by_role(page, role, name, lead_blank) {
  const found = await page.$$(aria(role, name));
  return found.length || name === undefined || !lead_blank ? found : page.$$(aria(role, ' ' + name));
}

// Sets the page's size. puppeteer sends a screen orientation with it, which Firefox before 141 (Debian 12's
// firefox-esr without its security updates) does not know; the size itself goes in the command before, so
// there the page is only waited for until it has it.
async function set_viewport(page) {
  try {
    await page.setViewport(VIEWPORT);
  } catch (error) {
    if (!String(error.message).includes('setScreenOrientationOverride')) throw error;
    await page.waitForFunction((width) => window.innerWidth === width, {}, VIEWPORT.width);
  }
}

async function puppeteer_page(context, url, unit, query, lead_blank) {
  const page = await context.newPage();
  await set_viewport(page);
  if (unit) await page.evaluateOnNewDocument(install_unit, unit);
  const origin = new URL(url).origin;
  const foreign = [];
  const errors = [];
  page.on('request', (request) => {
    const target = new URL(request.url());
    if (!['blob:', 'data:'].includes(target.protocol) && target.origin !== origin) foreign.push(request.url());
  });
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
  });
  const engine = {
    native: page,
    errors,
    foreign_requests: () => foreign,
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    on: (handle, fn, arg) => handle.evaluate(fn, arg),
    async find(spec, around) {
      const candidates = spec.role ? await by_role(page, spec.role, spec.name, lead_blank) : [];
      const list = await page.evaluateHandle(MATCH, {...spec, candidates: candidates.length}, ...candidates,
                                             ...around);
      const found = [];
      for (const handle of (await list.getProperties()).values()) {
        const element = handle.asElement();
        if (element) found.push(element);
        else await handle.dispose();
      }
      await list.dispose();
      await Promise.all(candidates.map((handle) => handle.dispose()));
      return found;
    },
    release: (handles) => Promise.all(handles.map((handle) => handle.dispose())),
    click: (handle) => handle.click(),
    press: (key) => page.keyboard.press(key === 'Space' ? ' ' : key),
    type: (text) => page.keyboard.type(text),
    screenshot: (handle, path) => handle.screenshot({path}),
    reload: () => page.reload(),
    goto: (address) => page.goto(address),
    // From the page itself: puppeteer's own record of it misses a navigation the page makes in Firefox 140.
    url: () => page.evaluate(() => location.href),
  };
  const response = await page.goto(url + query);
  return {engine, headers: response.headers(), close: () => context.close()};
}

async function launch_puppeteer(name, program) {
  const browser = await puppeteer.launch({
    browser: name === 'firefox' ? 'firefox' : 'chrome', executablePath: program, headless: true,
    args: name === 'chromium' ? ['--no-sandbox'] : [], protocolTimeout: 120000,
  });
  return {
    async open(url, unit, query) {
      const context = await browser.createBrowserContext();
      const opened = await puppeteer_page(context, url, unit, query, name === 'chromium');
      // Another page of the same context (its service workers and storage), a tab beside the first.
      opened.beside = async (next_url, next_unit, next_query) => {
        const other = await puppeteer_page(context, next_url, next_unit, next_query, name === 'chromium');
        return {...other, close: () => other.engine.native.close()};
      };
      return opened;
    },
    close: () => browser.close(),
  };
}

// ---- Engines ----

// Why the engine cannot run here, or '' when it can.
export function missing(name) {
  const {program, also = []} = ENGINES[name];
  const absent = [program, ...also].filter((file) => !existsSync(file));
  return absent.length ? `${absent.join(' and ')} missing (scripts/deps.sh web installs it)` : '';
}

// The engine's name and version as it tells them.
export function version(name) {
  const [command, ...args] = {
    chromium: [ENGINES.chromium.program, '--version'], firefox: [ENGINES.firefox.program, '--version'],
    webkit: ['dpkg-query', '-W', '-f=WebKitGTK ${Version}', 'webkit2gtk-driver'],
  }[name];
  return String(spawnSync(command, args).stdout).trim().replace(/ built on .*/, '');
}

// The engine, started: open(url, unit, query, options) -> {page, headers, close, beside}, close(). `unit`
// holds the options of the stand-in unit (unit.mjs), or null for none; headers are the page's response
// headers, null where the engine does not show them. beside(url, unit, query) opens another page of the
// same browser context, where the engine can ('beside').
export async function launch(name) {
  const {program, cannot} = ENGINES[name];
  const started = name === 'webkit' ? await launch_webkit() : await launch_puppeteer(name, program);
  const wrap = ({engine, headers = null, close, beside}) => ({
    page: new Page(engine), headers, close,
    beside: beside && (async (url, unit, query = '') => wrap(await beside(url, unit, query))),
  });
  return {
    name, cannot, close: started.close,
    open: async (url, unit, query = '', options = {}) => wrap(await started.open(url, unit, query, options)),
  };
}
