#include <gtest/gtest.h>

#include <cstdlib>

#include "support/counted_string.h"
#include "winsim_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* block);
#else
#include <malloc.h>
#endif

namespace {
// The size of the string's block as the C heap holds it (without the sanitizer, glibc's usable
// size, which is the size asked for at the sizes used here).
uint64_t Bytes(const CountedString& s) {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_allocated_size(s);
#else
  return malloc_usable_size(static_cast<void*>(s));
#endif
}

CountedString Make(const char16_t* text) {
  CountedString s = nullptr;
  Assign(s, text);
  return s;
}
}  // namespace

using CountedStringTest = MachineTest;

TEST_F(CountedStringTest, GrowsInStepsOf32AndReallocatesOnlyWhenTheStepChanges) {
  CountedString s = Make(u"0123456789");
  const void* block = s;
  EXPECT_EQ(72u, Bytes(s));
  Append(s, u"012345678901234567890");  // length 31: the terminator is the 32nd unit
  EXPECT_EQ(31u, Length(s));
  EXPECT_EQ(block, static_cast<const void*>(s));
  EXPECT_EQ(72u, Bytes(s));
  Append(s, u"x");  // length 32 needs the next step
  EXPECT_EQ(136u, Bytes(s));
  EXPECT_EQ(u'\0', Text(s)[32]);
  Resize(s, 40);  // shrinking or growing within the step keeps the block
  const void* block64 = s;
  Resize(s, 33);
  EXPECT_EQ(block64, static_cast<const void*>(s));
  Release(s);
}

TEST_F(CountedStringTest, NullIsTheOnlyEmptyString) {
  CountedString s = Make(u"abc");
  Resize(s, 0);
  EXPECT_EQ(nullptr, s);
  EXPECT_EQ(0u, Length(s));
  EXPECT_STREQ("", Narrow(Text(s)).c_str());
  s = Make(u"abc");
  Assign(s, static_cast<LPCWSTR>(nullptr));
  EXPECT_EQ(nullptr, s);
  s = Make(u"abc");
  Assign(s, u"");
  EXPECT_EQ(nullptr, s);
  Append(s, u"");
  EXPECT_EQ(nullptr, s);
  Append(s, u"tail");
  EXPECT_EQ("tail", Narrow(Text(s)));
  Release(s);
  EXPECT_EQ(nullptr, FromAnsi(""));
}

TEST_F(CountedStringTest, FromAnsiUsesTheSystemCodePage) {
  CountedString s = FromAnsi("mbltray.exe");
  EXPECT_EQ("mbltray.exe", Narrow(Text(s)));
  Release(s);
  s = FromAnsi("\x80");  // the euro sign in code page 1252
  ASSERT_EQ(1u, Length(s));
  EXPECT_EQ(0x20AC, Text(s)[0]);
  Release(s);
  s = FromAnsi("Caf\xe9");  // precomposed: one unit for the accented letter
  ASSERT_EQ(4u, Length(s));
  EXPECT_EQ(0xE9, Text(s)[3]);
  Release(s);
}

TEST_F(CountedStringTest, ParentFolderPrefersAnyBackslash) {
  struct Case {
    const char16_t* path;
    const char* parent;  // null: no parent
  } cases[] = {
      {u"C:\\dir\\file.exe", "C:\\dir"}, {u"C:\\dir\\", "C:\\dir"}, {u"a/b\\c", "a/b"}, {u"a\\b/c", "a"},
      {u"\\file", nullptr},              {u"file.exe", nullptr},    {u"C:", nullptr},   {u"a/b/c", "a/b"},
  };
  for (const Case& c : cases) {
    CountedString s = Make(c.path);
    CountedString parent = ParentFolder(s);
    if (c.parent) {
      EXPECT_EQ(c.parent, Narrow(Text(parent))) << Narrow(c.path);
    } else {
      EXPECT_EQ(nullptr, parent) << Narrow(c.path);
    }
    Release(parent);
    Release(s);
  }
}

TEST_F(CountedStringTest, TrailingSeparators) {
  CountedString s = Make(u"C:\\dir\\");
  DropTrailingSeparator(s);
  EXPECT_EQ("C:\\dir", Narrow(Text(s)));
  AddTrailingSeparator(s);
  EXPECT_EQ("C:\\dir\\", Narrow(Text(s)));
  AddTrailingSeparator(s);
  EXPECT_EQ("C:\\dir\\", Narrow(Text(s)));
  Assign(s, u"C:\\dir/");
  AddTrailingSeparator(s);
  EXPECT_EQ("C:\\dir/", Narrow(Text(s)));
  Assign(s, u"\\");
  DropTrailingSeparator(s);
  EXPECT_EQ(nullptr, s);
  AddTrailingSeparator(s);
  EXPECT_EQ(nullptr, s);
}

TEST_F(CountedStringTest, CopyIsIndependentAndSelfAppendIsSafe) {
  CountedString s = Make(u"0123456789012345678901234567890123456789");
  CountedString copy = Copy(s);
  EXPECT_EQ(136u, Bytes(copy));
  Append(s, u"!");
  EXPECT_EQ(40u, Length(copy));
  EXPECT_EQ(41u, Length(s));
  Append(copy, copy);
  EXPECT_EQ(80u, Length(copy));
  Assign(s, s);
  EXPECT_EQ(41u, Length(s));
  Release(s);
  Release(copy);
}

TEST_F(CountedStringTest, FailedAnsiConversionGivesTheEmptyString) {
  winsim::FailCall("MultiByteToWideChar", 87);
  EXPECT_EQ(nullptr, FromAnsi("mbltray.exe"));
  winsim::FailCall("MultiByteToWideChar", 87, 1, 3);  // the size query works, the conversion fails
  EXPECT_EQ(nullptr, FromAnsi("mbltray.exe"));
}
