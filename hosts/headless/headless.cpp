// Headless driver: the program's WinMain on a UI thread of its own, person actions that wait until the
// program has reacted, and readers of the dialog's controls.
#include "hosts/headless/headless.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct Run {
  std::mutex lock;
  bool running = false;
  bool finished = false;
  int result = 0;
  std::thread::id ui_thread;
};

// Never destroyed: the UI thread may still be running when the process exits.
Run& run() {
  static Run* r = new Run;
  return *r;
}

constexpr int ACTION_TIMEOUT_MS = 10000;
// Conditions outside the USER32 layer (another layer's state) do not wake the change counter, so waiting
// re-checks at least this often.
constexpr int RECHECK_MS = 10;

bool finished() {
  std::lock_guard<std::mutex> guard(run().lock);
  return run().finished;
}

bool ui_idle() {
  std::thread::id thread;
  {
    std::lock_guard<std::mutex> guard(run().lock);
    if (run().finished) return true;
    thread = run().ui_thread;
  }
  return user32_thread_idle(thread);
}

int act(int queued) {
  if (queued != USER32_OK) return queued;
  return headless_wait_idle(ACTION_TIMEOUT_MS) ? USER32_OK : HEADLESS_TIMEOUT;
}

User32Control control(int id) {
  User32Control c{};
  if (!user32_read_control(id, c)) {
    c.id = 0;
    c.check = -1;
    c.position = c.minimum = c.maximum = c.selection = -1;
  }
  return c;
}

}  // namespace

int headless_start(HeadlessEntry entry, HINSTANCE module) {
  Run& r = run();
  std::lock_guard<std::mutex> guard(r.lock);
  if (r.running && !r.finished) return -1;
  r.running = true;
  r.finished = false;
  r.result = 0;
  std::thread ui([entry, module] {
    static char command_line[] = "";
    int result = entry(module ? module : GetModuleHandleA(nullptr), nullptr, command_line, SW_SHOWDEFAULT);
    {
      std::lock_guard<std::mutex> done(run().lock);
      run().result = result;
      run().finished = true;
    }
    user32_wake_watchers();
  });
  r.ui_thread = ui.get_id();
  ui.detach();
  return 0;
}

int headless_exit_code(int timeout_ms) {
  if (!headless_wait_until(finished, timeout_ms)) return HEADLESS_TIMEOUT;
  std::lock_guard<std::mutex> guard(run().lock);
  return run().result;
}

bool headless_running() {
  std::lock_guard<std::mutex> guard(run().lock);
  return run().running && !run().finished;
}

bool headless_wait_until(const std::function<bool()>& condition, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    uint64_t seen = user32_change_count();
    if (condition()) return true;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    user32_wait_change(seen, int(std::min<int64_t>(left.count(), RECHECK_MS)));
  }
}

bool headless_wait_idle(int timeout_ms) { return headless_wait_until(ui_idle, timeout_ms); }

bool headless_wait_box(int timeout_ms) {
  return headless_wait_until([] { return !user32_open_boxes().empty(); }, timeout_ms);
}

bool headless_wait_dialog(int timeout_ms) {
  return headless_wait_until([] { return user32_current_dialog() != nullptr && ui_idle(); }, timeout_ms);
}

int headless_click(int id) { return act(user32_click(id)); }

int headless_key(int vk, bool shift) { return act(user32_key(vk, shift)); }

int headless_key_to(int id, int vk, bool shift) { return act(user32_key_to(id, vk, shift)); }

int headless_type(const char* text) { return act(user32_type(text)); }

int headless_type_to(int id, const char* text) {
  int clicked = headless_click(id);
  return clicked == USER32_OK ? headless_type(text) : clicked;
}

int headless_paste(int id, const char* text) { return act(user32_paste(id, text)); }

int headless_combo_open(int id) { return act(user32_combo_open(id)); }

int headless_combo_choose(int id, int index) { return act(user32_combo_choose(id, index)); }

int headless_combo_cancel(int id) { return act(user32_combo_cancel(id)); }

int headless_slider_drag(int id, int position) { return act(user32_slider_drag(id, position)); }

int headless_spin(int id, bool up) {
  int pressed = act(user32_updown_press(id, up));
  return pressed == USER32_OK ? act(user32_updown_release(id)) : pressed;
}

int headless_close() { return act(user32_close()); }

int headless_dismiss_box() { return act(user32_dismiss_box()); }

HWND headless_dialog() { return user32_current_dialog(); }

std::string headless_title() {
  User32Dialog d{};
  return user32_read_dialog(d) ? d.title : std::string();
}

std::string headless_text(int id) { return control(id).text; }

bool headless_enabled(int id) { return control(id).enabled; }

bool headless_visible(int id) { return control(id).visible; }

int headless_checked(int id) { return control(id).check; }

int headless_position(int id) { return control(id).position; }

int headless_range_min(int id) { return control(id).minimum; }

int headless_range_max(int id) { return control(id).maximum; }

std::vector<std::string> headless_combo_items(int id) { return control(id).items; }

int headless_combo_selection(int id) { return control(id).selection; }

bool headless_combo_dropped(int id) { return control(id).dropped; }

int headless_focus_id() {
  User32Dialog d{};
  return user32_read_dialog(d) ? d.focus_id : 0;
}

std::vector<User32MessageBox> headless_boxes() { return user32_open_boxes(); }

std::vector<User32MessageBox> headless_box_log() { return user32_box_log(); }
