// The KERNEL32 layer's own contract: thread creation, recursive critical sections and the instrumented
// Sleep. Resources are looked up by the program's own start and the resource tests.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/kernel32_ext.h"
#include "thread_support.h"

namespace {

CRITICAL_SECTION section;
std::atomic<int> holder_state{0};
std::atomic<pid_t> holder_tid{0};

DWORD WINAPI take_section(LPVOID) {
  holder_tid = this_thread_tid();
  holder_state = 1;
  EnterCriticalSection(&section);
  holder_state = 2;
  LeaveCriticalSection(&section);
  return 0;
}

TEST(Kernel32, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  LeaveCriticalSection(&section);

  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, take_section, nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, GetCurrentThreadId());
  while (holder_state.load() == 0) std::this_thread::yield();
  // The other thread either gets in, or waits in the kernel for this one to leave.
  while (holder_state.load() == 1 && !thread_sleeping(holder_tid)) std::this_thread::yield();
  EXPECT_EQ(holder_state.load(), 1) << "the other thread got in while this one still holds the section once";
  LeaveCriticalSection(&section);
  while (holder_state.load() != 2) std::this_thread::yield();
  EXPECT_EQ(CloseHandle(thread), TRUE);
  EXPECT_EQ(CloseHandle(thread), FALSE);
  DeleteCriticalSection(&section);
}

std::atomic<DWORD> worker_id{0};
std::atomic<bool> worker_done{false};

DWORD WINAPI sleeping_worker(LPVOID parameter) {
  worker_id = GetCurrentThreadId();
  Sleep(*static_cast<DWORD*>(parameter));
  worker_done = true;
  return 0;
}

std::vector<DWORD> hooked;
size_t logged_at_hook = 0;

void record_hook(DWORD ms) {
  hooked.push_back(ms);
  logged_at_hook = platform_sleeps().size();
}

TEST(Kernel32, SleepIsLoggedPerThreadHookedAndSpedUp) {
  // An hour of sleeps must pass in milliseconds, or the test runs into its time-out.
  platform_set_sleep_divisor(1000000);
  Sleep(3600000);
  Sleep(0);
  platform_set_sleep_hook(record_hook);
  Sleep(7);
  platform_set_sleep_hook(nullptr);
  Sleep(8);
  std::vector<DWORD> logged;
  for (const PlatformSleep& sleep : platform_sleeps()) {
    EXPECT_EQ(sleep.thread_id, GetCurrentThreadId());
    logged.push_back(sleep.ms);
  }
  EXPECT_EQ(logged, (std::vector<DWORD>{3600000, 0, 7, 8}));
  EXPECT_EQ(hooked, std::vector<DWORD>{7});
  EXPECT_EQ(logged_at_hook, 3u) << "the hook runs after the pause is logged";
  platform_clear_sleeps();
  EXPECT_TRUE(platform_sleeps().empty());

  // A thread made with CreateThread logs under the id that CreateThread reported.
  DWORD pause = 2000;
  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, sleeping_worker, &pause, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread)) << "the thread runs on without its handle";
  while (!worker_done.load()) std::this_thread::yield();
  EXPECT_EQ(worker_id.load(), id);
  ASSERT_EQ(platform_sleeps().size(), 1u);
  EXPECT_EQ(platform_sleeps()[0].thread_id, id);
  EXPECT_EQ(platform_sleeps()[0].ms, 2000u);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

}  // namespace
