#include "config/label_set.h"

#include <gtest/gtest.h>

#include "common/fatal_error.h"
#include "support/temp_dir.h"

namespace labeler {
namespace {

using testing::TempDir;

LabelSet Load(const std::string& content, std::string* warnings = nullptr) {
  TempDir dir;
  LabelSet labels;
  ::testing::internal::CaptureStderr();
  try {
    LoadLabelSet(dir.Write("labels.txt", content), labels);
  } catch (...) {
    ::testing::internal::GetCapturedStderr();
    throw;
  }
  std::string captured = ::testing::internal::GetCapturedStderr();
  if (warnings != nullptr) *warnings = captured;
  return labels;
}

TEST(LabelSet, ThreeLineExample) {
  LabelSet labels = Load("sky 0 0 255\n// a comment\n= 3 car 255 0 0\n");
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0].name, "sky");
  EXPECT_EQ(labels[0].blue, 255);
  EXPECT_EQ(labels[0].hotKey, -1);
  EXPECT_EQ(labels[1].name, "car");
  EXPECT_EQ(labels[1].red, 255);
  EXPECT_EQ(labels[1].hotKey, 3);
  EXPECT_EQ(FindLabelByHotKey(3, labels), 1);
  EXPECT_EQ(FindLabelByHotKey(0, labels), -1);
  EXPECT_EQ(FindLabelByColour(255, 0, 0, labels), 1);
  EXPECT_EQ(FindLabelByColour(0, 0, 0, labels), -1);
}

TEST(LabelSet, FirstMatchInFileOrderWins) {
  LabelSet labels = Load("= 2 a 1 1 1\n= 2 b 2 2 2\nvoid 0 0 0\nblack 0 0 0\n");
  EXPECT_EQ(FindLabelByHotKey(2, labels), 0);
  EXPECT_EQ(FindLabelByColour(0, 0, 0, labels), 2);
  EXPECT_EQ(FindLabelByHotKey(-1, labels), -1);  // labels without hot key never match
}

TEST(LabelSet, LineEndsAndBlankLines) {
  EXPECT_EQ(Load("a 1 2 3\nb 4 5 6").size(), 2u);       // last line without line end
  EXPECT_EQ(Load("a 1 2 3\nb 4 5 6\n").size(), 2u);     // not repeated at the end
  EXPECT_EQ(Load("a 1 2 3\n\n   \t\nb 4 5 6\n").size(), 2u);
  EXPECT_EQ(Load("a 1 2 3\r\nb 4 5 6\r\n").back().blue, 6);
}

TEST(LabelSet, EqualsWordIsTestedByItsFirstCharacterOnly) {
  LabelSet labels = Load("=hot 4 tree 0 128 0\n");
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].hotKey, 4);
  EXPECT_EQ(labels[0].name, "tree");
  EXPECT_EQ(Load("= 1 //odd 1 2 3\n")[0].name, "//odd");  // a hot-key line is never a comment
}

TEST(LabelSet, MalformedLinesAreSkippedWithTheirLineNumber) {
  std::string warnings;
  LabelSet labels = Load(
      "good 1 2 3\n"
      "=1 glued 1 2 3\n"
      "short 1 2\n"
      "bad 1 x 3\n"
      "big 1 2 256\n"
      "= 5 negative -1 0 0\n" +
          std::string(100, 'n') + " 1 2 3\n" +
          "also_good 4 5 6\n",
      &warnings);
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[1].name, "also_good");
  for (int line = 2; line <= 7; ++line) {
    EXPECT_NE(warnings.find("labels.txt:" + std::to_string(line) + ":"), std::string::npos) << line;
  }
  EXPECT_EQ(warnings.find("labels.txt:1:"), std::string::npos);
  EXPECT_EQ(warnings.find("labels.txt:8:"), std::string::npos);
}

// Colours are read as "%d %d %d" reads them: text glued to the last number is ignored with a warning, so an
// existing file keeps every label at its index; text glued to an earlier number leaves the later ones missing.
TEST(LabelSet, TextAfterTheLastNumberIsIgnoredWithAWarning) {
  std::string warnings;
  LabelSet labels = Load(
      "road 128 64 128;\n"
      "= 2 sky 70 130 180x\n"
      "car 0x 0 142\n"
      "person 220 20 60\n",
      &warnings);
  ASSERT_EQ(labels.size(), 3u);
  EXPECT_EQ(labels[0].blue, 128);
  EXPECT_EQ(labels[1].name, "sky");
  EXPECT_EQ(labels[1].blue, 180);
  EXPECT_EQ(labels[1].hotKey, 2);
  EXPECT_EQ(labels[2].name, "person");
  EXPECT_NE(warnings.find("labels.txt:1: the text after 128 in '128;' is ignored\n"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("labels.txt:2: the text after 180 in '180x' is ignored\n"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("labels.txt:3: label line skipped"), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("labels.txt:4:"), std::string::npos) << warnings;
}

TEST(LabelSet, NameOf99CharactersIsAccepted) {
  EXPECT_EQ(Load(std::string(99, 'n') + " 1 2 3\n")[0].name.size(), 99u);
}

TEST(LabelSet, SharedColourDrawsAWarning) {
  std::string warnings;
  Load("a 1 2 3\nb 1 2 3\n", &warnings);
  EXPECT_NE(warnings.find("share the colour"), std::string::npos);
}

TEST(LabelSet, NoLabelOrNoFileIsFatal) {
  EXPECT_THROW(Load("// nothing\n\n"), FatalError);
  EXPECT_THROW(Load("only bad lines\n"), FatalError);
  LabelSet labels;
  EXPECT_THROW(LoadLabelSet("/nonexistent/labels.txt", labels), FatalError);
}

}  // namespace
}  // namespace labeler
