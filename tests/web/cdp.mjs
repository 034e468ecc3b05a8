// Debian's chromium driven over the Chrome DevTools Protocol itself (a pipe, no library), for what the
// other tests' driver does not: a tab hidden behind another one, which needs a headed browser. Headed runs
// get an X server of their own (Xvfb), where a tab behind another one is hidden as on a desktop.
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync} from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const BROWSER = process.env.VEXA_CHROMIUM || '/usr/bin/chromium';
const POLL_MS = 50;

function start_x() {
  return new Promise((resolve, reject) => {
    const server = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                         {stdio: ['ignore', 'ignore', 'ignore', 'pipe']});
    server.on('error', reject);
    server.stdio[3].on('data', (chunk) => resolve({display: ':' + String(chunk).trim(), server}));
  });
}

// One attached tab: evaluate() runs a function with one argument in the page and returns its result.
class Tab {
  constructor(browser, target, session) {
    Object.assign(this, {browser, target, session});
  }

  send(method, params = {}) {
    return this.browser.send(method, params, this.session);
  }

  async evaluate(fn, arg) {
    const expression = `(${fn})(${JSON.stringify(arg)})`;
    const {result, exceptionDetails} = await this.send('Runtime.evaluate',
                                                       {expression, awaitPromise: true, returnByValue: true});
    if (exceptionDetails) throw new Error(exceptionDetails.exception?.description || exceptionDetails.text);
    return result.value;
  }

  // Polls fn in the page until it returns a true value, which it resolves to; a page being loaded or
  // reloaded meanwhile counts as false.
  async until(fn, arg, timeout_ms = 30000) {
    const end = Date.now() + timeout_ms;
    for (;;) {
      const value = await this.evaluate(fn, arg).catch(() => false);
      if (value) return value;
      if (Date.now() > end) throw new Error('timed out waiting for ' + fn);
      await new Promise((resolve) => setTimeout(resolve, POLL_MS));
    }
  }

  // Runs `source` in every document of this tab before the document's own scripts.
  init_script(source) {
    return this.send('Page.addScriptToEvaluateOnNewDocument', {source});
  }

  navigate(url) {
    return this.send('Page.navigate', {url});
  }

  to_front() {
    return this.send('Page.bringToFront');
  }
}

export class Chromium {
  static async launch({headed = false} = {}) {
    const x = headed ? await start_x() : null;
    const profile = mkdtempSync(path.join(os.tmpdir(), 'vexa-cdp-'));
    const args = ['--no-sandbox', '--remote-debugging-pipe', '--user-data-dir=' + profile, '--no-first-run',
                  '--no-default-browser-check', '--window-size=800,1000', ...(headed ? [] : ['--headless']),
                  'about:blank'];
    const env = x ? {...process.env, DISPLAY: x.display} : process.env;
    const child = spawn(BROWSER, args, {env, stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe']});
    const browser = new Chromium(child, x, profile);
    await browser.ready();
    return browser;
  }

  constructor(child, x, profile) {
    Object.assign(this, {child, x, profile, next_id: 0, pending: new Map(), received: ''});
    child.stdio[4].on('data', (chunk) => this.receive(chunk));
  }

  receive(chunk) {
    this.received += chunk;
    for (let end = this.received.indexOf('\0'); end >= 0; end = this.received.indexOf('\0')) {
      const message = JSON.parse(this.received.slice(0, end));
      this.received = this.received.slice(end + 1);
      const waiting = this.pending.get(message.id);
      if (!waiting) continue;
      this.pending.delete(message.id);
      if (message.error) waiting.reject(new Error(message.error.message));
      else waiting.resolve(message.result);
    }
  }

  send(method, params = {}, sessionId = undefined) {
    const id = ++this.next_id;
    this.child.stdio[3].write(JSON.stringify({id, method, params, sessionId}) + '\0');
    return new Promise((resolve, reject) => this.pending.set(id, {resolve, reject}));
  }

  async ready() {
    const end = Date.now() + 30000;
    while (Date.now() < end) {
      const version = await Promise.race([this.send('Browser.getVersion'),
                                          new Promise((resolve) => setTimeout(resolve, 1000))]);
      if (version) return;
    }
    throw new Error('chromium did not answer over its pipe');
  }

  async attach(targetId) {
    const {sessionId} = await this.send('Target.attachToTarget', {targetId, flatten: true});
    const tab = new Tab(this, targetId, sessionId);
    await tab.send('Page.enable');
    return tab;
  }

  // The tab the browser opened with.
  async first_tab() {
    const {targetInfos} = await this.send('Target.getTargets');
    return this.attach(targetInfos.find((target) => target.type === 'page').targetId);
  }

  // A new tab in front of the others.
  async new_tab(url) {
    const {targetId} = await this.send('Target.createTarget', {url});
    return this.attach(targetId);
  }

  async close_tab(tab) {
    await this.send('Target.closeTarget', {targetId: tab.target});
  }

  async close() {
    const exited = new Promise((resolve) => this.child.once('exit', resolve));
    await Promise.race([this.send('Browser.close'), new Promise((resolve) => setTimeout(resolve, 3000))]);
    this.child.kill();
    await exited;
    this.x?.server.kill();
    rmSync(this.profile, {recursive: true, force: true});
  }
}
