// The KERNEL32 layer's own contract: resource look-up by ordinal, "#number" and name, modules, thread
// creation, recursive critical sections and the instrumented Sleep.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/kernel32_ext.h"
#include "resource.h"

namespace {

TEST(Kernel32, FindsResourcesByOrdinalAndByNameInAnyCase) {
  const HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(GetModuleHandleA(nullptr), program);

  const HRSRC dialog = FindResourceA(program, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG), dialog);
  EXPECT_EQ(FindResourceA(program, "#101", "#5"), dialog);
  EXPECT_GT(SizeofResource(program, dialog), 0u);

  const HRSRC firmware = FindResourceA(program, "FirmwareFile", "BINTYPE");
  ASSERT_NE(firmware, nullptr);
  EXPECT_EQ(FindResourceA(program, "FIRMWAREFILE", "bintype"), firmware);
  EXPECT_EQ(SizeofResource(program, firmware), 72761u);
  const HGLOBAL loaded = LoadResource(program, firmware);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(LockResource(loaded), loaded);
  EXPECT_EQ(FreeResource(loaded), FALSE);
  EXPECT_EQ(LockResource(LoadResource(program, firmware)), loaded) << "the data stays where it is";

  EXPECT_EQ(FindResourceA(program, "FirmwareFil", "BINTYPE"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceA(program, "FirmwareFile", RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(FindResourceA(program, MAKEINTRESOURCE(102), RT_DIALOG), nullptr);
  EXPECT_EQ(FindResourceA(program, MAKEINTRESOURCE(IDD_MAIN), RT_BITMAP), nullptr);
  EXPECT_EQ(FindResourceA(program, "101", RT_DIALOG), nullptr) << "a name is not a number without '#'";
  EXPECT_EQ(LoadResource(program, nullptr), nullptr);
  EXPECT_EQ(LockResource(nullptr), nullptr);
  EXPECT_EQ(SizeofResource(program, nullptr), 0u);

  // Other modules: registered .res blobs, the common-control library, unknown handles and names.
  const auto resources = platform_module_resources(program);
  ASSERT_FALSE(resources.empty());
  const BYTE garbage[40] = {1, 2, 3};
  EXPECT_EQ(platform_register_module(garbage, sizeof garbage), nullptr);
  EXPECT_EQ(platform_register_module(nullptr, 0), nullptr);
  const HMODULE comctl32 = LoadLibraryA("COMCTL32.DLL");
  ASSERT_NE(comctl32, nullptr);
  EXPECT_NE(comctl32, program);
  EXPECT_EQ(LoadLibraryA("comctl32.dll"), comctl32);
  EXPECT_EQ(GetModuleHandleA("Comctl32.dll"), comctl32);
  EXPECT_EQ(FindResourceA(comctl32, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG), nullptr);
  EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(GetModuleHandleA("nosuch.dll"), nullptr);
  int not_a_module = 0;
  EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(&not_a_module), MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG),
            nullptr);
  EXPECT_EQ(LoadIconA(reinterpret_cast<HMODULE>(&not_a_module), MAKEINTRESOURCE(IDI_APP)), nullptr);
}

CRITICAL_SECTION section;
std::atomic<int> holder_state{0};

DWORD WINAPI take_section(LPVOID) {
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
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
  Sleep(50);
  std::vector<PlatformSleep> log = platform_sleeps();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].ms, 3600000u);
  EXPECT_EQ(log[1].ms, 0u);
  EXPECT_EQ(log[2].ms, 50u);
  EXPECT_EQ(log[0].thread_id, GetCurrentThreadId());
  EXPECT_EQ(log[1].sequence, log[0].sequence + 1);
  EXPECT_EQ(log[2].sequence, log[1].sequence + 1);

  const uint64_t last_sequence = log[2].sequence;
  platform_clear_sleeps();
  EXPECT_TRUE(platform_sleeps().empty());
  platform_set_sleep_hook(record_hook);
  Sleep(7);
  platform_set_sleep_hook(nullptr);
  Sleep(8);
  ASSERT_EQ(hooked.size(), 1u);
  EXPECT_EQ(hooked[0], 7u);
  EXPECT_EQ(logged_at_hook, 1u) << "the hook runs after the pause is logged";
  log = platform_sleeps();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].sequence, last_sequence + 1) << "sequence numbers are not reset by clearing";

  // A thread made with CreateThread logs under the id that CreateThread reported.
  platform_clear_sleeps();
  DWORD pause = 2000;
  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, sleeping_worker, &pause, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread)) << "the thread runs on without its handle";
  while (!worker_done.load()) std::this_thread::yield();
  EXPECT_EQ(worker_id.load(), id);
  log = platform_sleeps();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].thread_id, id);
  EXPECT_EQ(log[0].ms, 2000u);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

}  // namespace
