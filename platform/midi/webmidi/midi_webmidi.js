// The page side of the Web MIDI back-end (platform/midi/webmidi/midi_webmidi.cpp). Runs on the page's
// main thread: lists the ports of Module.vexaMidiAccess for the program, sends the messages that the
// program's threads leave in the send ring, and hands received messages and state changes to the program
// through the functions it exports.
Module['vexaWebMidi'] = {
  ports: [],  // every port seen, in order; the index is the program's name for it
  ring: 0,    // address of the send ring: written, taken, page_waits (32-bit words), then the bytes
  RING_SIZE: 1 << 15,
  ENTRY_HEADER: 8,
  ENTRY_ALIGN: 8,
  WRAP: -1,

  attach() {
    this.ring = _webmidi_ring();
    if (typeof Atomics.waitAsync === 'function') {
      Atomics.store(HEAP32, (this.ring >> 2) + 2, 1);
      this.wait();
    }
    const access = Module['vexaMidiAccess'];
    if (!access) return;
    const known = (port) => this.ports.indexOf(port);
    const announce = (port) => {
      let index = known(port);
      if (index < 0) {
        index = this.ports.length;
        this.ports.push(port);
        port.addEventListener('midimessage', (event) => this.received(index, event.data));
        // Only the onmidimessage setter opens an input by itself; a listener needs the port opened.
        if (port.type === 'input') port.open().catch(() => {});
        Module['ccall']('webmidi_port_added', null, ['number', 'number', 'string'],
                        [port.type === 'output' ? 1 : 0, index, port.name || '']);
      }
      _webmidi_port_state(index, port.state === 'connected' ? 1 : 0);
    };
    access.outputs.forEach(announce);
    access.inputs.forEach(announce);
    access.addEventListener('statechange', (event) => { if (event.port) announce(event.port); });
  },

  received(index, data) {
    const buffer = _webmidi_buffer(data.length);
    HEAPU8.set(data, buffer);
    _webmidi_received(index, data.length);
  },

  // Drains the ring whenever `written` moves: a notify from a sending thread resolves the wait.
  wait() {
    const written = this.ring >> 2;  // index of the word
    for (;;) {
      const seen = Atomics.load(HEAP32, written);
      this.drain();
      const wait = Atomics.waitAsync(HEAP32, written, seen);
      if (wait.async) return wait.value.then(() => this.wait());
    }
  },

  // Sends every message in the ring, oldest first (entries as midi_webmidi.cpp lays them out), then wakes
  // the senders waiting for their message to be taken or for room.
  drain() {
    const words = this.ring >> 2;
    const bytes = this.ring + 12;
    const mask = this.RING_SIZE - 1;
    let taken = Atomics.load(HEAP32, words + 1);
    const start = taken;
    for (let written = Atomics.load(HEAP32, words); taken !== written; written = Atomics.load(HEAP32, words)) {
      while (taken !== written) {
        const device = HEAP32[(bytes + (taken & mask)) >> 2];
        if (device === this.WRAP) {
          taken = (taken + this.RING_SIZE - (taken & mask)) | 0;
          continue;
        }
        const length = HEAP32[(bytes + ((taken + 4) & mask)) >> 2];
        const from = bytes + ((taken + this.ENTRY_HEADER) & mask);
        taken = (taken + ((this.ENTRY_HEADER + length + this.ENTRY_ALIGN - 1) & -this.ENTRY_ALIGN)) | 0;
        this.send(device, HEAPU8.slice(from, from + length));
      }
    }
    if (taken === start) return;
    Atomics.store(HEAP32, words + 1, taken);
    Atomics.notify(HEAP32, words + 1);
  },

  send(index, message) {
    try {
      this.ports[index].send(message);
    } catch (error) {
      // A port that went away refuses: the program learns of it from the state change.
    }
  },
};
