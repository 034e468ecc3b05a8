// `vexa list` and `vexa diagnose`: what the MIDI system shows the program, and for a support request the
// versions, the unit's state and how fast it answers.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/app.h"
#include "hosts/shell/commands.h"
#include "hosts/shell/program_info.h"
#include "hosts/shell/session.h"
#include "midi/midi.h"
#include "protocol/protocol.h"

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

constexpr int STATUS_QUERIES = 20;
// As long as the upload gives the unit for a status answer: 9 looks 50 ms apart.
constexpr auto ANSWER_WAIT = std::chrono::milliseconds(450);
constexpr auto LOOK_PAUSE = std::chrono::microseconds(20);

struct RoundTrips {
  int sent = 0;
  std::vector<double> ms;  // of the answered queries, sorted
};

// Round-trip times of status queries, which the dialog never measures; beside the program, with its own
// parts: its status query (send_message, through send_sysex), timed until its decoder has stored the
// unit's status reply in last_reply, cleared before each send as the upload worker clears it. The queries
// follow each other with the program's pause after a message.
RoundTrips time_status_queries() {
  RoundTrips trips;
  for (; trips.sent < STATUS_QUERIES && !interrupted(); ++trips.sent) {
    last_reply = 0;
    const Clock::time_point start = Clock::now();
    send_message(MSG_STATUS_QUERY);
    for (;;) {
      const uint8_t reply = last_reply.load();
      const Clock::duration elapsed = Clock::now() - start;
      if (is_boot_reply(reply) || reply == REPLY_RUNNING) {
        // Microseconds are all that a clock read between two looks tells.
        const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
        trips.ms.push_back(std::round(ms * 1000) / 1000);
        break;
      }
      if (elapsed > ANSWER_WAIT) break;
      std::this_thread::sleep_for(LOOK_PAUSE);
    }
    Sleep(MESSAGE_PAUSE_MS);
  }
  std::sort(trips.ms.begin(), trips.ms.end());
  return trips;
}

double median(const std::vector<double>& sorted) {
  const size_t n = sorted.size();
  return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

Json listing_json(const MidiListing& listing) {
  Json outputs = Json::array();
  for (const MidiPort& port : listing.outputs) {
    outputs.push_back(
        {{"index", port.index},
         {"name", port.name},
         {"paired_input", port.paired_input != NO_MATCHING_INPUT ? Json(port.paired_input) : Json(nullptr)}});
  }
  Json inputs = Json::array();
  for (const MidiPort& port : listing.inputs) inputs.push_back({{"index", port.index}, {"name", port.name}});
  return {{"midi",
           {{"service", listing.service},
            {"problem", listing.problem.empty() ? Json(nullptr) : Json(listing.problem)}}},
          {"outputs", outputs},
          {"inputs", inputs}};
}

Json unit_json(const ShownUnit& unit, const RoundTrips& trips) {
  const bool present = unit.state != UnitState::Absent;
  Json object = {{"state", unit_state_name(unit.state)},
                 {"firmware", unit.firmware.empty() ? Json(nullptr) : Json(unit.firmware)},
                 {"port", present ? Json(connected_port()) : Json(nullptr)}};
  if (!present) return object;
  Json times = {{"queries", trips.sent}, {"answered", trips.ms.size()}};
  if (!trips.ms.empty()) {
    times["min"] = trips.ms.front();
    times["median"] = median(trips.ms);
    times["max"] = trips.ms.back();
  }
  object["round_trip_ms"] = times;
  return object;
}

void print_text(const MidiListing& listing, const ShownUnit& unit, const RoundTrips& trips) {
  std::FILE* out = streams().out;
  std::fprintf(out, "Program: %s (Linux terminal), firmware image %s\n", program_caption().c_str(),
               firmware_image_version().c_str());
  print_listing(out, listing);
  if (listing.problem.empty()) std::fprintf(out, "MIDI service state: reachable\n");
  if (unit.state == UnitState::Absent) {
    std::fprintf(out, "Unit: absent\n");
    return;
  }
  std::fprintf(out, "Unit: %s on %s\n", unit_state_text(unit).c_str(), connected_port().c_str());
  std::fprintf(out, "Round trip of %d status queries: ", trips.sent);
  if (trips.ms.empty()) {
    std::fprintf(out, "none answered\n");
    return;
  }
  std::fprintf(out, "min %.2f ms, median %.2f ms, max %.2f ms (%zu answered)\n", trips.ms.front(),
               median(trips.ms), trips.ms.back(), trips.ms.size());
}

}  // namespace

int command_list(const CommandLine&) {
  print_listing(streams().out, midi_listing());
  return EXIT_DONE;
}

int command_diagnose(const CommandLine& line) {
  const MidiListing listing = midi_listing();
  ShownUnit unit{UnitState::Absent, ""};
  RoundTrips trips;
  int code = program_start(nullptr);
  if (code == EXIT_DONE) code = connect_unit(line.port, {}, unit);
  if (code == EXIT_DONE) trips = time_status_queries();
  if (code < EXIT_SIGNAL_BASE && !interrupted()) {
    if (!line.json) {
      print_text(listing, unit, trips);
    } else {
      Json report = {{"program", program_caption()},
                     {"platform", "Linux terminal"},
                     {"firmware_image", firmware_image_version()}};
      report.update(listing_json(listing));
      report["unit"] = unit_json(unit, trips);
      std::fprintf(streams().out, "%s\n", report.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
    }
  }
  return program_end(code);
}
