// Guards a firmware update on the page. While the program updates the unit (its status line reads one of
// the update's steps) the page holds a screen wake lock where the browser has one, asks before it is left or
// reloaded, and notes whether it was hidden: a hidden page's timers slow down and a browser may freeze or
// discard it, so once it is shown again it says so, with the update's result. A page that was reloaded or
// discarded during an update says so when it starts again. page.js posts each state it draws as the event
// "vexa-state" (null when the program has ended).
'use strict';

(() => {
  // The status line's texts from the update button to the result (firmware/status.cpp).
  const UPDATE_STEPS = ['Preparing', 'Erasing', 'Writing'];
  // Kept in the tab's session while an update runs: still there when the page starts, it was interrupted.
  const WRITING = 'vexa-writing';
  const note = document.getElementById('update-note');

  let status_index = -1;  // the control that shows the update's steps while one runs
  let result = '';
  let hidden_meanwhile = false;
  let lock = null;

  const writing = () => status_index >= 0;

  function say(text) {
    note.textContent = text;
    note.hidden = false;
  }

  async function take_lock() {
    if (!navigator.wakeLock || document.hidden || lock) return;
    try {
      lock = await navigator.wakeLock.request('screen');
    } catch (error) {
      return;  // refused (a power saver, a policy): the update goes on without it
    }
    lock.addEventListener('release', () => { lock = null; });
    if (!writing()) release_lock();
  }

  function release_lock() {
    if (lock) lock.release().catch(() => {});
    lock = null;
  }

  function ask_before_leaving(event) {
    event.preventDefault();
    event.returnValue = '';
  }

  function started(index) {
    status_index = index;
    hidden_meanwhile = document.hidden;
    note.hidden = true;
    sessionStorage.setItem(WRITING, '1');
    addEventListener('beforeunload', ask_before_leaving);
    take_lock();
  }

  function ended() {
    status_index = -1;
    sessionStorage.removeItem(WRITING);
    removeEventListener('beforeunload', ask_before_leaving);
    release_lock();
    if (hidden_meanwhile && !document.hidden) tell_hidden();
  }

  // Once the page is shown again; told again with the result when the update ends.
  function tell_hidden() {
    if (!writing()) hidden_meanwhile = false;
    say('This page was in the background while the firmware was being written. ' +
        (writing() ? 'The update goes on.' : result ? 'The update ended: ' + result + '.' : 'The update ended.'));
  }

  function on_state(event) {
    const state = event.detail;
    const controls = state && state.dialog ? state.dialog.controls : [];
    if (writing()) {
      const status = controls[status_index];
      if (status && UPDATE_STEPS.includes(status.text)) return;
      result = status ? status.text.trim() : '';
      return ended();
    }
    const index = controls.findIndex((c) => c.kind === 'text' && UPDATE_STEPS.includes(c.text));
    if (index >= 0) started(index);
  }

  function on_visibility() {
    if (!writing() && !hidden_meanwhile) return;
    if (document.hidden) {
      hidden_meanwhile = true;
      return;
    }
    if (writing()) take_lock();
    tell_hidden();
  }

  if (sessionStorage.getItem(WRITING)) {
    sessionStorage.removeItem(WRITING);
    say('This page was reloaded while the firmware was being written, so the update did not finish. If ' +
        'the vexa comes up in update mode, choose it in the port list and press Update firmware again.');
  }
  document.addEventListener('vexa-state', on_state);
  document.addEventListener('visibilitychange', on_visibility);
})();
