// Guards a firmware update on the page. While the program updates the unit (its status line reads one of
// the update's steps) the page holds a screen wake lock where the browser has one, asks before it is left or
// reloaded, and notes whether it was hidden: a hidden page's timers slow down and a browser may freeze or
// discard it, so once it is shown again it says so, with the update's result. A page that was reloaded or
// discarded during an update says so when it starts again. page.js posts each state it draws as the event
// "vexa-state" (null when the program has ended).
'use strict';

(() => {
  // Kept in the tab's session while an update runs: still there when the page starts, it was interrupted.
  // Where site storage is blocked (with cookies) reading it throws: then only that notice is lost.
  const WRITING = 'vexa-writing';
  const note = document.getElementById('update-note');

  let steps = null;       // the status line's texts while an update runs, as the program has them
  let status_index = -1;  // the control that shows the update's steps while one runs
  let result = '';
  let hidden_meanwhile = false;
  let lock = null;  // the screen wake lock held, or the request for it while the browser decides
  let told = false;  // the notice of an interrupted update is on screen in a page that runs the program

  const writing = () => status_index >= 0;
  const update_steps = () => (steps ??= UTF8ToString(Module._web_update_steps()).split('\n'));

  function remember(interrupted) {
    try {
      if (interrupted) sessionStorage.setItem(WRITING, '1');
      else sessionStorage.removeItem(WRITING);
    } catch (error) {
      // blocked or full: the update goes on without the notice after a reload
    }
  }

  function remembered() {
    try {
      return sessionStorage.getItem(WRITING) !== null;
    } catch (error) {
      return false;
    }
  }

  function say(text) {
    note.textContent = text;
    note.hidden = false;
  }

  // One request at a time: a page that flips visibility quickly would otherwise hold two locks, one of them
  // never released. A lock that comes when it is no longer wanted is let go at once.
  function take_lock() {
    if (!navigator.wakeLock || document.hidden || lock) return;
    const asked = navigator.wakeLock.request('screen').then((held) => {
      const wanted = lock === asked && writing() && !document.hidden;
      if (lock === asked) lock = wanted ? held : null;
      if (!wanted) return held.release().catch(() => {});
      held.addEventListener('release', () => {
        if (lock === held) lock = null;
      });
    }, () => {
      if (lock === asked) lock = null;  // refused (a power saver, a policy): the update goes on without it
    });
    lock = asked;
  }

  function release_lock() {
    if (lock && lock.release) lock.release().catch(() => {});
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
    addEventListener('beforeunload', ask_before_leaving);
    take_lock();
    remember(true);
  }

  function ended() {
    status_index = -1;
    remember(false);
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
    // The program runs: the page reloads no more (site.js), so the notice stays on screen.
    if (told) remember(false);
    told = false;
    if (writing()) {
      const status = controls[status_index];
      if (status && update_steps().includes(status.text)) return;
      result = status ? status.text.trim() : '';
      return ended();
    }
    const index = controls.findIndex((c) => c.kind === 'text' && update_steps().includes(c.text));
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

  if (remembered()) {
    told = true;
    say('This page was reloaded while the firmware was being written, so the update did not finish. If ' +
        'the vexa comes up in update mode, choose it in the port list and press Update firmware again.');
  }
  document.addEventListener('vexa-state', on_state);
  document.addEventListener('visibilitychange', on_visibility);
})();
