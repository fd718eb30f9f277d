#include <gtest/gtest.h>

#include <string>

#include "MyUtils.h"
#include "TestSupport.h"

TEST(SplitText, TakesTheHeadAndOptionallyRemovesIt) {
  struct TCase {
    std::string Source, Separator;
    bool Remove;
    std::string Head, Rest;
  } Cases[] = {
      {"a=b", "=", true, "a", "b"},
      {"a=b=c", "=", true, "a", "b=c"},
      {"a=b", "=", false, "a", "a=b"},
      {"abc", "=", true, "abc", ""},
      {"abc", "=", false, "abc", "abc"},
      {"=x", "=", true, "", "x"},
      {"x=", "=", true, "x", ""},
      {"", ",", true, "", ""},
      {"one, two", ", ", true, "one", "two"},
  };
  for (const TCase& C : Cases) {
    std::string Source = C.Source;
    EXPECT_EQ(SplitText(Source, C.Separator, C.Remove), C.Head) << C.Source;
    EXPECT_EQ(Source, C.Rest) << C.Source;
  }
}

TEST(FileSizeOf, IsMinusOneOnlyForMissingFiles) {
  TTempDir Dir;
  EXPECT_EQ(FileSizeOf(Dir.File("missing")), -1);
  EXPECT_EQ(FileSizeOf(Dir.Path()), -1) << "a folder is no file";
  WriteTextFile(Dir.File("empty"), "");
  EXPECT_EQ(FileSizeOf(Dir.File("empty")), 0);
  WriteTextFile(Dir.File("five"), "12345");
  EXPECT_EQ(FileSizeOf(Dir.File("five")), 5);
}

TEST(FormatText, FormatsTextsOfAnyLength) {
  EXPECT_EQ(FormatText("%s-%d", "x", 42), "x-42");
  const std::string Long(5000, 'y');
  EXPECT_EQ(FormatText("<%s>", Long.c_str()), "<" + Long + ">");
  EXPECT_EQ(FormatText("100%%"), "100%");
}

TEST(PathHelpers, TrailingDelimiterAndCase) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/b"), "/a/b/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/b/"), "/a/b/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
  EXPECT_EQ(UpperCase("/usr/Lib"), "/USR/LIB");
  EXPECT_EQ(LowerCase("MiXeD"), "mixed");
}

TEST(ParseInteger, TakesOnlyAWholeDecimalIntegerInRange) {
  constexpr int32_t Untouched32 = 12345;
  constexpr int64_t Untouched64 = 67890;
  struct TCase {
    std::string_view Text;
    bool Ok32;
    int32_t Value32;
    bool Ok64;
    int64_t Value64;
  } Cases[] = {
      {"0", true, 0, true, 0},
      {"42", true, 42, true, 42},
      {"-7", true, -7, true, -7},
      {"+7", true, 7, true, 7},
      {"007", true, 7, true, 7},
      {"-0", true, 0, true, 0},
      {"", false, 0, false, 0},
      {"+", false, 0, false, 0},
      {"-", false, 0, false, 0},
      {"+-5", false, 0, false, 0},
      {"-+5", false, 0, false, 0},
      {"++5", false, 0, false, 0},
      {"--5", false, 0, false, 0},
      {" 5", false, 0, false, 0},
      {"5 ", false, 0, false, 0},
      {"5x", false, 0, false, 0},
      {"0x10", false, 0, false, 0},
      {"1e3", false, 0, false, 0},
      {"1.0", false, 0, false, 0},
      {std::string_view("5\0", 2), false, 0, false, 0},
      {"2147483647", true, INT32_MAX, true, INT32_MAX},
      {"-2147483648", true, INT32_MIN, true, INT32_MIN},
      {"2147483648", false, 0, true, 2147483648LL},
      {"-2147483649", false, 0, true, -2147483649LL},
      {"9223372036854775807", false, 0, true, INT64_MAX},
      {"-9223372036854775808", false, 0, true, INT64_MIN},
      {"9223372036854775808", false, 0, false, 0},
      {"99999999999999999999999", false, 0, false, 0},
  };
  for (const TCase& C : Cases) {
    int32_t Value32 = Untouched32;
    int64_t Value64 = Untouched64;
    EXPECT_EQ(ParseInteger(C.Text, Value32), C.Ok32) << "'" << C.Text << "'";
    EXPECT_EQ(Value32, C.Ok32 ? C.Value32 : Untouched32) << "'" << C.Text << "'";
    EXPECT_EQ(ParseInteger(C.Text, Value64), C.Ok64) << "'" << C.Text << "'";
    EXPECT_EQ(Value64, C.Ok64 ? C.Value64 : Untouched64) << "'" << C.Text << "'";
  }
}

TEST(LeadingInteger, FindsTheNumberAtTheFrontAfterBlanks) {
  struct TCase {
    std::string_view Text, Number;
  } Cases[] = {
      {"12/3", "12"},
      {"  12/3", "12"},
      {"\t\n\v\f\r 9", "9"},
      {"-5,6", "-5"},
      {"+7x", "+7"},
      {"2024-05-01", "2024"},
      {"99999999999999999999", "99999999999999999999"},  // the range is ParseInteger's to judge
      {"x5", ""},
      {"", ""},
      {"   ", ""},
      {"- 5", ""},
      {"+", ""},
      {"+-5", ""},
  };
  for (const TCase& C : Cases) {
    const std::string_view Number = LeadingInteger(C.Text);
    EXPECT_EQ(Number, C.Number) << "'" << C.Text << "'";
    // The caller goes on after the number; with none there, at the start.
    if (Number.empty()) {
      EXPECT_EQ(Number.data(), C.Text.data()) << "'" << C.Text << "'";
    }
  }
}
