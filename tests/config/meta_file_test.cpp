#include "config/meta_file.h"

#include <gtest/gtest.h>

#include "common/fatal_error.h"
#include "support/temp_dir.h"

namespace labeler {
namespace {

using testing::TempDir;

MetaConfig Read(const std::string& content) {
  TempDir dir;
  MetaConfig config;
  ReadMetaFile(config, dir.Write("a.meta", content));
  return config;
}

TEST(MetaFile, ReadsEveryKeyOfATypicalFile) {
  MetaConfig config = Read(
      "# a remark\n"
      "// another remark\n"
      "FILE_IN in.avi\n"
      "LABELER_VERSION 2\n"
      "FILE_TIMELINE clip.avi\n"
      "FILE_LABEL_NAMES labels.txt\n"
      "DIR_LABEL_IMGS out\n"
      "FILE_TIMELINE_JUMPBY 10\n"
      "MAX_WINDOW_DIM 400\n"
      "DIR_PROPOSAL_IMGS predictions\n");
  EXPECT_EQ(config.FILE_IN, "in.avi");
  EXPECT_EQ(config.LABELER_VERSION, 2);
  EXPECT_EQ(config.FILE_TIMELINE, "clip.avi");
  EXPECT_EQ(config.FILE_LABEL_NAMES, "labels.txt");
  EXPECT_EQ(config.DIR_LABEL_IMGS, "out");
  EXPECT_EQ(config.FILE_TIMELINE_JUMPBY, 10);
  EXPECT_EQ(config.MAX_WINDOW_DIM, 400);
  EXPECT_EQ(config.DIR_PROPOSAL_IMGS, "predictions");
}

TEST(MetaFile, EmptyOrCommentOnlyFilesSetNothing) {
  for (const char* content : {"", "# FILE_TIMELINE a.avi\n// MAX_WINDOW_DIM 4\n", "   \n\t\n"}) {
    MetaConfig config = Read(content);
    EXPECT_FALSE(config.FILE_TIMELINE || config.MAX_WINDOW_DIM || config.FILE_IN) << content;
  }
}

TEST(MetaFile, KeysAreWholeTokens) {
  MetaConfig jump = Read("FILE_TIMELINE_JUMPBY 5\n");
  EXPECT_EQ(jump.FILE_TIMELINE_JUMPBY, 5);
  EXPECT_FALSE(jump.FILE_TIMELINE);
  MetaConfig timeline = Read("FILE_TIMELINE a.avi\n");
  EXPECT_EQ(timeline.FILE_TIMELINE, "a.avi");
  EXPECT_FALSE(timeline.FILE_TIMELINE_JUMPBY);
  EXPECT_FALSE(Read("file_timeline a.avi\n").FILE_TIMELINE);
}

TEST(MetaFile, CommentMarkerCountsOnlyAsATokenOfItsOwn) {
  EXPECT_FALSE(Read("# FILE_TIMELINE a.avi\n").FILE_TIMELINE);
  EXPECT_EQ(Read("#note FILE_TIMELINE a.avi\n").FILE_TIMELINE, "a.avi");
  EXPECT_EQ(Read("//note FILE_TIMELINE a.avi\n").FILE_TIMELINE, "a.avi");
  // A comment on the last line without a line end is consumed to the end of the file.
  EXPECT_EQ(Read("MAX_WINDOW_DIM 3\n# MAX_WINDOW_DIM 9").MAX_WINDOW_DIM, 3);
}

TEST(MetaFile, ValuesMayStandOnTheNextLine) {
  EXPECT_EQ(Read("MAX_WINDOW_DIM\n400\n").MAX_WINDOW_DIM, 400);
  EXPECT_EQ(Read("DIR_LABEL_IMGS\n\n  out\n").DIR_LABEL_IMGS, "out");
}

TEST(MetaFile, TextKeyWithoutValueSwallowsTheNextKey) {
  MetaConfig config = Read("FILE_IN\nLABELER_VERSION 3\n");
  EXPECT_EQ(config.FILE_IN, "LABELER_VERSION");
  EXPECT_FALSE(config.LABELER_VERSION);
}

TEST(MetaFile, LaterOccurrenceWins) {
  EXPECT_EQ(Read("DIR_LABEL_IMGS a\nDIR_LABEL_IMGS b\n").DIR_LABEL_IMGS, "b");
}

TEST(MetaFile, TokenRunningIntoEndOfFileIsNotInterpreted) {
  EXPECT_FALSE(Read("FILE_TIMELINE").FILE_TIMELINE);
  // A value that runs into the end of the file is stored.
  EXPECT_EQ(Read("MAX_WINDOW_DIM 400").MAX_WINDOW_DIM, 400);
  EXPECT_EQ(Read("FILE_TIMELINE a.avi").FILE_TIMELINE, "a.avi");
}

TEST(MetaFile, BadIntegerKeepsThePreviousValueAndIsReadAgainAsAToken) {
  MetaConfig config = Read("MAX_WINDOW_DIM 300\nMAX_WINDOW_DIM FILE_TIMELINE a.avi\n");
  EXPECT_EQ(config.MAX_WINDOW_DIM, 300);
  EXPECT_EQ(config.FILE_TIMELINE, "a.avi");
  EXPECT_FALSE(Read("FILE_TIMELINE_JUMPBY -x\n").FILE_TIMELINE_JUMPBY);
  EXPECT_EQ(Read("FILE_TIMELINE_JUMPBY -7\n").FILE_TIMELINE_JUMPBY, -7);
  EXPECT_EQ(Read("FILE_TIMELINE_JUMPBY 12abc\n").FILE_TIMELINE_JUMPBY, 12);
}

TEST(MetaFile, IntegerOutOfRangeIsAnErrorNamingTheKey) {
  try {
    Read("MAX_WINDOW_DIM 99999999999\n");
    FAIL() << "no error";
  } catch (const FatalError& error) {
    EXPECT_NE(std::string(error.what()).find("MAX_WINDOW_DIM"), std::string::npos);
  }
}

TEST(MetaFile, ValueOf499CharactersIsStoredWholeAnd500IsAnError) {
  std::string value499(499, 'v');
  EXPECT_EQ(Read("DIR_LABEL_IMGS " + value499 + "\n").DIR_LABEL_IMGS, value499);
  try {
    Read("DIR_LABEL_IMGS " + value499 + "w\n");
    FAIL() << "no error";
  } catch (const FatalError& error) {
    EXPECT_NE(std::string(error.what()).find("DIR_LABEL_IMGS"), std::string::npos);
    EXPECT_EQ(error.stream(), FatalError::Stream::kStandardError);
  }
  // Unrecognised tokens of any length are skipped.
  EXPECT_EQ(Read(std::string(5000, 'x') + " MAX_WINDOW_DIM 7\n").MAX_WINDOW_DIM, 7);
}

TEST(MetaFile, MissingFileIsAnErrorNamingIt) {
  MetaConfig config;
  try {
    ReadMetaFile(config, "/nonexistent/x.meta");
    FAIL() << "no error";
  } catch (const FatalError& error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent/x.meta"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("No such file"), std::string::npos);
  }
}

TEST(MetaFile, RequireMetaKeysNamesEveryMissingOrBadKeyInOneLine) {
  MetaConfig config;
  config.FILE_TIMELINE = "a.avi";
  config.MAX_WINDOW_DIM = 0;
  try {
    RequireMetaKeys(config, "x.meta");
    FAIL() << "no error";
  } catch (const FatalError& error) {
    std::string text = error.what();
    for (const char* key : {"FILE_LABEL_NAMES", "DIR_LABEL_IMGS", "FILE_TIMELINE_JUMPBY", "MAX_WINDOW_DIM"}) {
      EXPECT_NE(text.find(key), std::string::npos) << key;
    }
    EXPECT_EQ(text.find("FILE_TIMELINE is"), std::string::npos);
    EXPECT_EQ(text.find('\n'), text.size() - 1);
  }
  config.FILE_LABEL_NAMES = "l.txt";
  config.DIR_LABEL_IMGS = "out";
  config.FILE_TIMELINE_JUMPBY = 10;
  config.MAX_WINDOW_DIM = 1;
  EXPECT_NO_THROW(RequireMetaKeys(config, "x.meta"));
  config.MAX_WINDOW_DIM = 16384;
  EXPECT_NO_THROW(RequireMetaKeys(config, "x.meta"));
  // A rescaled window of 400000 pixels a side used to abort the process on its allocation.
  config.MAX_WINDOW_DIM = 400000;
  try {
    RequireMetaKeys(config, "x.meta");
    FAIL() << "no error";
  } catch (const FatalError& error) {
    EXPECT_STREQ(error.what(), "labeler: error: meta file x.meta: MAX_WINDOW_DIM is 400000 but must be 1 to 16384\n");
  }
}

}  // namespace
}  // namespace labeler
