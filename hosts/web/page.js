// The page of the vexa utility once start.js has started the program: draws its dialog from the state that
// the program's host posts (hosts/web/web_host.cpp). Every click and key goes to the program as a person's
// input; what the page shows comes only from that state.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);

  // Dialog units to pixels: the dialog font's base units (6 x 13 pixels at 8 points), enlarged.
  const ZOOM = 1.25;
  const unit_x = (du) => (du * 6 * ZOOM) / 4;
  const unit_y = (du) => (du * 13 * ZOOM) / 8;

  const VK = {
    Backspace: 0x08, Tab: 0x09, Enter: 0x0d, Escape: 0x1b, ' ': 0x20, PageUp: 0x21, PageDown: 0x22,
    End: 0x23, Home: 0x24, ArrowLeft: 0x25, ArrowUp: 0x26, ArrowRight: 0x27, ArrowDown: 0x28,
    Delete: 0x2e, F4: 0x73,
  };
  const ICON_ID = 120;  // IDI_APP of the resource script

  let state = null;      // the last state posted by the program
  let elements = [];     // per template index: {root, focus (the element that takes focus), kind (of KINDS)}
  let shown_box = null;  // serial of the message box on screen
  let running = false;

  const call = (name, ...args) => (running ? Module['_' + name](...args) : -1);
  const settings_bar = window.vexa_settings_bar(call, () => running);

  // ---- Resources as files ----

  function resource_url(pointer) {
    if (!pointer) return '';
    const size = Module['_web_file_size']();
    const bytes = HEAPU8.slice(pointer, pointer + size);
    return URL.createObjectURL(new Blob([bytes]));
  }

  // ---- Drawing ----

  // "&Update" -> text "Update", the letter u, and a fragment with the letter underlined.
  function mnemonic(text) {
    const fragment = document.createDocumentFragment();
    let letter = '';
    let plain = '';
    for (let i = 0; i < text.length; ++i) {
      if (text[i] === '&' && i + 1 < text.length) {
        ++i;
        if (text[i] !== '&' && !letter) {
          letter = text[i].toLowerCase();
          fragment.append(plain);
          const u = document.createElement('u');
          u.textContent = text[i];
          fragment.append(u);
          plain = '';
          continue;
        }
      }
      plain += text[i];
    }
    fragment.append(plain);
    return {text: text.replace(/&(.)/g, '$1'), letter, fragment};
  }

  const is_default = (c) => (c.style & 0x0f) === 1;  // BS_DEFPUSHBUTTON

  // The group box whose frame holds the control, for the names of controls without a caption.
  function group_of(controls, c) {
    return controls.find((g) => g.kind === 'group_box' && c.x >= g.x && c.y >= g.y &&
                          c.x + c.cx <= g.x + g.cx && c.y + c.cy <= g.y + g.cy);
  }

  // Each kind of control (the program's host names it) is built once and updated with every state.

  function build_group_box() {
    const root = document.createElement('fieldset');
    root.append(document.createElement('legend'));
    return {root};
  }

  function update_group_box({root}, c) {
    root.firstChild.textContent = mnemonic(c.text).text;
  }

  function build_check_box(c, index) {
    const root = document.createElement('div');
    const focus = document.createElement('input');
    focus.type = 'checkbox';
    focus.id = 'control-' + index;
    const label = document.createElement('label');
    label.htmlFor = focus.id;
    root.append(focus, label);
    root.addEventListener('click', (event) => {
      event.preventDefault();
      call('web_click', c.id);
    });
    return {root, focus};
  }

  function update_check_box({root, focus}, c) {
    focus.checked = c.check === 1;
    focus.indeterminate = c.check === 2;
    root.querySelector('label').replaceChildren(mnemonic(c.text).fragment);
  }

  function build_push_button(c, index, controls) {
    const root = document.createElement('button');
    root.type = 'button';
    root.addEventListener('click', () => call('web_click', c.id));
    if (c.text === '?') {
      // A help button: named after the control at its left on the same row.
      const left = controls.filter((o) => o !== c && o.text && Math.abs(o.y - c.y) <= 2 && o.x < c.x);
      if (left.length) root.setAttribute('aria-label', 'Help: ' + left[left.length - 1].text.replace(/&/g, ''));
    }
    return {root, focus: root};
  }

  function update_push_button({root}, c) {
    root.replaceChildren(mnemonic(c.text).fragment);
    root.classList.toggle('default', is_default(c));
  }

  function build_picture(c) {
    const root = document.createElement('img');
    root.alt = '';
    root.src = resource_url(call('web_bitmap_file', c.bitmap));
    return {root};
  }

  function build_text(c) {
    const root = document.createElement('div');
    if (c.id !== -1) {
      root.setAttribute('role', 'status');
      root.setAttribute('aria-live', 'polite');
    }
    return {root};
  }

  function update_text({root}, c) {
    if (root.textContent !== c.text) root.textContent = c.text;
    root.style.textAlign = ['left', 'center', 'right'][c.style & 3] || 'left';
  }

  function build_edit(c) {
    const root = document.createElement('input');
    root.type = 'text';
    root.spellcheck = false;
    root.autocomplete = 'off';
    root.addEventListener('mousedown', (event) => {
      event.preventDefault();
      call('web_click', c.id);
    });
    root.addEventListener('beforeinput', (event) => event.preventDefault());
    root.addEventListener('paste', (event) => event.preventDefault());
    return {root, focus: root};
  }

  // The range and position of a spin button, slider or progress bar, for assistive technology.
  function set_value(root, c) {
    root.setAttribute('aria-valuemin', c.min);
    root.setAttribute('aria-valuemax', c.max);
    root.setAttribute('aria-valuenow', c.pos);
  }

  function update_edit({root}, c, controls) {
    if (root.value !== c.text) root.value = c.text;
    const spin = controls.find((o) => o.kind === 'up_down' && o.y === c.y);
    const group = group_of(controls, c);
    if (group) root.setAttribute('aria-label', group.text.replace(/&/g, ''));
    if (spin) {
      root.setAttribute('role', 'spinbutton');
      set_value(root, spin);
    }
    root.style.textAlign = c.style & 1 ? 'center' : 'left';
  }

  function build_up_down(c) {
    const root = document.createElement('div');
    for (const up of [true, false]) {
      const arrow = document.createElement('button');
      arrow.type = 'button';
      arrow.tabIndex = -1;
      arrow.textContent = up ? '▲' : '▼';
      arrow.setAttribute('aria-label', up ? 'Increase' : 'Decrease');
      arrow.addEventListener('pointerdown', (event) => {
        event.preventDefault();
        arrow.setPointerCapture(event.pointerId);
        call('web_updown_press', c.id, up ? 1 : 0);
      });
      const release = () => call('web_updown_release', c.id);
      arrow.addEventListener('pointerup', release);
      arrow.addEventListener('pointercancel', release);
      root.append(arrow);
    }
    return {root};
  }

  function build_combo_box(c, index) {
    const root = document.createElement('div');
    const focus = document.createElement('div');
    focus.setAttribute('role', 'combobox');
    focus.setAttribute('aria-haspopup', 'listbox');
    focus.setAttribute('aria-controls', 'list-' + index);
    focus.setAttribute('aria-label', 'MIDI port');
    focus.className = 'field';
    const arrow = document.createElement('span');
    arrow.className = 'arrow';
    arrow.setAttribute('aria-hidden', 'true');
    arrow.textContent = '▼';
    const list = document.createElement('ul');
    list.id = 'list-' + index;
    list.setAttribute('role', 'listbox');
    list.setAttribute('aria-label', 'MIDI ports');
    root.append(focus, arrow, list);
    const open_or_close = (event) => {
      event.preventDefault();
      const current = state.dialog.controls[index];
      call(current.dropped ? 'web_combo_cancel' : 'web_combo_open', c.id);
    };
    focus.addEventListener('mousedown', open_or_close);
    arrow.addEventListener('mousedown', open_or_close);
    list.addEventListener('mousedown', (event) => {
      event.preventDefault();
      const option = event.target.closest('[role=option]');
      if (option) call('web_combo_choose', c.id, Number(option.dataset.index));
    });
    return {root, focus};
  }

  function options_of(c) {
    return c.items.map((item, i) => {
      const li = document.createElement('li');
      li.setAttribute('role', 'option');
      li.id = 'option-' + i;
      li.dataset.index = i;
      li.textContent = item;
      li.setAttribute('aria-selected', String(i === c.sel));
      return li;
    });
  }

  function update_combo_box({root, focus}, c) {
    focus.textContent = c.text;
    focus.setAttribute('aria-expanded', String(Boolean(c.dropped)));
    const list = root.querySelector('ul');
    list.hidden = !c.dropped;
    list.style.maxHeight = unit_y(c.cy - 12) + 'px';
    const listed = JSON.stringify([c.items, c.sel]);
    if (list.dataset.listed !== listed) {
      list.dataset.listed = listed;
      list.replaceChildren(...options_of(c));
    }
    if (c.dropped && c.sel >= 0) focus.setAttribute('aria-activedescendant', 'option-' + c.sel);
    else focus.removeAttribute('aria-activedescendant');
  }

  function build_trackbar(c, index) {
    const root = document.createElement('div');
    root.setAttribute('role', 'slider');
    root.setAttribute('aria-orientation', 'horizontal');
    const track = document.createElement('div');
    track.className = 'track';
    const thumb = document.createElement('div');
    thumb.className = 'thumb';
    root.append(track, thumb);
    const drag = (event) => {
      const current = state.dialog.controls[index];
      const box = track.getBoundingClientRect();
      const share = Math.min(1, Math.max(0, (event.clientX - box.left) / box.width));
      call('web_slider_drag', c.id, Math.round(current.min + share * (current.max - current.min)));
    };
    root.addEventListener('pointerdown', (event) => {
      event.preventDefault();
      root.setPointerCapture(event.pointerId);
      drag(event);
    });
    root.addEventListener('pointermove', (event) => {
      if (root.hasPointerCapture(event.pointerId)) drag(event);
    });
    return {root, focus: root};
  }

  function update_trackbar({root}, c, controls) {
    const group = group_of(controls, c);
    if (group) root.setAttribute('aria-label', group.text.replace(/&/g, ''));
    set_value(root, c);
    const share = c.max > c.min ? (c.pos - c.min) / (c.max - c.min) : 0;
    root.querySelector('.thumb').style.left = 'calc(' + share * 100 + '% - ' + share * 10 + 'px)';
  }

  function build_progress_bar() {
    const root = document.createElement('div');
    root.setAttribute('role', 'progressbar');
    root.setAttribute('aria-label', 'Progress');
    root.append(document.createElement('div'));
    return {root};
  }

  function update_progress_bar({root}, c) {
    set_value(root, c);
    const share = c.max > c.min ? (c.pos - c.min) / (c.max - c.min) : 0;
    root.firstChild.style.width = share * 100 + '%';
  }

  // Per kind: its builder, its update, whether an underlined letter of its caption presses it.
  const KINDS = {
    push_button: {build: build_push_button, update: update_push_button, hot_key: true},
    check_box: {build: build_check_box, update: update_check_box, hot_key: true},
    group_box: {build: build_group_box, update: update_group_box},
    text: {build: build_text, update: update_text},
    picture: {build: build_picture},
    edit: {build: build_edit, update: update_edit},
    combo_box: {build: build_combo_box, update: update_combo_box},
    progress_bar: {build: build_progress_bar, update: update_progress_bar},
    trackbar: {build: build_trackbar, update: update_trackbar},
    up_down: {build: build_up_down},
  };
  const NO_KIND = {build: () => ({root: document.createElement('div')})};
  const kind_of = (c) => KINDS[c.kind] || NO_KIND;

  function make_element(c, index, controls) {
    const {root, focus} = kind_of(c).build(c, index, controls);
    root.classList.add('control', 'class-' + c.cls.toLowerCase().replace(/[^a-z0-9]/g, '-'));
    return {root, focus: focus || null, kind: kind_of(c)};
  }

  function place(element, c) {
    const s = element.root.style;
    s.left = unit_x(c.x) + 'px';
    s.top = unit_y(c.y) + 'px';
    if (c.bitmap && c.bw) {
      s.width = c.bw * ZOOM + 'px';
      s.height = c.bh * ZOOM + 'px';
    } else if (c.kind === 'combo_box') {
      s.width = unit_x(c.cx) + 'px';
      s.height = unit_y(12) + 'px';
    } else {
      s.width = unit_x(c.cx) + 'px';
      s.height = unit_y(c.cy) + 'px';
    }
  }

  function update(element, c, controls) {
    const {root, focus, kind} = element;
    root.hidden = !c.visible;
    place(element, c);
    const disabled = !c.enabled;
    root.classList.toggle('disabled', disabled);
    if (focus && 'disabled' in focus) focus.disabled = disabled;
    if (focus) focus.setAttribute('aria-disabled', String(disabled));
    if (kind.update) kind.update(element, c, controls);
    if (focus && 'tabIndex' in focus) focus.tabIndex = c.focused ? 0 : -1;
  }

  function draw_dialog(d) {
    const client = $('client');
    if (elements.length !== d.controls.length) {
      elements = d.controls.map((c, i) => make_element(c, i, d.controls));
      client.replaceChildren(...elements.map((e) => e.root));
      $('caption').textContent = d.title;
      document.title = d.title.trim();
      const icon = resource_url(call('web_icon_file', ICON_ID));
      if (icon) {
        $('favicon').href = icon;
        $('title-icon').src = icon;
      }
    }
    client.style.width = unit_x(d.cx) + 'px';
    client.style.height = unit_y(d.cy) + 'px';
    d.controls.forEach((c, i) => update(elements[i], c, d.controls));
    $('window').hidden = !d.visible;
    $('window').setAttribute('aria-disabled', String(Boolean(d.blocked)));
    if (d.visible && !$('loading').hidden) {
      $('loading').hidden = true;
      performance.mark('vexa-dialog-drawn');
    }
  }

  function draw_box(boxes) {
    const box = boxes.length ? boxes[boxes.length - 1] : null;
    $('box-layer').hidden = !box;
    if (!box) {
      shown_box = null;
      return;
    }
    $('box-title').textContent = box.title;
    $('box-text').textContent = box.text;
    if (shown_box !== box.serial) {
      shown_box = box.serial;
      $('box-ok').focus();
    }
  }

  function focus_control(d) {
    if (shown_box !== null) return;
    const index = d.controls.findIndex((c) => c.focused);
    const element = index >= 0 ? elements[index] : null;
    if (element && element.focus && document.activeElement !== element.focus) element.focus.focus();
  }

  function draw(next) {
    state = next;
    if (next.dialog) {
      draw_dialog(next.dialog);
      draw_box(next.boxes);
      focus_control(next.dialog);
    } else {
      draw_box(next.boxes);
    }
    if (next.sim) {
      $('sim-bar').hidden = false;
      $('sim-boot').setAttribute('aria-pressed', String(Boolean(next.sim.boot)));
    }
    if (next.dialog) settings_bar.draw();
    document.dispatchEvent(new CustomEvent('vexa-state', {detail: next}));
  }

  // ---- Input ----

  function dropped_combo(d) { return d.controls.find((c) => c.kind === 'combo_box' && c.dropped); }

  function on_key(event) {
    if (!state || !state.dialog || !running) return;
    const d = state.dialog;
    const key = event.key;
    let handled = true;
    if (shown_box !== null) {
      if (key === 'Enter' || key === ' ' || key === 'Escape') call('web_dismiss_box', shown_box);
      else handled = key !== 'Tab';
    } else if (key === 'F9' && Module['vexaMode'] === 'sim') {
      call('web_sim_toggle_boot');
    } else if (dropped_combo(d)) {
      const combo = dropped_combo(d);
      let vk = VK[key];
      if (key === 'F4' || (event.altKey && (key === 'ArrowDown' || key === 'ArrowUp'))) vk = VK.F4;
      if ([VK.ArrowUp, VK.ArrowDown, VK.Enter, VK.Escape, VK.F4].includes(vk)) call('web_key_to', combo.id, vk, 0);
      else handled = false;
    } else {
      const focus = d.controls.find((c) => c.focused);
      const combo = d.controls.find((c) => c.kind === 'combo_box');
      const on_combo = focus && focus.kind === 'combo_box';
      if (combo && (key === 'F4' || (event.altKey && key === 'ArrowDown') || (key === 'Enter' && on_combo))) {
        call('web_key_to', combo.id, VK.F4, 0);
      } else if (key === 'Tab') {
        call('web_key', VK.Tab, event.shiftKey ? 1 : 0);
      } else if (/^[0-9]$/.test(key) && !event.altKey && !event.ctrlKey) {
        // Digits are no hot keys: they go to whichever control has the focus in the program, which may have
        // changed since the state that this page drew last.
        call('web_type_char', key.charCodeAt(0));
      } else if (/^[a-z]$/i.test(key) && !event.ctrlKey && !event.metaKey) {
        handled = hot_key(d, key.toLowerCase());
      } else if (VK[key] !== undefined) {
        // A control that got the focus outside the dialog's own keyboard handling (a screen reader, a
        // script) takes the key as if it had been clicked first.
        const index = elements.findIndex((e) => e.focus && e.focus === document.activeElement);
        const target = index >= 0 ? d.controls[index] : null;
        if (target && !target.focused && target.enabled) call('web_key_to', target.id, VK[key], event.shiftKey ? 1 : 0);
        else call('web_key', VK[key], event.shiftKey ? 1 : 0);
      } else {
        handled = false;
      }
    }
    if (handled) event.preventDefault();
  }

  // An underlined letter presses its button or ticks its box, as the dialog manager does.
  function hot_key(d, letter) {
    const target = d.controls.find((c) => mnemonic(c.text).letter === letter && c.enabled && c.visible);
    if (!target || !kind_of(target).hot_key) return false;
    call('web_click', target.id);
    return true;
  }

  // ---- Connection to the program ----

  window.Module = {
    arguments: [],
    locateFile: (name) => vexaSite.file(name),
    print: (text) => console.log(text),
    printErr: (text) => console.warn(text),
    vexaPage: {
      state(pointer) {
        running = true;
        const json = UTF8ToString(pointer);
        Module['_free'](pointer);
        draw(JSON.parse(json));
      },
      // The time code reader's line below the dialog, posted on its own as it changes.
      timecode(pointer) {
        const line = UTF8ToString(pointer);
        Module['_free'](pointer);
        $('timecode').textContent = line;
        $('timecode').hidden = false;
      },
      ended(result) {
        running = false;
        $('window').hidden = true;
        $('box-layer').hidden = true;
        $('sim-bar').hidden = true;
        $('timecode').hidden = true;
        settings_bar.hide();
        $('ended').hidden = false;
        document.title = 'vexa utility (ended with ' + result + ')';
        document.dispatchEvent(new CustomEvent('vexa-state', {detail: null}));
      },
      settings_loaded(pointer) {
        const problem = UTF8ToString(pointer);
        Module['_free'](pointer);
        if (running) settings_bar.loaded(problem);
      },
    },
  };

  document.addEventListener('keydown', on_key);
  document.addEventListener('mousedown', (event) => {
    // A click beside the open list closes it without a choice.
    if (!state || !state.dialog) return;
    const combo = dropped_combo(state.dialog);
    const index = combo ? state.dialog.controls.indexOf(combo) : -1;
    if (combo && !elements[index].root.contains(event.target)) call('web_combo_cancel', combo.id);
  });
  $('close').addEventListener('click', () => call('web_close'));
  $('box-ok').addEventListener('click', () => shown_box !== null && call('web_dismiss_box', shown_box));
  $('sim-boot').addEventListener('click', () => call('web_sim_toggle_boot'));
})();
