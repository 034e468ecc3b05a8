// USER32 for the Linux layer: the layer's state, each thread's message queue, its loops, sending and
// posting across threads, paint and timers.
//
// Each thread that owns windows or shows a message box has a queue. Its loops retrieve, in this order:
// sent messages (carried out inside the retrieval, as the platform does), posted messages first in first
// out, person input, paint, and WM_TIMER, which is made only when nothing else waits. A thread that is not
// retrieving (in a handler, in Sleep) carries out nothing; senders from other threads wait for it.
#include <algorithm>
#include <chrono>

#include "platform/win32/user32_internal.h"

namespace {

// Room in a new queue: a worker posting faster than the dialog thread handles its posts for a while, a
// few threads sending at once. The queues grow beyond it if ever needed.
constexpr size_t POSTED_RESERVE = 256;
constexpr size_t SENT_RESERVE = 16;

const auto clock_start = std::chrono::steady_clock::now();

int64_t scaled_period(UINT ms) {
  auto& s = state();
  if (s.manual_timers) return int64_t(ms) * 1000;
  return std::max<int64_t>(1, int64_t(ms) * 1000 / s.timer_divisor);
}

// Only a window that the host draws is painted: one that nobody sees gets no paint and no NM_CUSTOMDRAW.
Window* paint_pending_locked(const ThreadQueue& q) {
  if (!state().drawn) return nullptr;
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

void paint(HWND hwnd) {
  Window* w = live_window(hwnd);
  if (!w) return;
  if (w->kind == WindowKind::trackbar) trackbar_paint(w);
  screen_changed();
}

void dispatch(const Message& m) {
  switch (m.kind) {
    case Retrieved::posted:
      if (auto* hook = posted_hook.load())
        hook(m.posted.hwnd, m.posted.message, m.posted.wparam, m.posted.lparam);
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

}  // namespace

std::atomic<void (*)(HWND, UINT, WPARAM, LPARAM)> posted_hook{nullptr};

// Never destroyed: a thread still blocked in the layer when the process exits must not find it gone.
State& state() {
  static State* s = new State;
  return *s;
}

// The timer clock in microseconds.
int64_t now_locked() {
  auto& s = state();
  if (s.manual_timers) return s.manual_now;
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - clock_start)
      .count();
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

bool thread_idle_locked(std::thread::id thread) {
  ThreadQueue* q = find_queue_locked(thread);
  return q && q->waiting && !pending_locked(*q);
}

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

void forget_dead_windows_locked() {
  auto& s = state();
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
}

void invalidate(Window* w) {
  std::lock_guard<std::mutex> guard(state().lock);
  w->needs_paint = true;
  screen_changed_locked();
  if (ThreadQueue* q = find_queue_locked(w->thread)) q->wake.notify_all();
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
