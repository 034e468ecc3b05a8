// USER32 for the Linux layer: windows and their message queues, the dialog manager with its modal loop,
// timers, message boxes, and the host API through which front ends act as a person and read the screen.
//
// Each thread that owns windows or shows a message box has a queue. Its loops retrieve, in this order:
// sent messages (carried out inside the retrieval, as the platform does), posted messages first in first
// out, person input, paint, and WM_TIMER, which is made only when nothing else waits. A thread that is not
// retrieving (in a handler, in Sleep) carries out nothing; senders from other threads wait for it.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>

#include "platform/win32/fifo.h"
#include "platform/win32/user32_ext.h"
#include "platform/win32/user32_internal.h"

namespace {

// A request from another thread; the task lives on the sender's stack, which waits until it is done.
struct SentMessage {
  HWND hwnd;
  LRESULT (*run)(void* task);
  void* task;
  LRESULT result = 0;
  bool done = false;
};

struct PostedMessage {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

struct ThreadQueue {
  std::thread::id thread;
  Fifo<SentMessage*> sent;
  Fifo<PostedMessage> posted;
  std::deque<Input> input;
  std::condition_variable wake;
  bool waiting = false;  // blocked in a loop's retrieval
  bool kicked = false;   // a loop's end condition may have changed since it last looked
};

struct OpenBox {
  User32MessageBox info;
  bool dismissed = false;
  int result = 0;
};

struct State {
  std::mutex lock;
  std::vector<std::unique_ptr<Window>> windows;  // never shrinks: handles stay unique and safe to look up
  std::vector<std::unique_ptr<ThreadQueue>> queues;
  std::condition_variable watchers;  // screen changes and idle
  std::condition_variable replies;   // sent messages carried out
  uint64_t changes = 0;
  std::vector<OpenBox*> boxes;
  std::vector<User32MessageBox> box_log;
  uint64_t box_serial = 0;
  unsigned timer_divisor = 1;
  bool manual_timers = false;
  int64_t manual_now = 0;
};

// Never destroyed: a thread still blocked in the layer when the process exits must not find it gone.
State& state() {
  static State* s = new State;
  return *s;
}

constexpr uintptr_t HANDLE_BASE = 0x10000;
// Room in a new queue: a worker posting faster than the dialog thread handles its posts for a while, a
// few threads sending at once. The queues grow beyond it if ever needed.
constexpr size_t POSTED_RESERVE = 256;
constexpr size_t SENT_RESERVE = 16;

HWND handle_of_index(size_t index) { return reinterpret_cast<HWND>(HANDLE_BASE + 4 * index); }

const auto clock_start = std::chrono::steady_clock::now();

// The timer clock in microseconds.
int64_t now_locked() {
  auto& s = state();
  if (s.manual_timers) return s.manual_now;
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - clock_start)
      .count();
}

int64_t scaled_period(UINT ms) {
  auto& s = state();
  if (s.manual_timers) return int64_t(ms) * 1000;
  return std::max<int64_t>(1, int64_t(ms) * 1000 / s.timer_divisor);
}

ThreadQueue* find_queue_locked(std::thread::id thread) {
  for (auto& q : state().queues)
    if (q->thread == thread) return q.get();
  return nullptr;
}

ThreadQueue& my_queue_locked() {
  auto me = std::this_thread::get_id();
  if (ThreadQueue* q = find_queue_locked(me)) return *q;
  auto& s = state();
  s.queues.push_back(std::make_unique<ThreadQueue>());
  ThreadQueue& q = *s.queues.back();
  q.thread = me;
  q.sent.reserve(SENT_RESERVE);
  q.posted.reserve(POSTED_RESERVE);
  return q;
}

void kick_locked(ThreadQueue* q) {
  if (!q) return;
  q->kicked = true;
  q->wake.notify_all();
}

void kick_all_locked() {
  for (auto& q : state().queues) kick_locked(q.get());
}

Window* live_locked(HWND hwnd) {
  Window* w = window_locked(hwnd);
  return w && w->alive ? w : nullptr;
}

bool shown_locked(const Window* w) {
  const Window* d = w->kind == WindowKind::dialog ? w : window_locked(w->parent);
  return d && d->alive && d->shown && (w->style & WS_VISIBLE);
}

Window* paint_pending_locked(const ThreadQueue& q) {
  for (auto& w : state().windows)
    if (w->alive && w->needs_paint && w->thread == q.thread && shown_locked(w.get())) return w.get();
  return nullptr;
}

bool earliest_timer_locked(const ThreadQueue& q, Window*& window, WindowTimer*& timer) {
  window = nullptr;
  timer = nullptr;
  for (auto& w : state().windows) {
    if (!w->alive || w->thread != q.thread) continue;
    for (auto& t : w->timers)
      if (!timer || t.due < timer->due) {
        window = w.get();
        timer = &t;
      }
  }
  return timer != nullptr;
}

bool pending_locked(const ThreadQueue& q) {
  if (q.kicked || !q.sent.empty() || !q.posted.empty() || !q.input.empty() || paint_pending_locked(q))
    return true;
  Window* w;
  WindowTimer* t;
  return earliest_timer_locked(q, w, t) && t->due <= now_locked();
}

bool thread_idle_locked(std::thread::id thread) {
  ThreadQueue* q = find_queue_locked(thread);
  return q && q->waiting && !pending_locked(*q);
}

Window* current_dialog_locked() {
  auto& windows = state().windows;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->alive && (*it)->kind == WindowKind::dialog) return it->get();
  return nullptr;
}

Window* my_dialog_locked() {
  auto me = std::this_thread::get_id();
  auto& windows = state().windows;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->alive && (*it)->kind == WindowKind::dialog && (*it)->thread == me) return it->get();
  return nullptr;
}

Window* child_locked(const Window* dialog, int id) {
  for (HWND h : dialog->children) {
    Window* c = live_locked(h);
    if (c && WORD(c->id) == WORD(id)) return c;
  }
  return nullptr;
}

bool input_blocked_locked(const Window* dialog) {
  for (const OpenBox* b : state().boxes)
    if (b->info.owner == dialog->hwnd) return true;
  return false;
}

// Runs a task on the thread that owns the window: directly on that thread, otherwise as a sent message
// that the owner carries out when it next retrieves messages, while the caller waits. 0 for a dead window.
// The task is called through a plain function pointer: nothing is allocated, whichever thread calls.
LRESULT call_on_owner(HWND hwnd, LRESULT (*run)(void* task), void* task) {
  auto& s = state();
  std::unique_lock<std::mutex> lock(s.lock);
  Window* w = live_locked(hwnd);
  if (!w) return 0;
  if (w->thread == std::this_thread::get_id()) {
    lock.unlock();
    return run(task);
  }
  ThreadQueue* q = find_queue_locked(w->thread);
  if (!q) return 0;
  SentMessage message{hwnd, run, task};
  q->sent.push_back(&message);
  q->wake.notify_all();
  s.replies.wait(lock, [&] { return message.done; });
  return message.result;
}

template <typename Task>
LRESULT call_on_owner(HWND hwnd, Task task) {
  return call_on_owner(
      hwnd, [](void* t) { return LRESULT((*static_cast<Task*>(t))()); }, &task);
}

enum class Retrieved { posted, input, paint, timer };

struct Message {
  Retrieved kind = Retrieved::posted;
  PostedMessage posted{};
  Input input;
  HWND window = nullptr;
  UINT_PTR timer = 0;
};

// One retrieval of a loop; false once `stop` (evaluated under the lock) holds.
bool retrieve(ThreadQueue& q, const std::function<bool()>& stop, Message& out) {
  auto& s = state();
  std::unique_lock<std::mutex> lock(s.lock);
  for (;;) {
    q.kicked = false;
    if (stop()) return false;
    if (!q.sent.empty()) {
      SentMessage* m = q.sent.front();
      q.sent.pop_front();
      lock.unlock();
      LRESULT result = m->run(m->task);
      lock.lock();
      m->result = result;
      m->done = true;
      s.replies.notify_all();
      continue;
    }
    if (!q.posted.empty()) {
      out.kind = Retrieved::posted;
      out.posted = q.posted.front();
      q.posted.pop_front();
      return true;
    }
    if (!q.input.empty()) {
      out.kind = Retrieved::input;
      out.input = std::move(q.input.front());
      q.input.pop_front();
      return true;
    }
    if (Window* w = paint_pending_locked(q)) {
      w->needs_paint = false;
      out.kind = Retrieved::paint;
      out.window = w->hwnd;
      return true;
    }
    Window* tw;
    WindowTimer* t;
    bool has_timer = earliest_timer_locked(q, tw, t);
    int64_t now = now_locked();
    if (has_timer && t->due <= now) {
      out.kind = Retrieved::timer;
      out.window = tw->hwnd;
      out.timer = t->id;
      // Expirations missed while the thread was busy fold into this one WM_TIMER.
      t->due += scaled_period(t->period);
      if (t->due <= now) t->due = now + scaled_period(t->period);
      return true;
    }
    int64_t deadline = has_timer ? t->due : 0;
    q.waiting = true;
    s.changes++;
    s.watchers.notify_all();
    if (has_timer && !s.manual_timers)
      q.wake.wait_until(lock, clock_start + std::chrono::microseconds(deadline));
    else
      q.wake.wait(lock);
    q.waiting = false;
  }
}

LRESULT dialog_proc(Window* d, UINT message, WPARAM wparam, LPARAM lparam);
void dispatch_input(const Input& input);

void paint(HWND hwnd) {
  Window* w = live_window(hwnd);
  if (!w) return;
  if (w->kind == WindowKind::trackbar) trackbar_paint(w);
  screen_changed();
}

void dispatch(const Message& m) {
  switch (m.kind) {
    case Retrieved::posted:
      deliver(m.posted.hwnd, m.posted.message, m.posted.wparam, m.posted.lparam);
      break;
    case Retrieved::input:
      dispatch_input(m.input);
      break;
    case Retrieved::paint:
      paint(m.window);
      break;
    case Retrieved::timer:
      deliver(m.window, WM_TIMER, m.timer, 0);
      break;
  }
}

// A message loop on the calling thread until `stop` holds.
void run_loop(const std::function<bool()>& stop) {
  ThreadQueue* q;
  {
    std::lock_guard<std::mutex> guard(state().lock);
    q = &my_queue_locked();
  }
  Message m;
  while (retrieve(*q, stop, m)) dispatch(m);
}

// Dialog templates.

struct TemplateItem {
  DWORD style = 0, ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  WindowKind kind = WindowKind::static_text;
  std::string text;
  int title_ordinal = 0;
};

struct Template {
  DWORD style = 0, ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string title;
  std::string font;
  int point_size = 0;
  std::vector<TemplateItem> items;
};

class TemplateReader {
 public:
  TemplateReader(const BYTE* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool ok() const { return ok_; }
  WORD word() {
    if (pos_ + 2 > size_) {
      ok_ = false;
      return 0;
    }
    WORD v = WORD(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  DWORD dword() {
    DWORD low = word();
    return low | DWORD(word()) << 16;
  }
  void align_dword() { pos_ = (pos_ + 3) & ~size_t(3); }
  void skip(size_t n) {
    if (pos_ + n > size_) ok_ = false;
    pos_ += n;
  }
  // A zero-terminated UTF-16 string, as UTF-8.
  std::string string() {
    std::string out;
    for (WORD c = word(); ok_ && c != 0; c = word()) {
      if (c < 0x80) {
        out += char(c);
      } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
      } else {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
      }
    }
    return out;
  }
  // An array that holds nothing (0), an ordinal (0xFFFF and a WORD) or a string. Returns the ordinal, or
  // -1 for a string, which goes to `text`.
  int string_or_ordinal(std::string& text) {
    WORD first = word();
    if (first == 0) return 0;
    if (first == 0xFFFF) return word();
    pos_ -= 2;
    text = string();
    return -1;
  }

 private:
  const BYTE* bytes_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Class of a dialog item: the predefined ordinals or a registered name, compared without regard to case.
bool class_of(int ordinal, const std::string& name, WindowKind& kind) {
  static const struct {
    int ordinal;
    const char* name;
    WindowKind kind;
  } classes[] = {
      {0x80, "Button", WindowKind::button},       {0x81, "Edit", WindowKind::edit},
      {0x82, "Static", WindowKind::static_text},  {0x85, "ComboBox", WindowKind::combo},
      {0, PROGRESS_CLASSA, WindowKind::progress}, {0, TRACKBAR_CLASSA, WindowKind::trackbar},
      {0, UPDOWN_CLASSA, WindowKind::updown},
  };
  for (const auto& c : classes)
    if ((ordinal > 0 && ordinal == c.ordinal) || (ordinal < 0 && same_text(name, c.name))) {
      kind = c.kind;
      return true;
    }
  return false;
}

// Parses a DLGTEMPLATE (the extended form is not supported). False when it is malformed or names a class
// that does not exist.
bool parse_template(const BYTE* bytes, size_t size, Template& t) {
  TemplateReader r(bytes, size);
  t.style = r.dword();
  if (t.style == 0xFFFF0001)  // DLGTEMPLATEEX: version 1, signature 0xFFFF
    return false;
  t.ex_style = r.dword();
  WORD count = r.word();
  t.x = short(r.word());
  t.y = short(r.word());
  t.cx = short(r.word());
  t.cy = short(r.word());
  std::string menu, class_name;
  r.string_or_ordinal(menu);
  if (r.string_or_ordinal(class_name) != 0) return false;  // only the standard dialog class
  t.title = r.string();
  if (t.style & DS_SETFONT) {
    t.point_size = r.word();
    t.font = r.string();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    TemplateItem item;
    r.align_dword();
    item.style = r.dword();
    item.ex_style = r.dword();
    item.x = short(r.word());
    item.y = short(r.word());
    item.cx = short(r.word());
    item.cy = short(r.word());
    WORD id = r.word();
    item.id = id == 0xFFFF ? -1 : id;
    std::string name;
    int ordinal = r.string_or_ordinal(name);
    if (!r.ok() || !class_of(ordinal, name, item.kind)) return false;
    int title = r.string_or_ordinal(item.text);
    if (title > 0) item.title_ordinal = title;
    r.skip(r.word());  // creation data
    t.items.push_back(std::move(item));
  }
  return r.ok();
}

struct PictureSize {
  int width = 0, height = 0;  // pixels
};

// Size of a bitmap resource from its BITMAPINFOHEADER; zero when it is missing.
PictureSize bitmap_size(HINSTANCE instance, int bitmap_id) {
  PictureSize size;
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(bitmap_id), RT_BITMAP);
  const BYTE* bits = found ? static_cast<const BYTE*>(LockResource(LoadResource(instance, found))) : nullptr;
  if (!bits || SizeofResource(instance, found) < 12) return size;
  auto read32 = [&](int at) {
    return int32_t(bits[at] | bits[at + 1] << 8 | bits[at + 2] << 16 | uint32_t(bits[at + 3]) << 24);
  };
  size.width = read32(4);
  size.height = std::abs(read32(8));  // negative for a top-down bitmap
  return size;
}

Window* new_window_locked(WindowKind kind) {
  auto& windows = state().windows;
  auto w = std::make_unique<Window>();
  w->hwnd = handle_of_index(windows.size());
  w->kind = kind;
  w->thread = std::this_thread::get_id();
  windows.push_back(std::move(w));
  return windows.back().get();
}

Window* create_dialog(const Template& t, HWND owner, DLGPROC proc) {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  my_queue_locked();
  Window* d = new_window_locked(WindowKind::dialog);
  d->style = t.style;
  d->ex_style = t.ex_style;
  d->x = t.x;
  d->y = t.y;
  d->cx = t.cx;
  d->cy = t.cy;
  d->text = t.title;
  d->font_face = t.font;
  d->point_size = t.point_size;
  d->parent = owner;
  d->dlgproc = proc;
  for (const TemplateItem& item : t.items) {
    Window* c = new_window_locked(item.kind);
    c->style = item.style | WS_CHILD;
    c->ex_style = item.ex_style;
    c->x = item.x;
    c->y = item.y;
    c->cx = item.cx;
    c->cy = item.cy;
    c->id = item.id;
    c->text = item.text;
    c->parent = d->hwnd;
    d->children.push_back(c->hwnd);
    switch (item.kind) {
      case WindowKind::button:
        button_create(c);
        break;
      case WindowKind::edit:
        edit_create(c);
        break;
      case WindowKind::static_text:
        static_create(c);
        break;
      case WindowKind::combo:
        combo_create(c);
        break;
      case WindowKind::progress:
        progress_create(c);
        break;
      case WindowKind::trackbar:
        trackbar_create(c);
        break;
      case WindowKind::updown:
        updown_create(c);
        break;
      case WindowKind::dialog:
        break;
    }
    if (item.kind == WindowKind::static_text && (item.style & SS_TYPEMASK) == SS_BITMAP && item.title_ordinal)
      c->bitmap_id = item.title_ordinal;
  }
  screen_changed_locked();
  return d;
}

HWND next_tab_stop(Window* d, HWND from, bool backwards) {
  std::lock_guard<std::mutex> guard(state().lock);
  int n = int(d->children.size());
  int start = backwards ? n : -1;
  for (int i = 0; i < n; ++i)
    if (d->children[i] == from) start = i;
  for (int step = 1; step <= n; ++step) {
    int i = ((start + (backwards ? -step : step)) % n + n) % n;
    Window* c = live_locked(d->children[i]);
    if (c && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED)) return c->hwnd;
  }
  return nullptr;
}

void focus_for_keyboard(Window* d, HWND target) {
  set_focus(d, target);
  Window* w = live_window(target);
  // An edit box reached by the keyboard selects its whole text (DLGC_HASSETSEL).
  if (w && w->kind == WindowKind::edit) deliver(target, EM_SETSEL, 0, -1);
}

void destroy_dialog(Window* d) {
  // Hiding the dialog takes the focus away: the focused control hears WM_KILLFOCUS, as on the platform.
  set_focus(d, nullptr);
  deliver(d->hwnd, WM_DESTROY, 0, 0);
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.lock);
  d->alive = false;
  d->shown = false;
  d->timers.clear();
  for (HWND h : d->children)
    if (Window* c = window_locked(h)) c->alive = false;
  for (auto& q : s.queues) {
    auto dead = [](HWND h) {
      Window* w = window_locked(h);
      return w && !w->alive;
    };
    erase_if(q->posted, [&](const PostedMessage& m) { return dead(m.hwnd); });
    std::erase_if(q->input, [&](const Input& in) { return dead(in.dialog); });
    erase_if(q->sent, [&](SentMessage* m) {
      if (!dead(m->hwnd)) return false;
      m->done = true;
      return true;
    });
  }
  s.replies.notify_all();
  // Boxes owned by the dialog go with it; their callers get 0.
  for (OpenBox* b : s.boxes)
    if (b->info.owner == d->hwnd && !b->dismissed) {
      b->dismissed = true;
      b->result = 0;
      kick_locked(find_queue_locked(b->info.thread));
    }
  screen_changed_locked();
}

INT_PTR run_dialog(HINSTANCE instance, const Template& t, HWND owner, DLGPROC proc, LPARAM param) {
  if (owner && !live_window(owner)) return -1;
  Window* d = create_dialog(t, owner, proc);
  // A picture control takes the size of its bitmap, whatever its template rectangle says.
  for (HWND h : d->children) {
    Window* c = live_window(h);
    PictureSize size = c && c->bitmap_id ? bitmap_size(instance, c->bitmap_id) : PictureSize{};
    if (size.width > 0)
      update([&] {
        c->bitmap_width = size.width;
        c->bitmap_height = size.height;
        c->cx = (size.width * 4 + BASE_UNIT_X / 2) / BASE_UNIT_X;
        c->cy = (size.height * 8 + BASE_UNIT_Y / 2) / BASE_UNIT_Y;
      });
  }
  HWND first = next_tab_stop(d, nullptr, false);
  if (deliver(d->hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param)) {
    // WM_INITDIALOG may have disabled controls: the first tab stop is looked up again.
    if (HWND focus = next_tab_stop(d, nullptr, false)) focus_for_keyboard(d, focus);
  }
  update([&] {
    if (!d->ended) d->shown = true;
  });
  run_loop([d] { return d->ended; });
  destroy_dialog(d);
  std::lock_guard<std::mutex> guard(state().lock);
  return d->result;
}

// The dialog manager's keys: Tab and Shift+Tab among the tab stops, Escape, Enter.
void dialog_key(Window* d, Window* focused, int vk, bool shift) {
  switch (vk) {
    case VK_TAB:
      if (HWND next = next_tab_stop(d, d->focus, shift))
        if (next != d->focus) focus_for_keyboard(d, next);
      break;
    case VK_ESCAPE: {
      HWND cancel = GetDlgItem(d->hwnd, IDCANCEL);
      if (!cancel || IsWindowEnabled(cancel))
        deliver(d->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      break;
    }
    case VK_RETURN: {
      // A focused push button is the default one; otherwise a BS_DEFPUSHBUTTON, otherwise IDOK.
      int id = IDOK;
      HWND button = nullptr;
      auto push = [](const Window* w) {
        DWORD type = w->style & BS_TYPEMASK;
        return w->kind == WindowKind::button && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
      };
      if (focused && push(focused)) {
        id = focused->id;
        button = focused->hwnd;
      } else {
        std::lock_guard<std::mutex> guard(state().lock);
        for (HWND h : d->children) {
          Window* c = live_locked(h);
          if (c && push(c) && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            id = c->id;
            button = h;
            break;
          }
        }
      }
      if (!button) button = GetDlgItem(d->hwnd, id);
      if (!button || IsWindowEnabled(button))
        deliver(d->hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
      break;
    }
    default:
      break;
  }
}

bool wants_key(const Window* c, int vk) {
  switch (c->kind) {
    case WindowKind::button:
      return button_wants_key(c, vk);
    case WindowKind::edit:
      return edit_wants_key(c, vk);
    case WindowKind::combo:
      return combo_wants_key(c, vk);
    case WindowKind::trackbar:
      return trackbar_wants_key(c, vk);
    case WindowKind::updown:
      return updown_wants_key(c, vk);
    default:
      return false;
  }
}

void control_input(Window* c, const Input& input) {
  switch (c->kind) {
    case WindowKind::button:
      button_input(c, input);
      break;
    case WindowKind::edit:
      edit_input(c, input);
      break;
    case WindowKind::combo:
      combo_input(c, input);
      break;
    case WindowKind::trackbar:
      trackbar_input(c, input);
      break;
    case WindowKind::updown:
      updown_input(c, input);
      break;
    default:
      break;
  }
}

void dispatch_input(const Input& input) {
  Window* d = live_window(input.dialog);
  if (!d) return;
  {
    std::lock_guard<std::mutex> guard(state().lock);
    if (input_blocked_locked(d)) return;  // the owner of an open message box takes no input
  }
  if (input.kind == InputKind::close) {
    deliver(d->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    return;
  }
  Window* c = input.control ? live_window(input.control) : live_window(d->focus);
  if (input.control && (!c || !is_enabled(c) || !(c->style & WS_VISIBLE)))
    return;  // disabled and hidden controls take no input
  bool keyboard = input.kind == InputKind::key_down || input.kind == InputKind::key_up ||
                  input.kind == InputKind::character;
  bool focusing = input.kind != InputKind::key_up && input.kind != InputKind::drag_move &&
                  input.kind != InputKind::drag_release && input.kind != InputKind::combo_choose &&
                  input.kind != InputKind::combo_cancel;
  if (input.control && focusing && takes_focus(c) && d->focus != c->hwnd) set_focus(d, c->hwnd);
  if (!keyboard) {
    if (c) control_input(c, input);
    return;
  }
  if (c && (input.kind == InputKind::character || wants_key(c, input.vk))) {
    control_input(c, input);
    return;
  }
  if (input.kind == InputKind::key_down) dialog_key(d, c, input.vk, input.shift);
}

LRESULT dialog_proc(Window* d, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR handled = d->dlgproc ? d->dlgproc(d->hwnd, message, wparam, lparam) : FALSE;
  if (message == WM_INITDIALOG) return handled;
  if (handled) return 0;  // DWLP_MSGRESULT, which nothing here sets
  LRESULT result;
  if (text_message(d, message, wparam, lparam, result)) return result;
  switch (message) {
    case WM_SETICON: {
      int slot = wparam == ICON_BIG ? 1 : 0;
      HICON previous = d->icons[slot];
      update([&] { d->icons[slot] = reinterpret_cast<HICON>(lparam); });
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_CLOSE) deliver(d->hwnd, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE: {
      // Unhandled, the close button acts as the Cancel button.
      HWND cancel = GetDlgItem(d->hwnd, IDCANCEL);
      if (!cancel || IsWindowEnabled(cancel))
        PostMessageA(d->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    default:
      return 0;
  }
}

User32Control copy_control_locked(const Window* c, HWND focus) {
  static const char* const names[] = {"#32770",   "Button",        "Edit",          "Static",
                                      "ComboBox", PROGRESS_CLASSA, TRACKBAR_CLASSA, UPDOWN_CLASSA};
  User32Control out{};
  out.hwnd = c->hwnd;
  out.class_name = names[int(c->kind)];
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

// Internals shared with the controls.

std::mutex& user32_lock() { return state().lock; }

Window* window_locked(HWND hwnd) {
  uintptr_t v = reinterpret_cast<uintptr_t>(hwnd);
  if (v < HANDLE_BASE || (v & 3)) return nullptr;
  size_t index = (v - HANDLE_BASE) / 4;
  auto& windows = state().windows;
  return index < windows.size() ? windows[index].get() : nullptr;
}

Window* live_window(HWND hwnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  return live_locked(hwnd);
}

void screen_changed_locked() {
  auto& s = state();
  s.changes++;
  s.watchers.notify_all();
}

void screen_changed() {
  std::lock_guard<std::mutex> guard(state().lock);
  screen_changed_locked();
}

void invalidate(Window* w) {
  std::lock_guard<std::mutex> guard(state().lock);
  w->needs_paint = true;
  screen_changed_locked();
  if (ThreadQueue* q = find_queue_locked(w->thread)) q->wake.notify_all();
}

LRESULT deliver(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* w = live_window(hwnd);
  if (!w) return 0;
  switch (w->kind) {
    case WindowKind::dialog:
      return dialog_proc(w, message, wparam, lparam);
    case WindowKind::button:
      return button_proc(w, message, wparam, lparam);
    case WindowKind::edit:
      return edit_proc(w, message, wparam, lparam);
    case WindowKind::static_text:
      return static_proc(w, message, wparam, lparam);
    case WindowKind::combo:
      return combo_proc(w, message, wparam, lparam);
    case WindowKind::progress:
      return progress_proc(w, message, wparam, lparam);
    case WindowKind::trackbar:
      return trackbar_proc(w, message, wparam, lparam);
    case WindowKind::updown:
      return updown_proc(w, message, wparam, lparam);
  }
  return 0;
}

void notify_command(Window* control, int code) {
  SendMessageA(control->parent, WM_COMMAND, MAKEWPARAM(control->id, code),
               reinterpret_cast<LPARAM>(control->hwnd));
}

LRESULT send_notify(Window* control, NMHDR* header) {
  header->hwndFrom = control->hwnd;
  header->idFrom = WORD(control->id);
  return SendMessageA(control->parent, WM_NOTIFY, WORD(control->id), reinterpret_cast<LPARAM>(header));
}

LRESULT notify_header(Window* control, UINT code) {
  NMHDR header{};
  header.code = code;
  return send_notify(control, &header);
}

void set_focus(Window* dialog, HWND target) {
  HWND old = dialog->focus;
  if (old == target) return;
  // The focus moves first; then the old window hears WM_KILLFOCUS and the new one WM_SETFOCUS.
  update([&] { dialog->focus = target; });
  if (old) deliver(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(target), 0);
  if (target && dialog->focus == target) deliver(target, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
}

Window* dialog_of(Window* w) {
  if (w->kind == WindowKind::dialog) return w;
  std::lock_guard<std::mutex> guard(state().lock);
  return live_locked(w->parent);
}

bool is_enabled(const Window* w) { return !(w->style & WS_DISABLED); }

bool takes_focus(const Window* w) {
  if (!w || !is_enabled(w) || !(w->style & WS_VISIBLE)) return false;
  switch (w->kind) {
    case WindowKind::button:
      return (w->style & BS_TYPEMASK) != BS_GROUPBOX;
    case WindowKind::edit:
    case WindowKind::combo:
    case WindowKind::trackbar:
      return true;
    default:
      return false;  // statics, the progress bar, and an up-down without a buddy
  }
}

std::atomic<void (*)(HWND, const char*)> text_hook{nullptr};

bool text_message(Window* w, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lparam);
      update([&] { w->text.assign(text ? text : ""); });
      if (void (*hook)(HWND, const char*) = text_hook.load()) hook(w->hwnd, text ? text : "");
      result = TRUE;
      return true;
    }
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lparam);
      if (!buffer || wparam == 0) {
        result = 0;
        return true;
      }
      size_t n = std::min(w->text.size(), size_t(wparam) - 1);
      std::memcpy(buffer, w->text.data(), n);
      buffer[n] = '\0';
      result = LRESULT(n);
      return true;
    }
    case WM_GETTEXTLENGTH:
      result = LRESULT(w->text.size());
      return true;
    default:
      return false;
  }
}

// The Win32 API.

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  HRSRC found = FindResourceA(hInstance, lpTemplateName, RT_DIALOG);
  if (!found) return -1;
  const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(hInstance, found)));
  Template t;
  if (!bytes || !parse_template(bytes, SizeofResource(hInstance, found), t)) return -1;
  return run_dialog(hInstance, t, hWndParent, lpDialogFunc, dwInitParam);
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  Template t;
  if (!hDialogTemplate || !parse_template(reinterpret_cast<const BYTE*>(hDialogTemplate), SIZE_MAX / 2, t))
    return -1;
  return run_dialog(hInstance, t, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = live_locked(hDlg);
  if (!d || d->kind != WindowKind::dialog) return FALSE;
  // The loop notices at its next retrieval; ended, result and shown are read under the lock only.
  d->ended = true;
  d->result = nResult;
  d->shown = false;
  kick_locked(find_queue_locked(d->thread));
  screen_changed_locked();
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = live_locked(hDlg);
  if (!d) return nullptr;
  Window* c = child_locked(d, nIDDlgItem);
  return c ? c->hwnd : nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w && w->kind != WindowKind::dialog ? w->id : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  HWND c = GetDlgItem(hDlg, nIDDlgItem);
  return c ? BOOL(SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString))) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
  HWND c = GetDlgItem(hDlg, nIDDlgItem);
  if (!c) {
    if (lpString && cchMax > 0) lpString[0] = '\0';
    return 0;
  }
  return UINT(SendMessageA(c, WM_GETTEXT, WPARAM(cchMax), reinterpret_cast<LPARAM>(lpString)));
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
  HWND c = GetDlgItem(hDlg, nIDDlgItem);
  return c ? SendMessageA(c, Msg, wParam, lParam) : 0;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return call_on_owner(hWnd, [=] { return deliver(hWnd, Msg, wParam, lParam); });
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  ThreadQueue* q = w ? find_queue_locked(w->thread) : nullptr;
  if (!q) return FALSE;
  q->posted.push_back({hWnd, Msg, wParam, lParam});
  q->wake.notify_all();
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return live_window(hWnd) != nullptr; }

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w && shown_locked(w);
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  // Carried out on the owner thread, where the focus and the control's own reaction live.
  return BOOL(call_on_owner(hWnd, [=]() -> LRESULT {
    Window* w = live_window(hWnd);
    if (!w) return FALSE;
    bool was_disabled = w->style & WS_DISABLED;
    if (bool(bEnable) == !was_disabled) return was_disabled;
    update([&] {
      if (bEnable)
        w->style &= ~DWORD(WS_DISABLED);
      else
        w->style |= WS_DISABLED;
    });
    if (!bEnable) {
      Window* d = dialog_of(w);
      if (d && d->focus == hWnd) set_focus(d, nullptr);  // a disabled window cannot keep the focus
    }
    deliver(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
    return was_disabled;
  }));
}

HWND WINAPI SetFocus(HWND hWnd) {
  Window* d;
  Window* w = nullptr;
  {
    std::lock_guard<std::mutex> guard(state().lock);
    if (hWnd) {
      w = live_locked(hWnd);
      if (!w || w->thread != std::this_thread::get_id())
        return nullptr;  // only windows of the calling thread
      d = w->kind == WindowKind::dialog ? w : live_locked(w->parent);
    } else {
      d = my_dialog_locked();
    }
  }
  if (!d) return nullptr;
  HWND previous = d->focus;
  if (w != d) set_focus(d, hWnd);
  return previous;
}

HWND WINAPI GetFocus(void) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* d = my_dialog_locked();
  return d ? d->focus : nullptr;
}

HWND WINAPI GetParent(HWND hWnd) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  return w ? w->parent : nullptr;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  return BOOL(SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (lpString && nMaxCount > 0) lpString[0] = '\0';
  return int(SendMessageA(hWnd, WM_GETTEXT, WPARAM(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextLengthA(HWND hWnd) { return int(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0)); }

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  if (!w || lpTimerFunc) return 0;  // window timers only: nothing here uses thread timers or timer procedures
  UINT period = std::clamp<UINT>(uElapse, USER_TIMER_MINIMUM, 0x7FFFFFFF);
  int64_t due = now_locked() + scaled_period(period);
  auto it = std::find_if(w->timers.begin(), w->timers.end(),
                         [&](const WindowTimer& t) { return t.id == nIDEvent; });
  if (it != w->timers.end()) {
    it->period = period;  // an existing id restarts that timer
    it->due = due;
  } else {
    w->timers.push_back({nIDEvent, period, due});
  }
  kick_locked(find_queue_locked(w->thread));
  return nIDEvent ? nIDEvent : 1;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  std::lock_guard<std::mutex> guard(state().lock);
  Window* w = live_locked(hWnd);
  if (!w) return FALSE;
  // WM_TIMER is made at retrieval, so a killed timer delivers nothing more.
  return std::erase_if(w->timers, [&](const WindowTimer& t) { return t.id == uIDEvent; }) ? TRUE : FALSE;
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

// The host API.

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

namespace {

int dismiss_locked(OpenBox* b) {
  b->dismissed = true;
  b->result = IDOK;
  kick_locked(find_queue_locked(b->info.thread));
  screen_changed_locked();
  return USER32_OK;
}

}  // namespace

int user32_dismiss_box() {
  std::lock_guard<std::mutex> guard(state().lock);
  auto& boxes = state().boxes;
  for (auto it = boxes.rbegin(); it != boxes.rend(); ++it)
    if (!(*it)->dismissed) return dismiss_locked(*it);
  return USER32_NO_DIALOG;
}

int user32_dismiss_box(uint64_t serial) {
  std::lock_guard<std::mutex> guard(state().lock);
  for (OpenBox* b : state().boxes)
    if (b->info.serial == serial && !b->dismissed) return dismiss_locked(b);
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

// Window class names and combo box entries compare without regard to case.
bool same_text(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
