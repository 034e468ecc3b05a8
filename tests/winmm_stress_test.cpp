// Opening and closing the input over and over while the simulated unit floods it with replies, the way
// the program uses it: two headers prepared and queued, started, a callback that hands the other buffer
// back; then stop, unprepare, reset and close. Bounded by a watchdog; meant to run under TSan too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "midi_test_support.h"

namespace {

// Ends the process when the test has not finished in time (a deadlock shows as a failed test).
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> hold(lock_);
          if (!changed_.wait_for(hold, limit, [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: the test did not finish in %lld s\n",
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

struct Receiver {
  std::atomic<HMIDIIN> port{nullptr};
  char buffer_1[512] = {};
  char buffer_2[512] = {};
  MIDIHDR header_1{};
  MIDIHDR header_2{};
  std::atomic<bool> closed{false};
  std::atomic<int> after_close{0};
  std::atomic<int> decoded{0};
  std::atomic<int> malformed{0};

  static void CALLBACK on_input(HMIDIIN, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto* self = reinterpret_cast<Receiver*>(instance);
    if (self->closed) ++self->after_close;
    if (msg != MIM_LONGDATA && msg != MIM_LONGERROR) return;
    const MIDIHDR* returned = reinterpret_cast<const MIDIHDR*>(param1);
    const auto* data = reinterpret_cast<const uint8_t*>(returned->lpData);
    const DWORD recorded = returned->dwBytesRecorded;
    MIDIHDR* other = returned->lpData == self->buffer_1 ? &self->header_2 : &self->header_1;
    midiInAddBuffer(self->port.load(), other, sizeof *other);
    if (msg != MIM_LONGDATA || recorded == 0 || data[recorded - 1] != 0xF7) return;
    // Every complete message is one of the two that the flood sends, without the clock bytes.
    const bool brightness = recorded == 6 && data[3] == 0x66 && data[4] == 0x08;
    const bool trvx = recorded == 6 && data[3] == 0x6D && data[4] == 0x01;
    const bool foreign = recorded == 6 && data[1] == 0x7E;
    if (data[0] == 0xF0 && (brightness || trvx || foreign)) {
      ++self->decoded;
    } else {
      ++self->malformed;
    }
  }
};

TEST(WinmmStress, InputOpenCloseCyclesUnderFlood) {
  constexpr int CYCLES = 1000;
  Watchdog watchdog(std::chrono::seconds(240));
  SimSetup setup;
  setup.unit.reply_latency_us = 0;
  setup.unit.noise = SIM_NOISE_QUARTER_FRAME | SIM_NOISE_REALTIME | SIM_NOISE_FOREIGN_SYSEX;
  winmm_use_backend(sim_start(setup));
  HMIDIOUT out = nullptr;
  ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);

  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    for (int n = 1; flooding; ++n) {
      EXPECT_EQ(send_long(out, {0xF0, 0x2C, 0x4D, 0x56, 0x7F, 0xF7}), MMSYSERR_NOERROR);
      sim_inject(0, {0xF0, 0x2C, 0x4D, 0x6D, 0xF8, 0x01, 0xF7, 0xF1, 0x22});
      if (n % 16 == 0) sim_flush();  // keeps the backlog small
    }
  });

  Receiver receiver;
  const auto start = std::chrono::steady_clock::now();
  for (int cycle = 0; cycle < CYCLES; ++cycle) {
    HMIDIIN port = nullptr;
    receiver.closed = false;
    ASSERT_EQ(midiInOpen(&port, 0, reinterpret_cast<DWORD_PTR>(&Receiver::on_input),
                         reinterpret_cast<DWORD_PTR>(&receiver), CALLBACK_FUNCTION | MIDI_IO_STATUS),
              MMSYSERR_NOERROR);
    receiver.port = port;
    receiver.header_1 = MIDIHDR{receiver.buffer_1, 512, 0, 0, 0, nullptr, 0, 0, {}};
    receiver.header_2 = MIDIHDR{receiver.buffer_2, 512, 0, 0, 0, nullptr, 0, 0, {}};
    ASSERT_EQ(midiInPrepareHeader(port, &receiver.header_1, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInPrepareHeader(port, &receiver.header_2, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(port, &receiver.header_1, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(port, &receiver.header_2, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(port), MMSYSERR_NOERROR);
    for (int i = 0; i < cycle % 8; ++i) std::this_thread::yield();

    // The program's order: flag words cleared first, while the input thread may still be handing a
    // header back (hence atomically), then stop.
    std::atomic_ref<DWORD>(receiver.header_1.dwFlags).store(0);
    std::atomic_ref<DWORD>(receiver.header_2.dwFlags).store(0);
    ASSERT_EQ(midiInStop(port), MMSYSERR_NOERROR);
    while (midiInUnprepareHeader(port, &receiver.header_1, sizeof(MIDIHDR)) == MIDIERR_STILLPLAYING) {
    }
    while (midiInUnprepareHeader(port, &receiver.header_2, sizeof(MIDIHDR)) == MIDIERR_STILLPLAYING) {
    }
    ASSERT_EQ(midiInReset(port), MMSYSERR_NOERROR);
    MMRESULT closed = MIDIERR_STILLPLAYING;
    while (closed == MIDIERR_STILLPLAYING) closed = midiInClose(port);
    ASSERT_EQ(closed, MMSYSERR_NOERROR);
    receiver.closed = true;
  }
  const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  flooding = false;
  flood.join();
  sim_flush();
  EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);

  std::printf("%d open/close cycles in %.2f s, %d messages decoded\n", CYCLES, elapsed,
              receiver.decoded.load());
  EXPECT_GT(receiver.decoded, 0);
  EXPECT_EQ(receiver.malformed, 0);
  EXPECT_EQ(receiver.after_close, 0);
}

}  // namespace
