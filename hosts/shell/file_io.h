// Files of the shell commands: reading a settings file or a firmware image whole, and writing a settings
// file as a shell's `>` would leave it (through a symbolic link to its target, with the target's mode, and
// not at all where the target may not be written), but never half of one: a temporary file beside the
// target, renamed over it when complete. A FIFO or a device is written directly.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

// The whole file ("-": standard input); false with the problem in `error`, also for a file above `limit`.
// A read that a signal interrupts fails with EINTR's text.
bool read_file(const std::string& path, size_t limit, std::string& text, std::string& error);

struct PendingFile {
  std::string path;       // the file to be written: the target of a symbolic link
  std::string temporary;  // beside it; empty while none exists
  int fd = -1;
  mode_t mode = 0;  // the target's mode, or what a new file gets
};
// Checks that the target may be written and creates the temporary file (or opens a FIFO or a device).
bool pending_open(PendingFile& file, const std::string& path, std::string& error);
// Writes `text`, flushes it to the disk and renames the temporary file over the target.
bool pending_commit(PendingFile& file, const std::string& text, std::string& error);
// Removes a temporary file that was not committed.
void pending_discard(PendingFile& file);
// The same from a signal handler that ends the process: async-signal-safe.
void pending_remove_now();
