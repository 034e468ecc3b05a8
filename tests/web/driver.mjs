// One way for the browser tests to use the page in every engine: Chromium (DevTools protocol) and Firefox
// (WebDriver BiDi) through puppeteer-core, WebKit through classic WebDriver (webdriver.mjs). Elements are
// found by role and accessible name as the engine's own accessibility tree computes them, or by CSS or
// text, and used through real input events, with the few calls of Playwright's API that the tests use.
import {spawnSync} from 'node:child_process';
import {existsSync} from 'node:fs';

import puppeteer from 'puppeteer-core';

import {MATCH} from './match.mjs';
import {install_unit} from './unit.mjs';
import {launch_webkit, MINIBROWSER, start_x} from './webdriver.mjs';

const TIMEOUT_MS = 30000;
const POLL_MS = 25;

// The engines, and what each cannot do here, as measured: a case that needs it is skipped with the reason.
const ENGINES = {
  chromium: {program: process.env.VEXA_CHROMIUM || '/usr/bin/chromium', cannot: {}},
  firefox: {program: process.env.VEXA_FIREFOX || '/usr/bin/firefox-esr', cannot: {
    'installing': 'Firefox ESR installs no web app on Linux: there is nothing to ask',
    'hard reload': 'its WebDriver BiDi refuses a reload that bypasses the cache ("ignoreCache is not supported")',
    'lifecycle': 'a frozen page is a lifecycle state of the DevTools protocol; a hidden tab is measured in Chromium',
  }},
  webkit: {program: '/usr/bin/WebKitWebDriver', also: ['/usr/bin/Xvfb', MINIBROWSER], cannot: {
    'stand-in': 'classic WebDriver runs no script before the page\'s own: no stand-in for Web MIDI (WebKit has none)',
    'beside': 'each page is a WebDriver session, a browser of its own: no two pages share a service worker',
    'hard reload': 'classic WebDriver reloads a page only as a plain reload does',
    'installing': 'the MiniBrowser installs no web app: there is nothing to ask',
    'lifecycle': 'classic WebDriver has no lifecycle states and no second tab of one browser',
  }},
};

// Runs step() until it gives a value other than undefined, and returns it. A step that fails is tried
// again until the time is up: a query, or the use of an element it found, fails while the page navigates
// (it reloads itself once its service worker is installed). A closed page ends the wait at once.
async function poll(page, step, what, timeout_ms = TIMEOUT_MS) {
  const end = Date.now() + timeout_ms;
  for (let failure = '';; await new Promise((resolve) => setTimeout(resolve, POLL_MS))) {
    if (page.closed) throw new Error(`the page was closed while waiting for ${what}`);
    try {
      const value = await step();
      if (value !== undefined) return value;
    } catch (error) {
      if (error.final) throw error;
      failure = `; the last try failed: ${error.message}`;
    }
    if (Date.now() > end) throw new Error(`timed out after ${timeout_ms} ms waiting for ${what}${failure}`);
  }
}

// Disabled as Playwright counts it: the element's own disabled state or aria-disabled on it or around it.
const DISABLED = (el) => el.disabled === true || el.closest('[aria-disabled="true"]') !== null;

// A query that is run again until it holds.
class Locator {
  constructor(page, spec) { Object.assign(this, {page, spec}); }

  filter({hasText}) { return new Locator(this.page, {...this.spec, has_text: hasText}); }
  and(css) { return new Locator(this.page, {...this.spec, and_css: css}); }

  // Waits until fn(the matches, shown ones only with `shown`) gives a value other than undefined.
  until(fn, what, timeout_ms = TIMEOUT_MS, shown = true) {
    const {has_text: text, ...spec} = this.spec;
    const has_text = text instanceof RegExp ? {source: text.source, flags: text.flags} : text;
    return poll(this.page, async () => {
      const found = await this.page.find({...spec, has_text, shown});
      try {
        return await fn(found);
      } finally {
        await this.page.release(found).catch(() => {});
      }
    }, `${what}: ${JSON.stringify(this.spec)}`, timeout_ms);
  }

  // use(the one element that matches), once one does (as Playwright's strict locators, an error when several
  // do); shown and enabled, for input. Run again with the element found again where it fails.
  use(use, for_input = false) {
    return this.until(async (found) => {
      if (found.length > 1) throw Object.assign(new Error(`${found.length} elements match`), {final: true});
      if (found.length === 0 || (for_input && (await this.page.on(found[0], DISABLED)))) return undefined;
      return {result: await use(found[0])};
    }, for_input ? 'an enabled element' : 'an element', TIMEOUT_MS, for_input).then(({result}) => result);
  }

  // state: 'visible' or 'hidden', or 'enabled' or 'disabled' (one shown element).
  waitFor({state = 'visible', timeout = TIMEOUT_MS} = {}) {
    return this.until(async (shown) => {
      if (['visible', 'hidden'].includes(state)) return (shown.length > 0) === (state === 'visible') || undefined;
      return (shown.length === 1 && (await this.page.on(shown[0], DISABLED)) === (state === 'disabled')) ||
             undefined;
    }, state, timeout);
  }

  click() { return this.use((element) => this.page.click(element), true); }
  focus() { return this.use((element) => this.page.on(element, (el) => el.focus()), true); }
  evaluate(fn, arg) { return this.use((element) => this.page.on(element, fn, arg)); }
  textContent() { return this.evaluate((el) => el.textContent); }
  inputValue() { return this.evaluate((el) => el.value); }
  getAttribute(name) { return this.evaluate((el, n) => el.getAttribute(n), name); }
  isChecked() { return this.evaluate((el) => el.checked ?? el.getAttribute('aria-checked') === 'true'); }
}

// A page of either driver: native is the driver's own page (puppeteer's Page; the WebDriver session), for
// what only one engine can do; errors on the page are null where the engine cannot tell.
class Page {
  constructor(engine) { Object.assign(this, engine, {closed: false}); }
  getByRole(role, {name} = {}) { return new Locator(this, {role, name}); }
  locator(css) { return new Locator(this, {css}); }
  // Runs fn(arg) in the page until it gives a true value, which it returns (waitForFunction would evaluate
  // a string, which the page's Content-Security-Policy forbids).
  until(fn, arg, timeout_ms = TIMEOUT_MS) {
    return poll(this, async () => (await this.evaluate(fn, arg)) || undefined, String(fn), timeout_ms);
  }
  // From the page itself: puppeteer's own record of it misses a navigation the page makes in Firefox 140.
  url() { return this.evaluate(() => location.href); }
}

const aria = (role, name) =>
  `::-p-aria([role=${JSON.stringify(role)}]` + (name === undefined ? '' : `[name=${JSON.stringify(name)}]`) + ')';

// The elements of a role and accessible name. Names compare without blanks at either end, as Gecko and
// WebKit give them; Chromium keeps the blank that leads the dialog's caption, so there a name is also looked
// for with a leading blank (lead_blank). The query starts from the document as it is now: puppeteer's own
// page.$$ starts from a document it keeps, which in Firefox was seen to stay that of the page before it
// reloaded itself, and every query failed from then on.
async function by_role(page, role, name, lead_blank) {
  const document = await page.evaluateHandle(() => window.document);
  try {
    const found = await document.$$(aria(role, name));
    return found.length || name === undefined || !lead_blank ? found : await document.$$(aria(role, ' ' + name));
  } finally {
    await document.dispose();
  }
}

async function puppeteer_page(context, url, unit, lead_blank) {
  const page = await context.newPage();
  // puppeteer sends a screen orientation with the size, which Firefox before 141 (Debian 12's firefox-esr
  // without its security updates) does not know; the size itself goes in the command before.
  await page.setViewport({width: 640, height: 1000}).catch((error) => {
    if (!String(error.message).includes('setScreenOrientationOverride')) throw error;
    return page.waitForFunction(() => window.innerWidth === 640);
  });
  if (unit) await page.evaluateOnNewDocument(install_unit, unit);
  const foreign = [];
  const errors = [];
  page.on('request', (request) => {
    const target = new URL(request.url());
    const own = ['blob:', 'data:'].includes(target.protocol) || target.origin === new URL(url).origin;
    if (!own) foreign.push(target.href);
  });
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  await page.goto(url);
  return {
    native: page, errors, foreign_requests: () => foreign,
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    on: (handle, fn, arg) => handle.evaluate(fn, arg),
    async find(spec) {
      const candidates = spec.role ? await by_role(page, spec.role, spec.name, lead_blank) : [];
      const list = await page.evaluateHandle(MATCH, spec, ...candidates);
      const found = [...(await list.getProperties()).values()];
      await Promise.all([list, ...candidates].map((handle) => handle.dispose()));
      return found;
    },
    release: (handles) => Promise.all(handles.map((handle) => handle.dispose())),
    click: (handle) => handle.click(),
    keyboard: {press: (key) => page.keyboard.press(key === 'Space' ? ' ' : key)},
    reload: () => page.reload(),
    goto: (address) => page.goto(address),
  };
}

// Headed (Chromium only), the browser gets an X server of its own, where a tab behind another one is hidden
// as on a desktop, and keeps the background tab's slowed timers that puppeteer turns off by default.
async function launch_puppeteer(name, program, headed) {
  const x = headed ? await start_x() : null;
  const browser = await puppeteer.launch({
    browser: name === 'firefox' ? 'firefox' : 'chrome', executablePath: program, headless: !headed,
    args: name === 'chromium' ? ['--no-sandbox'] : [], protocolTimeout: 120000,
    ...(x && {env: {...process.env, DISPLAY: x.display}, ignoreDefaultArgs: [
      '--disable-background-timer-throttling', '--disable-backgrounding-occluded-windows',
      '--disable-renderer-backgrounding']}),
  });
  return {
    // A page in a browser context of its own, and beside() another page of the same context (its service
    // workers and storage), a tab in front of the first; the context ends with its last page.
    async open(url, unit) {
      const context = await browser.createBrowserContext();
      let pages = 0;
      const page_of = async (at, with_unit) => {
        const engine = await puppeteer_page(context, at, with_unit, name === 'chromium');
        ++pages;
        return {engine, close: () => (--pages ? engine.native.close() : context.close()), beside: page_of};
      };
      return page_of(url, unit);
    },
    close: () => browser.close().finally(() => x?.stop()),
  };
}

// Why the engine cannot run here, or '' when it can.
export function missing(name) {
  const absent = [ENGINES[name].program, ...(ENGINES[name].also || [])].filter((file) => !existsSync(file));
  return absent.length ? `${absent.join(' and ')} missing (scripts/deps.sh web installs it)` : '';
}

// Why the engine cannot do `need` here, or '' when it can.
export const cannot = (name, need) => ENGINES[name].cannot[need] || '';

// The engine's name and version as it tells them.
export function version(name) {
  const [command, ...args] = name === 'webkit' ? ['dpkg-query', '-W', '-f=WebKitGTK ${Version}', 'webkit2gtk-driver']
                                               : [ENGINES[name].program, '--version'];
  return String(spawnSync(command, args).stdout).trim().replace(/ built on .*/, '');
}

// The engine, started (headed: Chromium on an X server of its own): open(url, unit) -> {page, close, beside},
// close(). `unit` holds the options of the stand-in unit (unit.mjs), or null for none. beside(url, unit)
// opens another page of the same browser context, where the engine can ('beside').
export async function launch(name, {headed = false} = {}) {
  const {program, cannot: not_here} = ENGINES[name];
  const started = name === 'webkit' ? await launch_webkit() : await launch_puppeteer(name, program, headed);
  const wrap = ({engine, close, beside}) => {
    const page = new Page(engine);
    const closing = async () => {
      if (page.closed) return;
      page.closed = true;
      await close();
    };
    return {page, close: closing, beside: beside && (async (url, unit) => wrap(await beside(url, unit)))};
  };
  return {name, cannot: not_here, close: started.close,
          open: async (url, unit) => wrap(await started.open(url, unit))};
}
