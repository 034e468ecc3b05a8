// Internals shared by winevexa.drv's files: the unit, its delivery thread and the entry points
// (driver_winevexa.cpp), and what the output and the input port do with each driver message
// (driver_ports.cpp). Everything here runs with the driver's lock held.
#pragma once
#include <windows.h>

#include <mmsystem.h>

#include <cstddef>
#include <cstdint>
#include <deque>

struct Port {
  bool open = false;
  bool dead = false;  // the unit went away while the port was open: only cleaning up still works
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  HDRVR handle = nullptr;
  DWORD callback_flags = 0;  // DCB_ type: the high word of the open flags
};

// ---- The unit and its delivery (driver_winevexa.cpp) ----

extern Port out_port;
extern Port in_port;
extern std::deque<MIDIHDR*> in_queue;
extern bool in_started;

// True while the unit is connected. Once it is gone, every port that is open stays dead.
bool unit_present();
// The unit receives one message from the program; its replies wait for their time.
void unit_receive(const uint8_t* bytes, size_t length);
// Calls the program back without holding the lock. Data callbacks of the delivery thread are marked,
// so that stopping, resetting or closing the input from another thread waits until one has returned.
void callback_unlocked(const Port& port, DWORD message, DWORD_PTR param1, DWORD_PTR param2);
// Called with the lock held by a thread other than the delivery thread: waits until no data callback
// is running. The lock is let go meanwhile, because the callback queues buffers again.
void wait_for_delivery();
void ensure_delivery_thread();
// The input starts: its time stamps and its time code count from now.
void start_input();

// ---- The ports (driver_ports.cpp): modMessage and midMessage ----

DWORD output_message(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);
DWORD input_message(UINT device, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);
