// Files of the shell commands: reading a settings file or a firmware image whole, and writing a settings
// file so that a crash never leaves half of one (a temporary file beside it, renamed when complete).
#pragma once
#include <cstddef>
#include <string>

// The whole file ("-": standard input); false with the problem in `error`, also for a file above `limit`.
bool read_file(const std::string& path, size_t limit, std::string& text, std::string& error);

struct PendingFile {
  std::string path;
  std::string temporary;
  int fd = -1;
};
// Creates the temporary file beside `path`.
bool pending_open(PendingFile& file, const std::string& path, std::string& error);
// Writes `text` to the temporary file, flushes it to the disk and renames it to the path.
bool pending_commit(PendingFile& file, const std::string& text, std::string& error);
// Removes a temporary file that was not committed.
void pending_discard(PendingFile& file);
