// "Save settings…" and "Load settings…" below the dialog. The file's format, its checks, the inputs that
// apply it and the read-back after them are the program's C++ (web_settings.cpp), the same that `vexa
// backup` and `vexa restore` use; this only moves the file between the program and the person and says
// what the unit did not confirm. Both buttons work while a running unit is connected and no message box is
// open. page.js makes one with its way of calling the program and of telling whether it runs.
'use strict';

window.vexa_settings_bar = (call, running) => {
  const $ = (id) => document.getElementById(id);
  let loading = '';  // the name of the file being applied

  function draw() {
    $('settings-bar').hidden = false;
    const ready = call('web_settings_ready') === 1;
    $('settings-save').disabled = !ready;
    $('settings-load').disabled = !ready;
  }

  function save() {
    const text = running() ? UTF8ToString(call('web_settings_save')) : '';
    if (!text) return;
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([text], {type: 'application/json'}));
    link.download = 'vexa-settings.json';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 0);
  }

  function show_refusal(text, title = 'Settings file refused') {
    $('refusal-title').textContent = title;
    $('refusal-text').textContent = text;
    $('refusal-layer').hidden = false;
    $('refusal-ok').focus();
  }

  function close_refusal() {
    $('refusal-layer').hidden = true;
    $('settings-load').focus();
  }

  // At most a mebibyte of the file goes to the program, which refuses anything larger than a settings file.
  async function load(file) {
    const bytes = new Uint8Array(await file.slice(0, 1 << 20).arrayBuffer());
    if (!running()) return;
    const pointer = call('malloc', bytes.length + 1);
    if (pointer <= 0) return show_refusal(file.name + ': the program has no memory left for it. Nothing was changed.');
    HEAPU8.set(bytes, pointer);
    const problem = UTF8ToString(call('web_settings_load', pointer, bytes.length));
    call('free', pointer);
    if (problem) show_refusal(file.name + ': ' + problem + '. Nothing was changed.');
    else loading = file.name;
    draw();
  }

  // The file has been applied and read back: what the unit did not confirm, or nothing.
  function loaded(problem) {
    if (problem) show_refusal(loading + ': ' + problem + '.', 'Settings not confirmed');
    draw();
  }

  // While the refusal is shown, keys are its own and reach neither the dialog nor the program.
  function refusal_keys(event) {
    if ($('refusal-layer').hidden) return;
    event.stopImmediatePropagation();
    if (['Enter', 'Escape', ' '].includes(event.key)) {
      event.preventDefault();
      close_refusal();
    } else if (event.key === 'Tab') {
      event.preventDefault();
    }
  }

  $('settings-save').addEventListener('click', save);
  $('settings-load').addEventListener('click', () => $('settings-file').click());
  $('settings-file').addEventListener('change', (event) => {
    const file = event.target.files[0];
    event.target.value = '';
    if (file) load(file);
  });
  $('refusal-ok').addEventListener('click', close_refusal);
  document.addEventListener('keydown', refusal_keys, true);
  return {draw, loaded, hide: () => { $('settings-bar').hidden = true; }};
};
