// Whether another thread of this process waits in the kernel: the event that shows it was held up, where
// a test would otherwise pause and then find that nothing happened.
#pragma once
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <string>

inline pid_t this_thread_tid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// True while the thread sleeps (state S in /proc): blocked on a lock, a condition or a wait.
inline bool thread_sleeping(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t name_end = line.rfind(')');
  return name_end != std::string::npos && name_end + 2 < line.size() && line[name_end + 2] == 'S';
}
