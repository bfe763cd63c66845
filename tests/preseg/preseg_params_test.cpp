#include "preseg/preseg_params.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/fatal_error.h"

namespace labeler {
namespace {

PresegParams Parse(const std::string& line, PresegParams start = {}) {
  ParsePresegParams(start, line);
  return start;
}

TEST(PresegParams, LinesRoundTrip) {
  PresegParams pyramid;
  pyramid.algorithm = 1;
  pyramid.pyrSeg1 = 24;
  pyramid.pyrSeg2 = 30;
  EXPECT_EQ(FormatPresegParams(pyramid), "1 24 30");
  PresegParams back = Parse("1 24 30");
  EXPECT_EQ(back.algorithm, 1);
  EXPECT_EQ(back.pyrSeg1, 24);
  EXPECT_EQ(back.pyrSeg2, 30);
  EXPECT_EQ(back.slotTag, -1);

  PresegParams graph;
  graph.algorithm = 5;
  graph.sigma = graph.k = graph.minSize = -1.0f;
  EXPECT_EQ(FormatPresegParams(graph), "5 -1.000000 -1.000000 -1.000000");
  PresegParams filledSlot = graph;
  filledSlot.slotTag = 4;
  EXPECT_TRUE(SamePresegParams(filledSlot, Parse(FormatPresegParams(graph))));

  for (int setting : {0, 2, 3, 4}) {
    PresegParams params;
    params.algorithm = setting;
    EXPECT_EQ(FormatPresegParams(params), std::to_string(setting) + " ");
    EXPECT_EQ(Parse(FormatPresegParams(params)).algorithm, setting);
  }
}

TEST(PresegParams, FieldsTheLineDoesNotGiveKeepTheirValues) {
  PresegParams start;
  start.pyrSeg1 = 7;
  start.pyrSeg2 = 8;
  start.slotTag = 3;
  PresegParams parsed = Parse("1 9", start);
  EXPECT_EQ(parsed.pyrSeg1, 9);
  EXPECT_EQ(parsed.pyrSeg2, 8);
  EXPECT_EQ(parsed.slotTag, -1);
  EXPECT_EQ(Parse("2 99 99", start).pyrSeg1, 7);
}

TEST(PresegParams, BadFirstTokens) {
  EXPECT_EQ(Parse("road").algorithm, 0);
  EXPECT_EQ(Parse("").algorithm, 0);
  for (const char* line : {"7", "-1", "6 1 2", "99999999999999"}) {
    try {
      Parse(line);
      FAIL() << line;
    } catch (const FatalError& error) {
      EXPECT_STREQ(error.what(), "Unrecognized segmentation algorithm! Exiting!\n");
      EXPECT_EQ(error.stream(), FatalError::Stream::kStandardOutput);
    }
  }
  PresegParams bad;
  bad.algorithm = 6;
  EXPECT_THROW(FormatPresegParams(bad), FatalError);
}

TEST(PresegParams, SameParams) {
  PresegParams slot;
  slot.algorithm = 1;
  slot.pyrSeg1 = 24;
  slot.pyrSeg2 = 30;
  PresegParams requested = slot;
  EXPECT_FALSE(SamePresegParams(slot, requested));  // an empty slot matches nothing
  slot.slotTag = 0;
  EXPECT_TRUE(SamePresegParams(slot, requested));
  requested.pyrSeg2 = 31;
  EXPECT_FALSE(SamePresegParams(slot, requested));
  requested.algorithm = 3;
  slot.algorithm = 3;
  EXPECT_TRUE(SamePresegParams(slot, requested));  // the mean-shift settings have no parameters here
  slot.algorithm = 5;
  requested.algorithm = 5;
  slot.sigma = slot.k = slot.minSize = -1.0f;
  requested.sigma = requested.k = -1.0f;
  requested.minSize = -0.9999f;
  EXPECT_FALSE(SamePresegParams(slot, requested));
  requested.minSize = std::nanf("");
  EXPECT_FALSE(SamePresegParams(slot, requested));
  slot.algorithm = requested.algorithm = 0;
  EXPECT_FALSE(SamePresegParams(slot, requested));
}

}  // namespace
}  // namespace labeler
