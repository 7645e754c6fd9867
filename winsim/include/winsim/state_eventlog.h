// The Application event log and the handles that RegisterEventSourceW gives out.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include "winsim/types.h"

namespace winsim {

// One event as ReportEventW wrote it.
struct EventRecord {
  std::u16string source;
  WORD type = 0;
  WORD category = 0;
  DWORD id = 0;
  std::vector<std::u16string> strings;
};

struct EventLogState {
  std::vector<EventRecord> application;        // in the order they were written
  std::map<uintptr_t, std::u16string> handles;  // open event source handles and their source
  uintptr_t nextHandle = 0xE0000;
};

// Longest insertion string ReportEventW accepts (Windows Vista and later).
const size_t kMaxEventStringLength = 31839;

}  // namespace winsim
