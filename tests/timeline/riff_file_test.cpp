// Telling an AVI file cut short from a whole one by its RIFF chunks.
#include "timeline/riff_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace labeler {
namespace {

// A top-level RIFF chunk of `form` announcing `length` bytes and holding `held` of them.
std::string Chunk(const char* form, unsigned length, size_t held) {
  std::string chunk = "RIFF";
  for (int i = 0; i < 4; ++i) chunk += static_cast<char>((length >> (8 * i)) & 0xff);
  chunk += std::string(form, 4);
  return chunk + std::string(held - 4, 'x');
}

TEST(RiffFile, ChunksRunningPastTheEndMarkACutFile) {
  testing::TempDir dir;
  auto fits = [&dir](const std::string& name, const std::string& bytes) {
    return RiffChunksFit(dir.Write(name, bytes));
  };
  EXPECT_TRUE(fits("whole.avi", Chunk("AVI ", 100, 100)));
  EXPECT_TRUE(fits("padded.avi", Chunk("AVI ", 101, 101) + '\0' + Chunk("AVIX", 50, 50)));
  EXPECT_TRUE(fits("last-pad-missing.avi", Chunk("AVI ", 100, 100) + Chunk("AVIX", 51, 51)));
  EXPECT_TRUE(fits("trailing-bytes.avi", Chunk("AVI ", 100, 100) + "junk after the movie"));
  EXPECT_TRUE(fits("not-riff.avi", "\x1a\x45\xdf\xa3 a Matroska file named .avi"));
  EXPECT_FALSE(fits("cut.avi", Chunk("AVI ", 100, 60)));
  EXPECT_FALSE(fits("even-one-short.avi", Chunk("AVI ", 100, 99)));
  EXPECT_FALSE(fits("second-cut.avi", Chunk("AVI ", 100, 100) + Chunk("AVIX", 50, 20)));
  EXPECT_FALSE(fits("never-finished.avi", Chunk("AVI ", 0, 4) + std::string(200, 'x')));
}

}  // namespace
}  // namespace labeler
