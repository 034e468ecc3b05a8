// The vexa for the browser tests: a stand-in for navigator.requestMIDIAccess, installed into the page
// before its scripts run (driver.mjs), with one output and one input named "vexa" (or options.name) and the
// unit's protocol behind them: settings and their read-back, the status query, and the boot loader's
// erase, data packets (framing, checksum and number checked), verify and finish. Replies come after a latency.
// The test reads and steers it through window.vexaUnit.
export function install_unit(options) {
  const PARAMS = [0x52, 0x53, 0x55, 0x56, 0x58, 0x59, 0x5a, 0x5b, 0x5c, 0x5d];
  const unit = {
    mode: options.mode || 'running', version: [0x33, 0x31],
    settings: options.settings || [0, 0, 0, 8, 0, 0, 0, 0, 0, 0],
    latency_ms: options.latency_ms ?? 1, erase_ms: options.erase_ms ?? 300, erased: false, erase_done: 0,
    naks: {...(options.naks || {})},  // packet number -> NAKs to answer before it is taken
    received: [],  // {at: ms, bytes: [...]}
    packets: [],   // accepted packets, whole messages
    next_packet: 0,
    rejected: 0,   // data packets refused for their framing, length or checksum
    // The count of messages, and the times of the first and the last, since the test last cleared them.
    message_count: 0, first_at: null, last_at: null,
    // How a reply waits until it is due: on the page's timers, or (untimed) on a message channel, which a
    // hidden page does not slow down. The benchmark puts its own here.
    wait: options.untimed ? wait_untimed : (then, due) => setTimeout(then, due - performance.now()),
  };
  window.vexaUnit = unit;
  // A browser without Atomics.waitAsync (Firefox before 145), or without SharedArrayBuffer.
  if (options.wait_async === false) delete Atomics.waitAsync;
  if (options.shared_memory === false) delete window.SharedArrayBuffer;
  stand_in_permission(options.permission ?? (options.web_midi === 'refused' ? 'denied' : 'granted'));
  if (options.user_agent) Object.defineProperty(Navigator.prototype, 'userAgent', {get: () => options.user_agent});
  if (options.web_midi === 'missing') return delete Navigator.prototype.requestMIDIAccess;
  if (options.web_midi === 'refused') {
    Navigator.prototype.requestMIDIAccess = () => Promise.reject(new DOMException('Refused', 'NotAllowedError'));
    return;
  }

  const port = (type, id) => Object.assign(new EventTarget(), {
    type, id, name: options.name ?? 'vexa', manufacturer: 'Quorvanex', version: '3.1', state: 'connected',
    connection: 'open', onmidimessage: null, open: () => Promise.resolve(), close: () => Promise.resolve()});
  const output = port('output', 'vexa-out');
  const input = port('input', 'vexa-in');
  const access = Object.assign(new EventTarget(), {inputs: new Map([[input.id, input]]),
                                                   outputs: new Map([[output.id, output]]), sysexEnabled: true,
                                                   onstatechange: null});

  const deliver = (bytes, delay_ms) => unit.wait(() => arrive(bytes), performance.now() + delay_ms);
  const arrive = (bytes) => {
    if (input.state !== 'connected') return;
    const event = new MIDIMessageEvent('midimessage', {data: new Uint8Array(bytes)});
    input.dispatchEvent(event);
    if (input.onmidimessage) input.onmidimessage(event);
  };
  const reply = (code, values, ms = unit.latency_ms) => deliver([0xf0, 0x2c, 0x4d, code, ...values, 0xf7], ms);

  function packet_number(bytes) {
    const data = bytes.slice(4, -1);
    if (data.length < 5 || data.length > 24 || data.some((b) => b > 0x7f)) return -1;
    const sum = data.slice(0, -1).reduce((a, b) => a + b, 0) & 0x7f;
    if (sum !== data[data.length - 1]) return -1;
    return (data[0] << 14) | (data[1] << 7) | data[2];
  }

  function receive(bytes) {
    const now = performance.now();
    ++unit.message_count;
    unit.first_at ??= now;
    unit.last_at = now;
    unit.received.push({at: now, bytes});
    const n = bytes.length;
    if (n < 5 || bytes[0] !== 0xf0 || bytes[n - 1] !== 0xf7 || bytes[1] !== 0x2c || bytes[2] !== 0x4d) return;
    const code = bytes[3];
    const boot = unit.mode === 'boot';
    if (code === 0x10 && n === 5) {
      reply(boot ? 0x1f : 0x21, unit.version);
    } else if (code === 0x12 && n === 5 && boot) {
      Object.assign(unit, {erased: true, erase_done: now + unit.erase_ms, version: [0x7f, 0x7f], packets: [],
                           next_packet: 0});
      reply(0x22, [], unit.erase_ms);
    } else if (code === 0x30 && boot) {
      if (unit.naks[unit.next_packet] > 0) {
        --unit.naks[unit.next_packet];
        return reply(0x4e, []);
      }
      const number = packet_number(bytes);
      if (number < 0) ++unit.rejected;
      const ready = unit.erased && now >= unit.erase_done;
      if (ready && number >= 0 && number === unit.next_packet) {
        unit.packets.push(bytes);
        ++unit.next_packet;
        unit.version = [0x33, 0x31];
        reply(0x40, []);
      } else {
        reply(ready && number >= 0 && number === unit.next_packet - 1 ? 0x40 : 0x4e, []);
      }
    } else if (code === 0x50 && n === 5 && boot) {
      reply(0x60, []);
      Object.assign(unit, {mode: 'running', erased: false});
    } else if (PARAMS.includes(code) && n === 6 && !boot) {
      const index = PARAMS.indexOf(code);
      if (bytes[4] === 0x7f) return reply(code + 0x10, [unit.settings[index]]);
      const highest = code === 0x53 ? 126 : code === 0x56 ? 15 : 1;
      if (bytes[4] <= highest) unit.settings[index] = bytes[4];
    }
  }

  output.send = (data) => {
    if (output.state !== 'connected') throw new DOMException('The port is disconnected', 'InvalidStateError');
    receive(Array.from(data));
  };

  // The unit is pulled out: both ports disconnected, announced as Chromium does.
  unit.unplug = () => {
    for (const port of [output, input]) {
      port.state = 'disconnected';
      const event = new Event('statechange');
      Object.defineProperty(event, 'port', {value: port});
      access.dispatchEvent(event);
      if (access.onstatechange) access.onstatechange(event);
    }
  };
  Navigator.prototype.requestMIDIAccess = function(request) {
    unit.requested = request;
    return Promise.resolve(access);
  };

  // What the browser says of the permission for MIDI with System Exclusive messages before the page asks:
  // 'granted' or 'denied' as a person decided on an earlier visit, 'prompt' on the first, 'missing' where a
  // browser has no navigator.permissions.
  function stand_in_permission(state) {
    if (state === 'missing') return delete Navigator.prototype.permissions;
    const query = Permissions.prototype.query;
    Permissions.prototype.query = function(descriptor) {
      return descriptor?.name === 'midi' ? Promise.resolve({name: 'midi', state}) : query.call(this, descriptor);
    };
  }

  // A page in the background fires its timers once a second at most, yet a unit's replies reach it as
  // MIDI events, which are not held back.
  function wait_untimed(then, due) {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => (performance.now() >= due ? then() : channel.port2.postMessage(null));
    channel.port2.postMessage(null);
  }
}
