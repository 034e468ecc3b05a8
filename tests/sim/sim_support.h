// Printers for the simulated unit's tests: a failing comparison shows the name of a result with its value.
#pragma once
#include <cstdint>
#include <ostream>

#include "sim/unit/options.h"

inline const char* sim_option_result_name(SimOptionResult result) {
  switch (result) {
    case SIM_OPTION_OK:
      return "SIM_OPTION_OK";
    case SIM_OPTION_UNKNOWN:
      return "SIM_OPTION_UNKNOWN";
    case SIM_OPTION_MISSING_VALUE:
      return "SIM_OPTION_MISSING_VALUE";
    case SIM_OPTION_BAD_VALUE:
      return "SIM_OPTION_BAD_VALUE";
  }
  return "no SimOptionResult";
}

inline void PrintTo(SimOptionResult result, std::ostream* out) {
  *out << sim_option_result_name(result) << " (" << static_cast<int32_t>(result) << ")";
}
