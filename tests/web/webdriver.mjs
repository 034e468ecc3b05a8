// WebKit for the browser tests: Debian's WebKitWebDriver and its MiniBrowser, driven over classic WebDriver
// (plain HTTP). The MiniBrowser has no headless mode and answers no session without a display, so it runs
// under an Xvfb of its own. Each page is a session of its own, a fresh browser with a fresh driver.
// WebKitGTK gives an isolated page a SharedArrayBuffer only with JSC_useSharedArrayBuffer=1 in its
// environment; the program's threads need one.
import {spawn} from 'node:child_process';
import net from 'node:net';

import {MATCH} from './match.mjs';

export const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const ELEMENT = 'element-6066-11e4-a52e-4f735466cecf';
const KEYS = {Backspace: '\uE003', Tab: '\uE004', Enter: '\uE007', Space: ' ', End: '\uE010', ArrowRight: '\uE014',
              F9: '\uE039'};
// Where to look for an element of a role besides [role=...]: the HTML elements that have it implicitly. The
// engine's accessibility tree then decides (computedrole, computedlabel).
const IMPLICIT = {button: 'button', checkbox: 'input[type=checkbox]', heading: 'h1,h2,h3', option: 'option'};
// The longest a driver takes to answer, a page's load included.
const CALL_MS = 60000;

const free_port = () => new Promise((resolve, reject) => {
  const server = net.createServer().listen(0, '127.0.0.1', () => {
    const {port} = server.address();
    server.close(() => resolve(port));
  }).on('error', reject);
});

// A WebDriver client of one session, once begun at a page.
class Session {
  constructor(base) { this.base = base; }

  async call(method, path, body) {
    const response = await fetch(this.base + path, {
      method, headers: {'content-type': 'application/json'}, body: body && JSON.stringify(body),
      signal: AbortSignal.timeout(CALL_MS),
    });
    const {value} = await response.json();
    if (value?.error) throw new Error(`WebDriver ${method} ${path}: ${value.error}: ${value.message}`);
    return value;
  }

  async begin(url) {
    for (let tries = 0; !(await fetch(this.base + '/status').catch(() => null)); ++tries) {
      if (tries > 200) throw new Error('WebKitWebDriver does not answer');
      await new Promise((resolve) => setTimeout(resolve, 25));
    }
    const capabilities = {'webkitgtk:browserOptions': {binary: MINIBROWSER, args: ['--automation']}};
    const {sessionId} = await this.call('POST', '/session', {capabilities: {alwaysMatch: capabilities}});
    this.path = '/session/' + sessionId;
    await this.call('POST', this.path + '/window/rect', {width: 640, height: 1000});
    await this.call('POST', this.path + '/url', {url});
  }

  run(fn, ...args) {
    return this.call('POST', this.path + '/execute/sync', {script: `return (${fn}).apply(null, arguments);`, args});
  }
}

async function webkit_page(display, url, unit) {
  if (unit) throw new Error('no stand-in unit in WebKit');
  const port = await free_port();
  const env = {...process.env, DISPLAY: display, JSC_useSharedArrayBuffer: '1'};
  const driver = spawn('WebKitWebDriver', [`--port=${port}`], {env, stdio: 'ignore'});
  const session = new Session(`http://127.0.0.1:${port}`);
  const at = (element) => `${session.path}/element/${element[ELEMENT]}`;
  const args = (arg) => (arg === undefined ? [] : [arg]);
  const engine = {
    native: session, errors: null,
    // The page's resource timing: what the page itself loaded (the Workers' own loads are not in it).
    foreign_requests: () => session.run(() => performance.getEntriesByType('resource').map((entry) => entry.name)
        .filter((name) => !/^(blob|data):/.test(name) && new URL(name).origin !== location.origin)),
    evaluate: (fn, arg) => session.run(fn, ...args(arg)),
    on: (element, fn, arg) => session.run(fn, element, ...args(arg)),
    async find(spec) {
      const candidates = [];
      // Shown elements only: the driver has no role for one outside the accessibility tree.
      const css = spec.role && [`[role="${spec.role}"]`, IMPLICIT[spec.role]].filter(Boolean).join(',');
      for (const element of spec.role ? await session.run(MATCH, {css, shown: true}) : []) {
        if ((await session.call('GET', at(element) + '/computedrole')) !== spec.role) continue;
        if (spec.name === undefined || (await session.call('GET', at(element) + '/computedlabel')).trim() === spec.name)
          candidates.push(element);
      }
      return session.run(MATCH, spec, ...candidates);
    },
    release: async () => {},
    click: (element) => session.call('POST', at(element) + '/click', {}),
    keyboard: {press: (key) => session.call('POST', session.path + '/actions', {actions: [{type: 'key', id: 'keyboard',
      actions: [{type: 'keyDown', value: KEYS[key] ?? key}, {type: 'keyUp', value: KEYS[key] ?? key}]}]})},
    reload: () => session.call('POST', session.path + '/refresh', {}),
    goto: (address) => session.call('POST', session.path + '/url', {url: address}),
  };
  const close = () => session.call('DELETE', session.path).catch(() => {}).finally(() => driver.kill());
  await session.begin(url).catch((error) => {
    driver.kill();
    throw error;
  });
  return {engine, close};
}

// An X server of its own on a free display: {display, stop()}.
export async function start_x() {
  const xvfb = spawn('Xvfb', ['-displayfd', '1', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                     {stdio: ['ignore', 'pipe', 'ignore']});
  const display = await new Promise((resolve, reject) => {
    xvfb.on('error', reject);
    xvfb.stdout.once('data', (chunk) => resolve(':' + String(chunk).trim()));
  });
  return {display, stop: () => xvfb.kill()};
}

// The engine under a display of its own: open(url, unit), close().
export async function launch_webkit() {
  const x = await start_x();
  return {open: (url, unit) => webkit_page(x.display, url, unit), close: async () => x.stop()};
}
