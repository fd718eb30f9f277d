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
