#include "hosts/shell/file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// As many links as the kernel follows.
constexpr int MAX_LINKS = 40;

// The temporary file that exists, where a signal handler may read its name.
char temporary_name[PATH_MAX];
std::atomic<bool> temporary_named{false};

std::string problem(const std::string& path, const char* what) {
  return path + ": " + what + ": " + std::strerror(errno);
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file that `path` names through its symbolic links, as open() reaches it; a link to a file that does
// not exist names that file.
bool follow_links(std::string& path) {
  for (int hops = 0; hops < MAX_LINKS; ++hops) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length < 0) return true;  // no link: what is wrong with the path shows when it is written
    if (static_cast<size_t>(length) == sizeof target) break;
    const std::string link(target, static_cast<size_t>(length));
    path = link[0] == '/' ? link : folder_of(path) + link;
  }
  errno = ELOOP;
  return false;
}

bool write_all(int fd, const std::string& text) {
  for (size_t written = 0; written < text.size();) {
    const ssize_t done = write(fd, text.data() + written, text.size() - written);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    written += static_cast<size_t>(done);
  }
  return true;
}

}  // namespace

bool read_file(const std::string& path, size_t limit, std::string& text, std::string& error) {
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  text.clear();
  char buffer[4096];
  ssize_t got = 0;
  // One byte past the limit tells a file that is too large from one that just fits.
  while (text.size() <= limit && (got = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, size_t(got));
  const int read_errno = errno;
  if (fd != STDIN_FILENO) close(fd);
  if (got < 0) {
    error = std::strerror(read_errno);
    return false;
  }
  if (text.size() > limit) {
    error = "larger than " + std::to_string(limit / 1024) + " KiB";
    return false;
  }
  return true;
}

bool pending_open(PendingFile& file, const std::string& path, std::string& error) {
  file.path = path;
  struct stat target = {};
  const bool exists = stat(path.c_str(), &target) == 0;
  if (exists && !S_ISREG(target.st_mode)) {
    file.fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (file.fd < 0) error = problem(path, "cannot write");
    return file.fd >= 0;
  }
  if (!follow_links(file.path) || (exists && access(file.path.c_str(), W_OK) != 0)) {
    error = problem(path, "cannot write");
    return false;
  }
  const mode_t mask = umask(0);
  umask(mask);
  file.mode = exists ? target.st_mode & 07777 : 0666 & ~mask;
  const size_t slash = file.path.rfind('/');
  const std::string pattern =
      folder_of(file.path) + "." + file.path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
  if (pattern.size() >= sizeof temporary_name) {
    errno = ENAMETOOLONG;
    error = problem(path, "cannot write beside it");
    return false;
  }
  std::memcpy(temporary_name, pattern.c_str(), pattern.size() + 1);
  // Named before it exists: a signal that ends the process as mkstemp returns finds it to remove.
  temporary_named = true;
  file.fd = mkstemp(temporary_name);
  if (file.fd < 0) {
    temporary_named = false;
    error = problem(path, "cannot write beside it");
    return false;
  }
  file.temporary = temporary_name;
  return true;
}

bool pending_commit(PendingFile& file, const std::string& text, std::string& error) {
  const bool written = write_all(file.fd, text);
  // mkstemp makes the file private; the settings file gets the target's mode, or a new file's.
  const bool kept =
      written && (file.temporary.empty() || (fchmod(file.fd, file.mode) == 0 && fsync(file.fd) == 0));
  const int write_errno = errno;
  const bool closed = close(file.fd) == 0;
  file.fd = -1;
  if (!kept || !closed) {
    errno = kept ? errno : write_errno;
    error = problem(file.path, "cannot write");
    return false;
  }
  if (file.temporary.empty()) return true;
  if (rename(file.temporary.c_str(), file.path.c_str()) != 0) {
    error = problem(file.path, "cannot replace");
    return false;
  }
  file.temporary.clear();
  temporary_named = false;
  return true;
}

void pending_discard(PendingFile& file) {
  if (file.fd >= 0) close(file.fd);
  file.fd = -1;
  if (!file.temporary.empty()) unlink(file.temporary.c_str());
  file.temporary.clear();
  temporary_named = false;
}

void pending_remove_now() {
  if (temporary_named.load()) unlink(temporary_name);
}
