// USER32 for the Linux layer: the host API (user32_ext.h). Person input is queued to the dialog's thread;
// reading copies the state under the lock.
#include <algorithm>
#include <chrono>

#include "platform/win32/user32_internal.h"

namespace {

User32Kind kind_of(const Window* c) {
  switch (c->kind) {
    case WindowKind::button:
      switch (c->style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
          return User32Kind::check_box;
        case BS_GROUPBOX:
          return User32Kind::group_box;
        default:
          return User32Kind::push_button;
      }
    case WindowKind::static_text:
      return (c->style & SS_TYPEMASK) == SS_BITMAP ? User32Kind::picture : User32Kind::text;
    case WindowKind::edit:
      return User32Kind::edit;
    case WindowKind::combo:
      return User32Kind::combo_box;
    case WindowKind::progress:
      return User32Kind::progress_bar;
    case WindowKind::trackbar:
      return User32Kind::trackbar;
    case WindowKind::updown:
      return User32Kind::up_down;
    case WindowKind::dialog:  // no control: only a dialog's children are copied
      break;
  }
  return User32Kind::text;
}

User32Control copy_control_locked(const Window* c, HWND focus) {
  User32Control out{};
  out.hwnd = c->hwnd;
  out.class_name = class_name(c->kind);
  out.kind = kind_of(c);
  out.id = c->id;
  out.x = c->x;
  out.y = c->y;
  out.cx = c->cx;
  out.cy = c->cy;
  out.style = c->style;
  out.text = c->text;
  out.enabled = !(c->style & WS_DISABLED);
  out.visible = shown_locked(c);
  out.focused = focus == c->hwnd;
  out.check = c->check;
  out.position = c->position;
  out.minimum = c->minimum;
  out.maximum = c->maximum;
  out.items = c->items;
  out.selection = c->selection;
  out.dropped = c->dropped;
  out.bitmap_id = c->bitmap_id;
  out.bitmap_width = c->bitmap_width;
  out.bitmap_height = c->bitmap_height;
  return out;
}

// Queues person input for the current dialog; `control_id` names the target, or none for the focus.
int queue_input(std::vector<Input> inputs, const int* control_id,
                const std::function<int(const Window*)>& check) {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  Window* d = current_dialog_locked();
  if (!d) return USER32_NO_DIALOG;
  if (input_blocked_locked(d)) return USER32_REFUSED;
  HWND control = nullptr;
  if (control_id) {
    Window* c = child_locked(d, *control_id);
    if (!c) return USER32_NO_CONTROL;
    if ((c->style & WS_DISABLED) || !(c->style & WS_VISIBLE)) return USER32_REFUSED;
    if (check) {
      int verdict = check(c);
      if (verdict != USER32_OK) return verdict;
    }
    control = c->hwnd;
  }
  ThreadQueue* q = find_queue_locked(d->thread);
  if (!q) return USER32_NO_DIALOG;
  for (Input& in : inputs) {
    in.dialog = d->hwnd;
    in.control = control;
    q->input.push_back(std::move(in));
  }
  q->wake.notify_all();
  return USER32_OK;
}

Input make_input(InputKind kind, int vk = 0, bool shift = false, int value = 0, std::string text = {}) {
  Input in;
  in.kind = kind;
  in.vk = vk;
  in.shift = shift;
  in.value = value;
  in.text = std::move(text);
  return in;
}

std::function<int(const Window*)> kind_is(WindowKind kind) {
  return [kind](const Window* c) { return c->kind == kind ? USER32_OK : USER32_NO_CONTROL; };
}

}  // namespace

const char* user32_kind_name(User32Kind kind) {
  static const char* const names[] = {"push_button", "check_box", "group_box",    "text",     "picture",
                                      "edit",        "combo_box", "progress_bar", "trackbar", "up_down"};
  static_assert(std::size(names) == size_t(User32Kind::up_down) + 1);
  return names[size_t(kind)];
}

int user32_click(int id) { return queue_input({make_input(InputKind::click)}, &id, nullptr); }

int user32_key(int vk, bool shift) {
  return queue_input({make_input(InputKind::key_down, vk, shift), make_input(InputKind::key_up, vk, shift)},
                     nullptr, nullptr);
}

int user32_key_to(int id, int vk, bool shift) {
  return queue_input({make_input(InputKind::key_down, vk, shift), make_input(InputKind::key_up, vk, shift)},
                     &id, nullptr);
}

int user32_type(const char* text) {
  std::vector<Input> inputs;
  for (const char* p = text; p && *p; ++p) {
    int vk = *p == '\t'                 ? VK_TAB
             : *p == '\n' || *p == '\r' ? VK_RETURN
             : *p == '\b'               ? VK_BACK
             : *p == 27                 ? VK_ESCAPE
                                        : 0;
    if (vk) {
      inputs.push_back(make_input(InputKind::key_down, vk));
      inputs.push_back(make_input(InputKind::key_up, vk));
    } else {
      inputs.push_back(make_input(InputKind::character, 0, false, static_cast<unsigned char>(*p)));
    }
  }
  return queue_input(std::move(inputs), nullptr, nullptr);
}

int user32_paste(int id, const char* text) {
  return queue_input({make_input(InputKind::paste, 0, false, 0, text ? text : "")}, &id, [](const Window* c) {
    return c->kind == WindowKind::edit || c->kind == WindowKind::combo ? USER32_OK : USER32_NO_CONTROL;
  });
}

int user32_combo_open(int id) {
  return queue_input({make_input(InputKind::combo_open)}, &id, kind_is(WindowKind::combo));
}

int user32_combo_choose(int id, int index) {
  return queue_input({make_input(InputKind::combo_choose, 0, false, index)}, &id, [index](const Window* c) {
    if (c->kind != WindowKind::combo) return USER32_NO_CONTROL;
    return c->dropped && index >= 0 && index < int(c->items.size()) ? USER32_OK : USER32_REFUSED;
  });
}

int user32_combo_cancel(int id) {
  return queue_input({make_input(InputKind::combo_cancel)}, &id, [](const Window* c) {
    if (c->kind != WindowKind::combo) return USER32_NO_CONTROL;
    return c->dropped ? USER32_OK : USER32_REFUSED;
  });
}

int user32_slider_drag(int id, int position) {
  return queue_input({make_input(InputKind::drag_press), make_input(InputKind::drag_move, 0, false, position),
                      make_input(InputKind::drag_release)},
                     &id, kind_is(WindowKind::trackbar));
}

int user32_updown_press(int id, bool up) {
  return queue_input({make_input(InputKind::updown_press, 0, false, up ? 1 : 0)}, &id,
                     kind_is(WindowKind::updown));
}

int user32_updown_release(int id) {
  return queue_input({make_input(InputKind::updown_release)}, &id, kind_is(WindowKind::updown));
}

int user32_close() { return queue_input({make_input(InputKind::close)}, nullptr, nullptr); }

bool user32_read_dialog(User32Dialog& out) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = current_dialog_locked();
  if (!d) return false;
  out.hwnd = d->hwnd;
  out.title = d->text;
  out.x = d->x;
  out.y = d->y;
  out.cx = d->cx;
  out.cy = d->cy;
  out.style = d->style;
  out.font_face = d->font_face;
  out.point_size = d->point_size;
  out.visible = d->shown;
  out.input_blocked = input_blocked_locked(d);
  out.focus_id = 0;
  out.controls.clear();
  for (HWND h : d->children) {
    Window* c = live_locked(h);
    if (!c) continue;
    out.controls.push_back(copy_control_locked(c, d->focus));
    if (d->focus == h) out.focus_id = c->id;
  }
  return true;
}

bool user32_read_control(int id, User32Control& out) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = current_dialog_locked();
  Window* c = d ? child_locked(d, id) : nullptr;
  if (!c) return false;
  out = copy_control_locked(c, d->focus);
  return true;
}

HWND user32_current_dialog() {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = current_dialog_locked();
  return d ? d->hwnd : nullptr;
}

std::vector<User32MessageBox> user32_open_boxes() {
  std::lock_guard<std::mutex> guard(state().lock);
  std::vector<User32MessageBox> out;
  for (const OpenBox* b : state().boxes)
    if (!b->dismissed) out.push_back(b->info);
  return out;
}

std::vector<User32MessageBox> user32_box_log() {
  std::lock_guard<std::mutex> guard(state().lock);
  return state().box_log;
}

int user32_dismiss_box() {
  std::lock_guard<std::mutex> guard(state().lock);
  auto& boxes = state().boxes;
  for (auto it = boxes.rbegin(); it != boxes.rend(); ++it)
    if (!(*it)->dismissed) return dismiss_box_locked(*it);
  return USER32_NO_DIALOG;
}

int user32_dismiss_box(uint64_t serial) {
  std::lock_guard<std::mutex> guard(state().lock);
  for (OpenBox* b : state().boxes)
    if (b->info.serial == serial && !b->dismissed) return dismiss_box_locked(b);
  return USER32_NO_DIALOG;
}

uint64_t user32_change_count() {
  std::lock_guard<std::mutex> guard(state().lock);
  return state().changes;
}

uint64_t user32_wait_change(uint64_t seen, int timeout_ms) {
  auto& s = state();
  std::unique_lock<std::mutex> lock(s.lock);
  s.watchers.wait_for(lock, std::chrono::milliseconds(std::max(timeout_ms, 0)),
                      [&] { return s.changes != seen; });
  return s.changes;
}

void user32_wake_watchers() { screen_changed(); }

void user32_set_text_hook(void (*hook)(HWND window, const char* text)) { text_hook.store(hook); }

void user32_set_posted_hook(void (*hook)(HWND window, UINT message, WPARAM wparam, LPARAM lparam)) {
  posted_hook.store(hook);
}

void user32_set_drawn(bool drawn) {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  s.drawn = drawn;
  kick_all_locked();
}

bool user32_ui_idle() {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = current_dialog_locked();
  return !d || thread_idle_locked(d->thread);
}

bool user32_thread_idle(std::thread::id thread) {
  std::lock_guard<std::mutex> guard(state().lock);
  return thread_idle_locked(thread);
}

bool user32_wait_idle(int timeout_ms) {
  auto& s = state();
  std::unique_lock<std::mutex> lock(s.lock);
  return s.watchers.wait_for(lock, std::chrono::milliseconds(std::max(timeout_ms, 0)), [] {
    Window* d = current_dialog_locked();
    return !d || thread_idle_locked(d->thread);
  });
}

User32Queue user32_queue(std::thread::id thread) {
  std::lock_guard<std::mutex> guard(state().lock);
  ThreadQueue* q = find_queue_locked(thread);
  if (!q) return {};
  return {int(q->sent.size()), int(q->posted.size()), int(q->input.size()), q->waiting};
}

void user32_set_timer_divisor(unsigned divisor) {
  std::lock_guard<std::mutex> guard(state().lock);
  state().timer_divisor = std::max(divisor, 1u);
  kick_all_locked();
}

void user32_set_manual_timers(bool manual) {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (manual == s.manual_timers) return;
  if (manual) s.manual_now = now_locked();  // due times already set stay on the same scale
  s.manual_timers = manual;
  kick_all_locked();
}

void user32_advance_timers(DWORD ms) {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.manual_timers) s.manual_now += int64_t(ms) * 1000;
  kick_all_locked();
}
