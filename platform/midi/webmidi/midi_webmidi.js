// The page side of the Web MIDI back-end (platform/midi/webmidi/midi_webmidi.cpp). Runs on the page's
// main thread: lists the ports of Module.vexaMidiAccess for the program, sends its messages, and hands
// received messages and state changes to it through the functions it exports.
Module['vexaWebMidi'] = {
  ports: [],  // every port seen, in order; the index is the program's name for it

  attach() {
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

  send(index, bytes, length) {
    const port = this.ports[index];
    const message = HEAPU8.slice(bytes, bytes + length);
    _free(bytes);
    try {
      port.send(message);
    } catch (error) {
      // A port that went away refuses: the program learns of it from the state change.
    }
  },
};
