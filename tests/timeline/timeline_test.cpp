#include "timeline/timeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <vector>

#include "common/fatal_error.h"
#include "support/temp_dir.h"
#include "support/test_media.h"

namespace labeler {
namespace {

using testing::IndexedFrame;
using testing::ReadFrameIndex;
using testing::TempDir;

// Runs `action`, returning what it printed on standard output.
template <typename Action>
std::string Printed(Action action) {
  ::testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

TEST(StillList, ParsingKeepsNamesOfThreeCharactersOrMore) {
  TempDir dir;
  auto names = ReadStillList(dir.Write("list.txt", "a.png\n\nb\nc.png\n"));
  EXPECT_EQ(names, (std::vector<std::string>{"a.png", "c.png"}));
  // A last line without line end is kept whole; names keep their blanks; CR LF is one line end.
  EXPECT_EQ(ReadStillList(dir.Write("l2.txt", "my frame.png\r\nab\r\nlast.png")),
            (std::vector<std::string>{"my frame.png", "ab", "last.png"}));
  EXPECT_EQ(ReadStillList(dir.Write("l3.txt", "ab")), std::vector<std::string>{});
  EXPECT_THROW(ReadStillList(dir.File("missing.txt")), FatalError);
}

TEST(Timeline, KindIsDecidedByASubstringOfTheName) {
  EXPECT_EQ(Timeline("clip.avi.txt").kind(), TimelineKind::kMovie);
  std::string printed = Printed([] { EXPECT_EQ(Timeline("x.txt.bak").kind(), TimelineKind::kStillList); });
  EXPECT_EQ(printed, "\r\r Accepting only list of still image files (no .avi's): parsing timeline .txt file.\n");
  try {
    Timeline("LIST.TXT");
    FAIL() << "accepted";
  } catch (const FatalError& error) {
    EXPECT_STREQ(error.what(), "Was expecting a .txt or .avi (preferable) input file instead\nCrashing\n");
    EXPECT_EQ(error.stream(), FatalError::Stream::kStandardOutput);
  }
}

class StillTimeline : public ::testing::Test {
 protected:
  std::string WriteStills(int count, cv::Size size = {40, 30}) {
    std::string list;
    for (int i = 0; i < count; ++i) {
      std::string name = dir_.File("still" + std::to_string(i) + ".png");
      cv::imwrite(name, IndexedFrame(i, size));
      list += name + "\n";
    }
    return dir_.Write("list.txt", list);
  }
  TempDir dir_;
};

TEST_F(StillTimeline, ClampsAtBothEndsAndPrintsNoFrameLine) {
  std::string list = WriteStills(5);
  Printed([&] {
    Timeline timeline(list);
    timeline.ReloadMovie();
    EXPECT_EQ(timeline.width(), 40);
    EXPECT_EQ(timeline.frameCount(), 5);
    EXPECT_EQ(ReadFrameIndex(timeline.GoToRelativeFrame(+10)), 4);
    EXPECT_EQ(timeline.currentFrame(), 4);
    EXPECT_EQ(ReadFrameIndex(timeline.GoToRelativeFrame(-200)), 0);
    EXPECT_EQ(ReadFrameIndex(timeline.GoToFrame(2)), 2);
  });
  std::string printed = Printed([&] {
    Timeline timeline(list);
    timeline.ReloadMovie();
    timeline.GoToRelativeFrame(1);
  });
  EXPECT_EQ(printed.find("Frame #"), std::string::npos);
}

// Serials name pictures, which caches rely on: a still loaded again is a new picture, a movie frame already
// decoded is the same one, the frame just left keeps its own, and a frame decoded anew gets one nobody had.
TEST_F(StillTimeline, EveryPictureDeliveredHasASerialOfItsOwn) {
  const std::string list = WriteStills(4);
  testing::WriteIndexedMovie(dir_.File("movie.avi"), 4, {40, 30});
  Printed([&] {
    Timeline stills(list);
    stills.ReloadMovie();
    const uint64_t first = stills.frameSerial();
    stills.GoToRelativeFrame(0);
    const uint64_t reloaded = stills.frameSerial();
    EXPECT_NE(reloaded, first);
    stills.GoToFrame(1);
    EXPECT_EQ(stills.FrameAt(0).serial, reloaded);
    const DeliveredFrame some = stills.FrameAt(3);
    const DeliveredFrame again = stills.FrameAt(3);
    EXPECT_EQ(ReadFrameIndex(again.image), 3);
    EXPECT_NE(some.serial, again.serial);
    EXPECT_NE(again.serial, stills.frameSerial());
    Timeline movie(dir_.File("movie.avi"));
    movie.ReloadMovie();
    const uint64_t decoded = movie.frameSerial();
    movie.GoToRelativeFrame(0);
    EXPECT_EQ(movie.frameSerial(), decoded);
  });
}

TEST_F(StillTimeline, GreyAndSixteenBitStillsAreDeliveredAsEightBitColour) {
  cv::imwrite(dir_.File("grey.png"), cv::Mat(30, 40, CV_8UC1, cv::Scalar(77)));
  cv::imwrite(dir_.File("deep.png"), cv::Mat(30, 40, CV_16UC3, cv::Scalar(65535, 0, 256 * 9)));
  std::string list = dir_.Write("list.txt", dir_.File("grey.png") + "\n" + dir_.File("deep.png") + "\n");
  Printed([&] {
    Timeline timeline(list);
    timeline.ReloadMovie();
    EXPECT_EQ(timeline.frame().type(), CV_8UC3);
    EXPECT_EQ(timeline.frame().at<cv::Vec3b>(0, 0), cv::Vec3b(77, 77, 77));
    timeline.GoToRelativeFrame(1);
    EXPECT_EQ(timeline.frame().type(), CV_8UC3);
    EXPECT_EQ(timeline.frame().at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 9));
  });
}

TEST_F(StillTimeline, InputErrorsNameTheFileAndFrame) {
  std::string empty = dir_.Write("empty.txt", "\n\nx\n");
  Printed([&] {
    try {
      Timeline(empty).ReloadMovie();
      FAIL() << "accepted";
    } catch (const FatalError& error) {
      EXPECT_STREQ(error.what(), "List of stills has no entries - crashing!\n");
    }
  });
  cv::imwrite(dir_.File("big.png"), IndexedFrame(0, {50, 30}));
  cv::imwrite(dir_.File("small.png"), IndexedFrame(0, {40, 30}));
  std::string mixed = dir_.Write("mixed.txt", dir_.File("small.png") + "\n" + dir_.File("big.png") + "\n" +
                                                  dir_.File("gone.png") + "\n");
  Printed([&] {
    Timeline timeline(mixed);
    timeline.ReloadMovie();
    try {
      timeline.GoToRelativeFrame(1);
      FAIL() << "accepted a still of another size";
    } catch (const FatalError& error) {
      EXPECT_NE(std::string(error.what()).find("big.png (frame 1)"), std::string::npos) << error.what();
    }
    EXPECT_EQ(timeline.currentFrame(), 0) << "a failed move stays on the frame shown";
    try {
      timeline.GoToFrame(2);
      FAIL() << "accepted a missing still";
    } catch (const FatalError& error) {
      EXPECT_NE(std::string(error.what()).find("gone.png (frame 2)"), std::string::npos) << error.what();
    }
  });
}

TEST(MovieTimeline, UnopenableMovieEndsWithItsMessage) {
  TempDir dir;
  std::string path = dir.Write("not-a-movie.avi", "plain text, no video here\n");
  std::string printed = Printed([&] {
    try {
      Timeline(path).ReloadMovie();
      FAIL() << "accepted";
    } catch (const FatalError& error) {
      EXPECT_STREQ(error.what(), "Failed to open FG avi - exiting.\n");
    }
  });
  EXPECT_EQ(printed, "Loading movie: " + path + "\n");
}

// Each jump must deliver exactly the frame asked for, whatever the key-frame spacing of the file.
void ExpectExactJumps(const std::string& path) {
  std::string printed = Printed([&] {
    Timeline timeline(path);
    timeline.ReloadMovie();
    ASSERT_EQ(timeline.frameCount(), 100);
    EXPECT_EQ(ReadFrameIndex(timeline.GoToFrame(0)), 0);
    struct Step {
      int delta, expected;
    };
    for (Step step : {Step{+1, 1}, Step{+1, 2}, Step{+10, 12}, Step{-7, 5}, Step{+1, 6}, Step{+60, 66},
                      Step{+1000, 99}, Step{0, 99}, Step{-99, 0}, Step{+37, 37}, Step{-1, 36}, Step{+10, 46}}) {
      const cv::Mat& frame = timeline.GoToRelativeFrame(step.delta);
      EXPECT_EQ(timeline.currentFrame(), step.expected);
      EXPECT_EQ(ReadFrameIndex(frame), step.expected) << "after a move by " << step.delta;
    }
  });
  EXPECT_NE(printed.find("Opened " + path + " correctly.\nFrame #0\nFrame #0\nFrame #1\n"), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("Frame #99\nFrame #99\nFrame #0\n"), std::string::npos);
}

TEST(MovieTimeline, JumpsDeliverExactlyTheirFramesWithEveryFrameAKeyFrame) {
  TempDir dir;
  std::string path = dir.File("indexed.avi");
  testing::WriteIndexedMovie(path, 100, {160, 120});
  ExpectExactJumps(path);
}

TEST(MovieTimeline, JumpsDeliverExactlyTheirFramesWithKeyFramesFarApart) {
  TempDir dir;
  std::string path = dir.File("sparse.avi");
  testing::WriteSparseKeyFrameMovie(path, 100, {160, 120}, 50);
  ExpectExactJumps(path);
}

// A movie whose header promises more frames than the file holds (here cut in the middle): the first frame that
// can't be read ends the movie for the session, once said, and the move lands on the last readable frame.
TEST(MovieTimeline, AMovieThatEndsEarlyEndsThereForTheSession) {
  TempDir dir;
  const std::string whole = dir.File("whole.avi");
  testing::WriteIndexedMovie(whole, 40, {160, 120});
  const std::string cut = testing::WriteFirstHalfOf(whole, dir.File("cut.avi"));
  Timeline timeline(cut);
  ::testing::internal::CaptureStderr();
  Printed([&] {
    timeline.ReloadMovie();
    ASSERT_EQ(timeline.frameCount(), 40);
    timeline.GoToFrame(35);
    const int end = timeline.currentFrame();
    EXPECT_GT(end, 5);
    EXPECT_LT(end, 35);
    EXPECT_EQ(timeline.frameCount(), end + 1);
    EXPECT_EQ(ReadFrameIndex(timeline.frame()), end);
    timeline.GoToRelativeFrame(+10);
    EXPECT_EQ(timeline.currentFrame(), end);
    EXPECT_EQ(ReadFrameIndex(timeline.GoToFrame(3)), 3);
  });
  const std::string errors = ::testing::internal::GetCapturedStderr();
  const std::string said = "labeler: frame " + std::to_string(timeline.frameCount()) + " of " + cut +
                           " can't be read; the movie ends at frame " + std::to_string(timeline.frameCount() - 1) +
                           " for this session\n";
  const size_t at = errors.find(said);
  EXPECT_NE(at, std::string::npos) << errors;
  EXPECT_EQ(errors.find("can't be read", at + said.size()), std::string::npos) << "said twice: " << errors;
}

// The frames of the movie `path` up to `last`, or up to the first that can't be read, decoded in order from the
// first: the pictures the movie holds.
std::vector<cv::Mat> FramesInOrder(const std::string& path, int last) {
  cv::VideoCapture capture(path, cv::CAP_FFMPEG);
  std::vector<cv::Mat> frames;
  cv::Mat frame;
  while (static_cast<int>(frames.size()) <= last && capture.read(frame)) frames.push_back(frame.clone());
  return frames;
}

// A movie cut in the middle whose frames are predicted from the frames before them, in the codec of the street
// clip, whose seeks go astray without the index: a frame reached before the cut is found, the frame a move past
// the end lands on, and frames reached afterwards are the pictures reading the movie in order gives.
TEST(MovieTimeline, FramesOfAMovieCutShortAreDecodedFromTheirTrueReferences) {
  TempDir dir;
  const std::string source = dir.File("source.avi");
  {
    cv::VideoWriter writer(source, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, {160, 120});
    cv::RNG rng(3);
    cv::Mat texture(120, 160, CV_8UC3);
    rng.fill(texture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(texture, texture, {7, 7}, 0);
    for (int i = 0; i < 200; ++i) {
      cv::Mat frame = texture.clone();
      cv::circle(frame, {(3 * i) % 160, 60}, 24, cv::Scalar(40, 200, 90), cv::FILLED);
      writer.write(frame);
    }
  }
  const std::string whole = dir.File("predicted.avi");
  testing::Reencode(source, whole, 50, "msmpeg4");
  const std::string cut = testing::WriteFirstHalfOf(whole, dir.File("cut.avi"));
  const std::vector<cv::Mat> inOrder = FramesInOrder(cut, 199);
  const int end = static_cast<int>(inOrder.size()) - 1;
  ASSERT_GT(end, 60);
  ASSERT_LT(end, 190);
  Timeline timeline(cut);
  std::vector<int> visits;
  for (int frame = 10; frame < 200; frame += 10) visits.push_back(frame);  // "+" past the end, 10 at a time
  visits.insert(visits.end(), {3, end - 1, end / 2, 0, end});
  std::vector<cv::Mat> shown;
  ::testing::internal::CaptureStderr();
  Printed([&] {
    timeline.ReloadMovie();
    for (int frame : visits) shown.push_back(timeline.GoToFrame(frame));
  });
  ::testing::internal::GetCapturedStderr();
  for (size_t i = 0; i < visits.size(); ++i) {
    const int frame = std::min(visits[i], end);
    EXPECT_EQ(cv::norm(shown[i], inOrder[frame], cv::NORM_INF), 0) << "frame " << frame;
  }
}

// A bare Motion-JPEG stream reports a frame count of -2^63: its frames are counted by decoding instead.
TEST(MovieTimeline, AMovieWithoutAUsableFrameCountIsCountedByDecoding) {
  TempDir dir;
  std::string stream;
  for (int i = 0; i < 12; ++i) {
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", IndexedFrame(i, {160, 120}), jpeg);
    stream.append(jpeg.begin(), jpeg.end());
  }
  Timeline timeline(dir.Write("bare.avi", stream));
  ::testing::internal::CaptureStderr();
  Printed([&] { timeline.ReloadMovie(); });
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("does not say how many frames it holds"), std::string::npos);
  EXPECT_EQ(timeline.frameCount(), 12);
  Printed([&] { EXPECT_EQ(ReadFrameIndex(timeline.GoToFrame(11)), 11); });
}

}  // namespace
}  // namespace labeler
