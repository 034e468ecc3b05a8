#include "hosts/shell/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string problem(const std::string& path, const char* what) {
  return path + ": " + what + ": " + std::strerror(errno);
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
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = folder + "." + name + ".XXXXXX";
  file.fd = mkstemp(pattern.data());
  if (file.fd < 0) {
    error = problem(path, "cannot write beside it");
    return false;
  }
  file.path = path;
  file.temporary = pattern;
  return true;
}

bool pending_commit(PendingFile& file, const std::string& text, std::string& error) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t done = write(file.fd, text.data() + written, text.size() - written);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      error = problem(file.path, "cannot write");
      return false;
    }
    written += size_t(done);
  }
  // The settings file is readable like any other file the user makes (mkstemp makes it private).
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(file.fd, 0666 & ~mask) != 0 || fsync(file.fd) != 0 || close(file.fd) != 0) {
    file.fd = -1;
    error = problem(file.path, "cannot write");
    return false;
  }
  file.fd = -1;
  if (rename(file.temporary.c_str(), file.path.c_str()) != 0) {
    error = problem(file.path, "cannot replace");
    return false;
  }
  file.temporary.clear();
  return true;
}

void pending_discard(PendingFile& file) {
  if (file.fd >= 0) close(file.fd);
  file.fd = -1;
  if (!file.temporary.empty()) unlink(file.temporary.c_str());
  file.temporary.clear();
}
