// What the terminal front end turns on, undone without ncurses: the sequences are looked up once, while the
// program runs normally, into a fixed buffer that a signal handler only writes out.
#include "hosts/tui/terminal_restore.h"

#include <ncurses.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

int terminal_fd = -1;
struct termios saved_modes;
bool modes_saved = false;
char sequence[256];
size_t sequence_length = 0;
std::atomic<bool> armed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

// A capability string; tigetstr gives NULL for an absent one and -1 for one that is no string.
const char* capability(const char* name) {
  const char* value = tigetstr(name);
  return value == reinterpret_cast<const char*>(-1) ? nullptr : value;
}

void append(const char* text) {
  if (!text) return;
  const size_t length = std::strlen(text);
  if (sequence_length + length > sizeof sequence) return;
  std::memcpy(sequence + sequence_length, text, length);
  sequence_length += length;
}

// Mouse reporting off, as ncurses turns it on: the terminal's own XM string, or else xterm's reporting
// (with SGR coordinates where the mouse key says so) for a terminal with a mouse key.
const char* mouse_off() {
  if (const char* xm = capability("XM")) return tiparm(xm, 0);
  const char* key = capability("kmous");
  if (!key) return nullptr;
  return std::strcmp(key, "\033[<") == 0 ? "\033[?1006;1000l" : "\033[?1000l";
}

}  // namespace

void terminal_restore_arm(int fd, const struct termios* shell_modes) {
  terminal_fd = fd;
  modes_saved = shell_modes != nullptr;
  if (modes_saved) saved_modes = *shell_modes;
  sequence_length = 0;
  // In the order endwin uses: plain attributes (a frame may stop half painted), the mouse, the cursor, the
  // main screen, the keypad.
  append(capability("sgr0"));
  append(mouse_off());
  append(capability("cnorm"));
  append(capability("rmcup"));
  append(capability("rmkx"));
  armed.store(true);
}

void terminal_restore_disarm() { armed.store(false); }

void terminal_restore_now() {
  if (!armed.load()) return;
  size_t written = 0;
  while (written < sequence_length) {
    const ssize_t n = write(terminal_fd, sequence + written, sequence_length - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  if (modes_saved) tcsetattr(terminal_fd, TCSADRAIN, &saved_modes);
}
