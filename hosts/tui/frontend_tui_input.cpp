// Terminal front end: a person's keys and clicks turned into the layer's person input, and the hot keys.
#include <cctype>
#include <chrono>
#include <thread>

#include "hosts/tui/frontend_tui_internal.h"
#include "platform/midi/sim/midi_sim.h"

namespace {

// Letters that a caption offers for a hot key: word starts first, then every other letter.
std::vector<int> letter_candidates(const std::string& text) {
  std::vector<int> starts, others;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!std::isalpha(static_cast<unsigned char>(text[i]))) continue;
    const bool word_start = i == 0 || text[i - 1] == ' ';
    (word_start ? starts : others).push_back(static_cast<int>(i));
  }
  starts.insert(starts.end(), others.begin(), others.end());
  return starts;
}

bool inside(const User32Control& outer, const User32Control& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
         inner.y + inner.cy <= outer.y + outer.cy;
}

}  // namespace

std::vector<TuiHotKey> tui_hot_keys(const User32Dialog& dialog) {
  std::vector<TuiHotKey> keys;
  bool used[26] = {};
  for (size_t i = 0; i < dialog.controls.size(); ++i) {
    const User32Control& c = dialog.controls[i];
    if (!c.visible || !tui_kind(c.kind).hot_key) continue;
    int target = c.id;
    if (c.kind == User32Kind::group_box) {
      target = 0;
      for (const User32Control& other : dialog.controls) {
        if (&other != &c && other.visible && tui_kind(other.kind).focusable && inside(c, other)) {
          target = other.id;
          break;
        }
      }
      if (target == 0) continue;
    }
    for (int offset : letter_candidates(c.text)) {
      const int letter = std::tolower(static_cast<unsigned char>(c.text[static_cast<size_t>(offset)])) - 'a';
      if (letter < 0 || letter >= 26 || used[letter]) continue;
      used[letter] = true;
      keys.push_back(TuiHotKey{static_cast<char>('a' + letter), target, static_cast<int>(i), offset});
      break;
    }
  }
  return keys;
}

namespace {

int key_to_vk(int code) {
  switch (code) {
    case TUI_KEY_ENTER:
      return VK_RETURN;
    case TUI_KEY_ESCAPE:
      return VK_ESCAPE;
    case TUI_KEY_BACKSPACE:
      return VK_BACK;
    case TUI_KEY_DELETE:
      return VK_DELETE;
    case TUI_KEY_UP:
      return VK_UP;
    case TUI_KEY_DOWN:
      return VK_DOWN;
    case TUI_KEY_LEFT:
      return VK_LEFT;
    case TUI_KEY_RIGHT:
      return VK_RIGHT;
    case TUI_KEY_PAGE_UP:
      return VK_PRIOR;
    case TUI_KEY_PAGE_DOWN:
      return VK_NEXT;
    case TUI_KEY_HOME:
      return VK_HOME;
    case TUI_KEY_END:
      return VK_END;
    case ' ':
      return VK_SPACE;
    default:
      return 0;
  }
}

// A hot key acts as a click on its control; controls that a click would also change (slider, spin) only
// take the focus.
int press_hot_key(const User32Dialog& d, int id) {
  const User32Control* c = control_by_id(d, id);
  if (!c) return USER32_NO_CONTROL;
  switch (tui_kind(c->kind).press) {
    case TuiPress::open_list:
      return user32_key_to(id, VK_F4);
    case TuiPress::focus:
      return user32_key_to(id, VK_SHIFT);
    case TuiPress::click:
      break;
  }
  return user32_click(id);
}

int box_key(TuiView& view, const TuiScreen& screen, const User32MessageBox& box, const TuiKey& key) {
  if (view.box_serial != box.serial) {
    view.box_serial = box.serial;
    view.box_scroll = 0;
  }
  const int last = std::max(0, screen.box_lines - screen.box_visible_lines);
  const int page = std::max(1, screen.box_visible_lines - 1);
  switch (key.code) {
    case TUI_KEY_ENTER:
    case TUI_KEY_ESCAPE:
    case ' ':
      return user32_dismiss_box(box.serial);
    case TUI_KEY_UP:
      view.box_scroll = std::max(0, view.box_scroll - 1);
      return USER32_OK;
    case TUI_KEY_DOWN:
      view.box_scroll = std::min(last, view.box_scroll + 1);
      return USER32_OK;
    case TUI_KEY_PAGE_UP:
      view.box_scroll = std::max(0, view.box_scroll - page);
      return USER32_OK;
    case TUI_KEY_PAGE_DOWN:
      view.box_scroll = std::min(last, view.box_scroll + page);
      return USER32_OK;
    case TUI_KEY_HOME:
      view.box_scroll = 0;
      return USER32_OK;
    case TUI_KEY_END:
      view.box_scroll = last;
      return USER32_OK;
    default:
      return TUI_IGNORED;
  }
}

// The simulated unit started with both keys held comes up in its boot loader (update mode).
int toggle_sim_mode(TuiView& view) {
  sim_with_unit(
      [](SimUnit& unit) { unit.mode = unit.mode == SimMode::Boot ? SimMode::Running : SimMode::Boot; });
  view.sim_update_mode = tui_sim_update_mode();
  user32_wake_watchers();
  return USER32_OK;
}

}  // namespace

bool tui_sim_update_mode() {
  bool boot = false;
  sim_with_unit([&boot](SimUnit& unit) { boot = unit.mode == SimMode::Boot; });
  return boot;
}

int tui_key(TuiView& view, const TuiScreen& screen, const TuiKey& key) {
  const std::vector<User32MessageBox> boxes = user32_open_boxes();
  if (key.code == TUI_KEY_QUIT) return tui_close(2000);
  if (!boxes.empty()) return box_key(view, screen, boxes.back(), key);
  if (view.sim_keys && key.code == tui_key_f(9)) return toggle_sim_mode(view);
  User32Dialog d;
  if (!user32_read_dialog(d)) return USER32_NO_DIALOG;
  const User32Control* focus = focused_control(d);

  if (const User32Control* combo = dropped_combo(d)) {
    // The open list takes the keys that the real one takes; F4 and Alt+arrows close it like Enter.
    int vk = key_to_vk(key.code);
    if (key.code == tui_key_f(4) || (key.alt && (key.code == TUI_KEY_DOWN || key.code == TUI_KEY_UP)))
      vk = VK_F4;
    if (vk == VK_UP || vk == VK_DOWN || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_F4)
      return user32_key_to(combo->id, vk);
    return TUI_IGNORED;
  }

  const User32Control* combo = first_combo(d);
  const bool open_list = key.code == tui_key_f(4) || (key.alt && key.code == TUI_KEY_DOWN) ||
                         (key.code == TUI_KEY_ENTER && focus && focus->kind == User32Kind::combo_box);
  if (open_list) return combo ? user32_key_to(combo->id, VK_F4) : TUI_IGNORED;
  if (key.code == TUI_KEY_TAB) return user32_key(VK_TAB, key.shift);

  if (key.code < 0x80 && std::isalpha(key.code)) {
    const char letter = static_cast<char>(std::tolower(key.code));
    for (const TuiHotKey& hot : tui_hot_keys(d))
      if (hot.letter == letter) return press_hot_key(d, hot.target);
    return TUI_IGNORED;
  }
  if (key.code < 0x80 && std::isdigit(key.code)) {
    if (!focus || !tui_kind(focus->kind).digits) return TUI_IGNORED;
    const char text[2] = {static_cast<char>(key.code), 0};
    return user32_type(text);
  }
  const int vk = key_to_vk(key.code);
  return vk ? user32_key(vk, key.shift) : TUI_IGNORED;
}

int tui_click(const TuiScreen& screen, int row, int col) {
  const TuiZone* hit = nullptr;
  for (const TuiZone& z : screen.zones)
    if (row >= z.row && row < z.row + z.rows && col >= z.col && col < z.col + z.cols) hit = &z;
  const std::vector<User32MessageBox> boxes = user32_open_boxes();
  if (!boxes.empty()) {
    if (hit && hit->kind == TuiZoneKind::box_ok) return user32_dismiss_box(static_cast<uint64_t>(hit->value));
    return TUI_IGNORED;
  }
  User32Dialog d;
  if (!user32_read_dialog(d)) return USER32_NO_DIALOG;
  // A click anywhere but on the open list closes it without a choice.
  if (const User32Control* combo = dropped_combo(d)) {
    if (hit && hit->kind == TuiZoneKind::list_item) return user32_combo_choose(hit->id, hit->value);
    return user32_combo_cancel(combo->id);
  }
  if (!hit) return TUI_IGNORED;
  switch (hit->kind) {
    case TuiZoneKind::close_button:
      return user32_close();
    case TuiZoneKind::slider:
      return user32_slider_drag(hit->id, hit->value);
    case TuiZoneKind::spin_up:
    case TuiZoneKind::spin_down: {
      const int pressed = user32_updown_press(hit->id, hit->kind == TuiZoneKind::spin_up);
      if (pressed != USER32_OK) return pressed;
      return user32_updown_release(hit->id);
    }
    case TuiZoneKind::control: {
      const User32Control* c = control_by_id(d, hit->id);
      if (c && tui_kind(c->kind).press == TuiPress::open_list) return user32_combo_open(hit->id);
      return user32_click(hit->id);
    }
    default:
      return TUI_IGNORED;
  }
}

int tui_close(int timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int result = USER32_NO_DIALOG;
  do {
    for (const User32MessageBox& box : user32_open_boxes()) user32_dismiss_box(box.serial);
    result = user32_close();
    if (result != USER32_REFUSED) return result;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < until);
  return result;
}
