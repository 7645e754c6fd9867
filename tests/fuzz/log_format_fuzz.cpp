// Log lines carry texts from the machine: printer names, port lists, paths, system messages. The
// formatter must cut them at the line's end and never write past it, whatever the format holds
// (stray '%', unknown conversions, many %s) and whatever the texts hold (unpaired surrogates, lengths
// around the 1024-unit line). Each input is checked against a plain model of the formatter: the
// output is the model's text cut to the room, always terminated, and the log line is exactly that
// line with its indent and line end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/installer_state.h"
#include "app/log.h"
#include "support/wide_format.h"
#include "winsim/machine.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

// Reads the input front to back; past its end every read gives 0.
struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  char16_t Unit() {
    const uint8_t low = Byte();
    return static_cast<char16_t>(low | (Byte() << 8));
  }
};

const size_t kTexts = 6;

// A text of a length near the line's room (or short), filled with units the input chooses:
// surrogates of either half, '%' and plain characters. Never contains a terminator.
std::u16string MakeText(Reader& in) {
  static const size_t kLengths[] = {0, 1, 2, 511, 1000, 1010, 1012, 1013, 1022, 1023, 1024, 1025, 2047, 2048, 4100};
  const uint8_t pick = in.Byte();
  size_t length = kLengths[pick % (sizeof(kLengths) / sizeof(kLengths[0]))];
  if (pick & 0x80) length = pick & 0x7f;
  const char16_t fill = in.Unit();
  const char16_t odd = in.Unit();
  std::u16string text(length, fill ? fill : u'a');
  if (length) text[length - 1] = odd ? odd : u'b';               // the unit at the cut
  if (length > 1) text[length / 2] = static_cast<char16_t>(0xD800 | (odd & 0x7ff));  // a lone surrogate
  return text;
}

// The model: what FormatWide writes with an unlimited room.
std::u16string ModelStrings(const std::u16string& format, const char16_t* const* texts) {
  std::u16string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      out += format[i];
      continue;
    }
    if (++i == format.size()) break;  // a stray '%' at the end is dropped
    const char16_t c = format[i];
    if (c == u's') {
      const char16_t* text = texts[next++];
      if (text) {
        out += text;
      } else {
        out += u"(null)";
      }
    } else if (c == u'%') {
      out += u'%';
    } else {
      out += u'%';
      out += c;
    }
  }
  return out;
}

std::u16string ModelNumbers(const std::u16string& format, const int* numbers) {
  std::u16string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      out += format[i];
      continue;
    }
    if (++i == format.size()) break;
    const char16_t c = format[i];
    std::string digits;
    if (c == u'd') {
      digits = std::to_string(numbers[next++]);
    } else if (c == u'u') {
      digits = std::to_string(static_cast<unsigned>(numbers[next++]));
    } else if (c == u'x') {
      static const char kHex[] = "0123456789abcdef";
      unsigned value = static_cast<unsigned>(numbers[next++]);
      do {
        digits.insert(digits.begin(), kHex[value % 16]);
        value /= 16;
      } while (value);
    } else if (c == u'%') {
      digits = "%";
    } else {
      out += u'%';
      out += c;
    }
    for (char d : digits) out += static_cast<char16_t>(d);
  }
  return out;
}

// A format of the input's choosing whose conversions are only of `kinds` (at most `slots` of them
// take an argument), with literal units, "%%", unknown conversions and a possible stray '%' at the end.
std::u16string MakeFormat(Reader& in, const char16_t* kinds, size_t kindCount, size_t slots) {
  std::u16string format;
  size_t used = 0;
  const size_t pieces = in.Byte() % 24;
  for (size_t p = 0; p < pieces; ++p) {
    const uint8_t choice = in.Byte();
    switch (choice % 5) {
      case 0:
      case 1:
        if (used < slots) {
          format += u'%';
          format += kinds[(choice >> 3) % kindCount];
          ++used;
        }
        break;
      case 2:
        format += u"%%";
        break;
      case 3: {
        const char16_t unknown = in.Unit();
        // Only conversions that take no argument: anything but the known ones and the terminator.
        if (unknown && unknown != u'd' && unknown != u'u' && unknown != u'x' && unknown != u's') {
          format += u'%';
          format += unknown;
        }
        break;
      }
      default: {
        const char16_t unit = in.Unit();
        if (unit && unit != u'%') format += std::u16string(1 + (choice >> 3) * 8, unit);
        break;
      }
    }
  }
  if (in.Byte() & 1) format += u'%';
  return format;
}

// The buffer in a heap block of exactly `capacity` units, so that ASan sees a write beyond it.
void CheckFormatted(const std::u16string& expected, size_t capacity, size_t written, const char16_t* out) {
  const size_t kept = capacity == 0 ? 0 : (expected.size() < capacity - 1 ? expected.size() : capacity - 1);
  Check(written == kept);
  if (capacity == 0) return;
  Check(out[kept] == 0);
  Check(std::memcmp(out, expected.data(), kept * sizeof(char16_t)) == 0);
}

std::u16string LogOf(InstallerState* state) {
  const LPCWSTR text = Text(state->logText);
  return text ? std::u16string(text, Length(state->logText)) : std::u16string();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  static const size_t kCapacities[] = {0, 1, 2, 3, 16, 1023, 1024, 1025};
  const size_t capacity = kCapacities[in.Byte() % (sizeof(kCapacities) / sizeof(kCapacities[0]))];
  const int depth = static_cast<int8_t>(in.Byte()) % 16;

  std::vector<std::u16string> texts;
  const char16_t* pointers[kTexts];
  for (size_t i = 0; i < kTexts; ++i) texts.push_back(MakeText(in));
  const uint8_t nulls = in.Byte();
  for (size_t i = 0; i < kTexts; ++i) pointers[i] = (nulls >> i) & 1 ? nullptr : texts[i].c_str();
  int numbers[kTexts];
  for (size_t i = 0; i < kTexts; ++i) {
    const uint32_t value = in.Byte() | (in.Byte() << 8) | (in.Byte() << 16) | (static_cast<uint32_t>(in.Byte()) << 24);
    numbers[i] = static_cast<int>(value);
  }
  static const char16_t kStringKinds[] = {u's'};
  static const char16_t kNumberKinds[] = {u'd', u'u', u'x'};
  const std::u16string stringFormat = MakeFormat(in, kStringKinds, 1, kTexts);
  const std::u16string numberFormat = MakeFormat(in, kNumberKinds, 3, kTexts);

  // FormatWide into a block of exactly the capacity.
  {
    const std::u16string expected = ModelStrings(stringFormat, pointers);
    char16_t* out = capacity ? new char16_t[capacity] : nullptr;
    const size_t written = FormatWide(out, capacity, stringFormat.c_str(), pointers[0], pointers[1], pointers[2],
                                      pointers[3], pointers[4], pointers[5]);
    CheckFormatted(expected, capacity, written, out);
    delete[] out;
  }
  {
    const std::u16string expected = ModelNumbers(numberFormat, numbers);
    char16_t* out = capacity ? new char16_t[capacity] : nullptr;
    const size_t written = FormatWide(out, capacity, numberFormat.c_str(), numbers[0], numbers[1], numbers[2],
                                      numbers[3], numbers[4], numbers[5]);
    CheckFormatted(expected, capacity, written, out);
    delete[] out;
  }

  // LogLine and LogError on a bare state: a line is cut to 1023 units, then indented and ended.
  winsim::Reset();
  InstallerState state;
  std::memset(&state, 0, sizeof(state));
  state.depth = depth;
  const int levels = depth < 0 ? 0 : (depth < 10 ? depth : 10);
  const std::u16string indent(2 * static_cast<size_t>(levels), u' ');

  LogLine(&state, stringFormat.c_str(), pointers[0], pointers[1], pointers[2], pointers[3], pointers[4], pointers[5]);
  std::u16string line = ModelStrings(stringFormat, pointers).substr(0, 1023);
  std::u16string expectedLog = indent + line + u"\r\n";
  Check(LogOf(&state) == expectedLog);
  Check(state.errorCount == 0);

  const DWORD systemError = (in.Byte() & 1) ? 0 : 5;  // with or without the system's own text
  winsim::M().lastError = systemError;
  LogError(&state, static_cast<DWORD>(numbers[0]), numberFormat.c_str(), numbers[0], numbers[1], numbers[2],
           numbers[3], numbers[4], numbers[5]);
  Check(state.errorCount == 1);
  Check(winsim::M().lastError == systemError);  // the failure stays readable after it is logged
  const std::u16string log = LogOf(&state);
  Check(log.size() >= expectedLog.size() + indent.size() + 2);
  const std::u16string errorLine = log.substr(expectedLog.size() + indent.size());
  Check(errorLine.size() <= 1023 + 2);
  Check(errorLine.compare(0, 6, u"Error(") == 0 || errorLine.size() == 2);
  Check(errorLine.compare(errorLine.size() - 2, 2, u"\r\n") == 0);

  FreeInstallerState(&state);
  Check(winsim::M().localBlocks == 0);
  return 0;
}
