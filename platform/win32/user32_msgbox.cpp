// USER32 for the Linux layer: message boxes. A box runs a loop of its own on the calling thread until a
// person (the host) dismisses it or its owner dialog goes; while it is open, its owner takes no input.
#include "platform/win32/user32_internal.h"

bool input_blocked_locked(const Window* dialog) {
  for (const OpenBox* b : state().boxes)
    if (b->info.owner == dialog->hwnd) return true;
  return false;
}

void close_boxes_of_locked(HWND dialog) {
  for (OpenBox* b : state().boxes)
    if (b->info.owner == dialog && !b->dismissed) {
      b->dismissed = true;
      b->result = 0;
      kick_locked(find_queue_locked(b->info.thread));
    }
}

int dismiss_box_locked(OpenBox* b) {
  b->dismissed = true;
  b->result = IDOK;
  kick_locked(find_queue_locked(b->info.thread));
  screen_changed_locked();
  return USER32_OK;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  auto& s = state();
  OpenBox box;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    Window* owner = hWnd ? live_locked(hWnd) : nullptr;
    if (hWnd && !owner) return 0;  // an owner that is not a window: the box cannot be created
    box.info.serial = ++s.box_serial;
    box.info.owner = hWnd;
    box.info.title = lpCaption ? lpCaption : "Error";
    box.info.text = lpText ? lpText : "";
    box.info.type = uType;
    box.info.thread = std::this_thread::get_id();
    box.info.on_ui_thread = owner && owner->thread == box.info.thread;
    s.boxes.push_back(&box);
    s.box_log.push_back(box.info);
    screen_changed_locked();
  }
  // The box's own loop: on the owner's thread it keeps the dialog's sent and posted messages and timers
  // flowing; on another thread it just waits for the person.
  run_loop([&] { return box.dismissed; });
  std::lock_guard<std::mutex> guard(s.lock);
  std::erase(s.boxes, &box);
  screen_changed_locked();
  return box.result;
}
