// A whole upload of the stand-in image, through the program's dialog, worker and transmitter and the
// Linux layer, against the simulated unit answering every message after a latency L. Prints, for each L:
// the wall time, packets per second, the ratio to the protocol's floor (messages x L + erase time), the
// heap allocations made anywhere in the process while the packets are written, and CPU time per packet.
#include <windows.h>

#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "app/app.h"
#include "hosts/headless/headless.h"
#include "platform/midi/sim/midi_sim.h"
#include "platform/win32/kernel32_ext.h"
#include "platform/win32/user32_ext.h"
#include "platform/win32/winmm_ext.h"
#include "resource.h"

// Every allocation of the process is counted; operator new allocates through malloc.
std::atomic<uint64_t> allocations{0};

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);
extern "C" void* malloc(size_t size) {
  ++allocations;
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  ++allocations;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
  ++allocations;
  return __libc_realloc(p, size);
}

namespace {

constexpr int PACKETS = 2488;
constexpr int MESSAGES = PACKETS + 4;  // status query, erase, packets, status query, finish
constexpr uint32_t ERASE_US = 200000;

// The write stage runs from the last erase pause to the first pause of the verify stage.
std::atomic<uint64_t> write_start_allocations{0};
std::atomic<uint64_t> write_end_allocations{0};
std::atomic<int64_t> write_start_cpu_ns{0};
std::atomic<int64_t> write_end_cpu_ns{0};
std::atomic<bool> writing{false};

int64_t process_cpu_ns() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void mark_stages(DWORD ms) {
  if (ms == 200) {
    write_start_allocations = allocations.load();
    write_start_cpu_ns = process_cpu_ns();
    writing = true;
  } else if (ms == 50 && writing.exchange(false)) {
    write_end_allocations = allocations.load();
    write_end_cpu_ns = process_cpu_ns();
  }
}

void upload(benchmark::State& state) {
  const uint32_t latency_ms = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    SimSetup setup;
    setup.unit.mode = SimMode::Boot;
    setup.unit.reply_latency_us = latency_ms * 1000;
    setup.unit.erase_time_us = ERASE_US;
    setup.unit.keep_history = false;  // the copy of every message is for tests; an upload needs none
    winmm_use_backend(sim_start(setup));
    user32_set_manual_timers(true);
    platform_set_sleep_hook(mark_stages);
    headless_start(WinMain);
    headless_wait_dialog();
    headless_combo_open(IDC_PORT_COMBO);
    headless_combo_choose(IDC_PORT_COMBO, 0);
    user32_advance_timers(PRESENCE_PERIOD_MS);
    headless_wait_idle();

    auto start = std::chrono::steady_clock::now();
    headless_click(IDC_UPDATE_BUTTON);
    bool done = headless_wait_until([] { return headless_text(IDC_STATUS_TEXT) == "Programming successful"; },
                                    120000);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (!done || sim_unit_snapshot().next_packet != PACKETS)
      state.SkipWithError("the upload did not succeed");

    double floor_s = (MESSAGES * latency_ms * 1000.0 + ERASE_US) / 1e6;
    state.counters["packets_per_s"] = PACKETS / seconds;
    state.counters["ratio_to_floor"] = latency_ms == 0 ? 0.0 : seconds / floor_s;
    state.counters["allocs_per_packet"] =
        static_cast<double>(write_end_allocations - write_start_allocations) / PACKETS;
    state.counters["cpu_us_per_packet"] = (write_end_cpu_ns - write_start_cpu_ns) / 1000.0 / PACKETS;

    headless_wait_until([] { return headless_text(IDC_STATUS_TEXT) == " "; }, 10000);
    headless_close();
    headless_exit_code();
    platform_set_sleep_hook(nullptr);
  }
}

BENCHMARK(upload)
    ->ArgName("latency_ms")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(5)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
