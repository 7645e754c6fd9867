// Port texts come from the spooler, that is from whoever named the ports. Switching the product
// port to "file:" and back must never write outside the text's own block, and a round trip must
// give back the text it started from. The input is a port text (UTF-16, little-endian); its first
// two bytes also choose a room and an offset for a way back that no switch prepared.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "monitor/port_switch.h"

namespace {
// A copy of the text in a heap block of exactly `room` units, so that ASan sees any write beyond.
char16_t* Block(const std::vector<char16_t>& text, size_t room) {
  char16_t* block = new char16_t[room];
  std::memset(block, 0, room * sizeof(char16_t));
  const size_t units = room < text.size() ? room : text.size();
  if (units) std::memcpy(block, text.data(), units * sizeof(char16_t));
  block[room - 1] = 0;
  return block;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t roomExtra = data[0];
  const uint8_t offset = data[1];
  std::vector<char16_t> text;
  for (size_t i = 2; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  const size_t length = text.size();
  text.push_back(0);  // compared with its terminator, and never an empty vector

  // Round trip in a block of exactly the text's room.
  char16_t* port = Block(text, length + 1);
  RepointedPort switched = {0, 0, {0}};
  if (SwitchPortToFile(port, &switched)) {
    if (switched.room != length + 1) std::abort();
    if (!SwitchPortBack(port, switched)) std::abort();
    if (std::memcmp(port, text.data(), (length + 1) * sizeof(char16_t)) != 0) std::abort();
    if (SwitchPortBack(port, switched)) std::abort();  // no room left for a second way back
  } else if (std::memcmp(port, text.data(), (length + 1) * sizeof(char16_t)) != 0) {
    std::abort();  // nothing to switch, nothing changed
  }
  delete[] port;

  // A way back with a room and offset the switch never gave: it may only write within the room.
  const size_t room = length + 1 + (roomExtra % 32);
  char16_t* loose = Block(text, room);
  SwitchPortBack(loose, RepointedPort{offset, static_cast<DWORD>(room), {0}});
  delete[] loose;
  return 0;
}
