// Keys under which the model files names that Windows compares without regard to case: ASCII
// upper case (the names the product and the tests use are ASCII). Not part of winsim's interface.
#pragma once
#include <string>

namespace winsim {

inline char16_t UpperChar(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

inline std::u16string UpperCopy(const std::u16string& text) {
  std::u16string out = text;
  for (auto& c : out) c = UpperChar(c);
  return out;
}

// The same as comparing the two keys, without building them.
inline bool SameNoCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

inline std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace winsim
