// Label assist in the labeller: the unpainted pixels completed along the frame's edges, from the strokes and the
// label images of the neighbouring frames; shown, undone and saved as the labeller shows it, and the same from
// labeler-tool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "annotation/label_images.h"
#include "support/one_still_label_images.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::CountColour;
using testing::kCarBgr;
using testing::kLabelWin;
using testing::kRoadBgr;
using testing::PaintingSession;

constexpr int kCtrlZ = 26;
constexpr int kCtrlY = 25;
const cv::Rect kBox(10, 10, 30, 20);  // the blue box of every frame of the session

// The road disc at (50, 40) and the car disc at (25, 20), brush 10, with every other pixel of the box car and
// every other pixel outside it road.
cv::Mat BoxOnRoad(cv::Size size) {
  cv::Mat expected(size, CV_8UC3, cv::Scalar(kRoadBgr));
  cv::rectangle(expected, kBox, cv::Scalar(kCarBgr), cv::FILLED);
  cv::circle(expected, {25, 20}, 10, cv::Scalar(kCarBgr), cv::FILLED, cv::LINE_8);
  return expected;
}

// Labels as "Labeled Map" shows them: with the brush ring it draws at the pointer, which clicks alone leave at
// (0, 0).
cv::Mat WithBrushRing(const cv::Mat& labels) {
  cv::Mat shown = labels.clone();
  cv::circle(shown, {0, 0}, 10, cv::Scalar(0, 255, 0), 1, cv::LINE_8);
  return shown;
}

// `labels` as "Labeled Map" shows them with assist on: what the clicks at `clicks` (brush 10) painted in full,
// the completed labels lighter, halfway to white, but for a hatching of full colour on every fourth diagonal. An
// unpainted pixel `seen` shows in the dash colour of the unsure outline at its place (yellow where x + y is 0 to
// 3 modulo 8, else black) is taken as seen: where the completion is unsure is the confidence's business.
cv::Mat AsAssistShowsThem(const cv::Mat& labels, const std::vector<cv::Point>& clicks, const cv::Mat& seen) {
  cv::Mat painted = cv::Mat::zeros(labels.size(), CV_8UC1);
  for (const cv::Point& click : clicks) cv::circle(painted, click, 10, cv::Scalar(255), cv::FILLED, cv::LINE_8);
  cv::Mat shown = labels.clone();
  for (int y = 0; y < shown.rows; ++y) {
    for (int x = 0; x < shown.cols; ++x) {
      if (painted.at<uchar>(y, x) != 0) continue;
      cv::Vec3b& pixel = shown.at<cv::Vec3b>(y, x);
      const cv::Vec3b dash = (x + y) % 8 < 4 ? cv::Vec3b(0, 255, 255) : cv::Vec3b(0, 0, 0);
      if (seen.at<cv::Vec3b>(y, x) == dash) {
        pixel = dash;
      } else if ((x + y) % 4 != 0) {
        for (int c = 0; c < 3; ++c) pixel[c] = static_cast<uchar>((pixel[c] + 256) / 2);
      }
    }
  }
  return shown;
}

TEST(LabelAssist, CompletesTheFrameFromTwoClicksFollowsUndoAndIsSavedAsShown) {
  PaintingSession s;
  const cv::Mat expected = BoxOnRoad({64, 48});
  cv::Mat completed, undone, redone, strokesOnly;
  std::string status;
  auto shown = [&s] { return s.windows.lastShown[kLabelWin].clone(); };
  s.windows.Key('a');
  s.Click({50, 40});
  s.windows.Key('2');
  s.Click({25, 20});
  s.windows.Do([&] {
    completed = shown();
    status = s.windows.StatusText(testing::kFrameWin);
  });
  s.windows.Key(kCtrlZ);
  s.windows.Do([&] { undone = shown(); });
  s.windows.Key(kCtrlY);
  s.windows.Do([&] { redone = shown(); });
  s.windows.Key('a');
  s.windows.Do([&] { strokesOnly = shown(); });
  s.windows.Key('a');
  s.windows.Key(' ');  // saved as shown
  s.windows.Do([&] { status = s.windows.StatusText(testing::kFrameWin); });
  s.windows.Key(13);   // no stroke: accepted as shown, saved, and on to frame 2
  s.windows.Key(' ');  // frame 2, only passed through, is not written
  ASSERT_EQ(s.Run(), 0);
  EXPECT_TRUE(s.Printed("Label assist on.\n"));
  EXPECT_NE(status.find("completion not saved, Enter accepts"), std::string::npos) << status;
  const cv::Mat bothShown = AsAssistShowsThem(expected, {{50, 40}, {25, 20}}, completed);
  EXPECT_EQ(cv::norm(completed, WithBrushRing(bothShown), cv::NORM_INF), 0);
  const cv::Mat allRoad(48, 64, CV_8UC3, cv::Scalar(kRoadBgr));
  EXPECT_EQ(cv::norm(undone, WithBrushRing(AsAssistShowsThem(allRoad, {{50, 40}}, undone)), cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(redone, completed, cv::NORM_INF), 0);
  cv::Mat discs = cv::Mat::zeros(48, 64, CV_8UC3);
  cv::circle(discs, {50, 40}, 10, cv::Scalar(kRoadBgr), cv::FILLED, cv::LINE_8);
  cv::circle(discs, {25, 20}, 10, cv::Scalar(kCarBgr), cv::FILLED, cv::LINE_8);
  EXPECT_EQ(cv::norm(strokesOnly, WithBrushRing(discs), cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(s.Stored(0), expected, cv::NORM_INF), 0);
  // Frame 1 is frame 0 a shade lighter: frame 0's labels, carried and completed.
  const cv::Mat stored = s.Stored(1);
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(CountColour(stored, kRoadBgr) + CountColour(stored, kCarBgr), 64 * 48);
  EXPECT_EQ(CountColour(stored(kBox), kCarBgr), kBox.area());
  EXPECT_FALSE(std::filesystem::exists(s.LabelFile(2)));
}

// labeler-tool assist, given the strokes of a frame, writes what the labeller saves for them over the frame's
// stored label image, and how sure it is of each pixel.
TEST(LabelAssist, TheToolCompletesStrokesAsTheLabellerDoesAndWritesTheirConfidence) {
  PaintingSession s;
  s.Click({50, 40});  // road on frame 0: the neighbour the completion of frame 1 carries from
  s.windows.Key(' ');
  s.windows.Key('2');
  s.Drag({{20, 15}, {30, 15}, {30, 25}});  // car on frame 1, stored without assist
  s.windows.Key(' ');
  s.windows.Key(ui::kKeyBackspace);
  s.windows.Do([&s] { std::filesystem::copy_file(s.LabelFile(1), s.dir.File("stored1.png")); });
  s.windows.Key('a');
  s.windows.Key('1');
  s.Click({12, 27});  // road painted inside the box stays road
  s.windows.Key(' ');
  ASSERT_EQ(s.Run(), 0);
  const cv::Mat saved = s.Stored(1);
  std::filesystem::copy_file(s.dir.File("stored1.png"), s.LabelFile(1),
                             std::filesystem::copy_options::overwrite_existing);
  cv::Mat strokes = cv::Mat::zeros(48, 64, CV_8UC3);
  cv::circle(strokes, {12, 27}, 10, cv::Scalar(kRoadBgr), cv::FILLED, cv::LINE_8);
  const std::string painted = s.dir.File("painted.png");
  const std::string out = s.dir.File("out.png");
  const std::string sure = s.dir.File("sure.png");
  cv::imwrite(painted, strokes);
  const std::string command = std::string(LABELER_TOOL) + " assist --meta " + s.meta + " --frame 1 --strokes " +
                              painted + " --out " + out + " --confidence " + sure + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const cv::Mat written = cv::imread(out, cv::IMREAD_COLOR);
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(cv::norm(written, saved, cv::NORM_INF), 0);
  EXPECT_EQ(written.at<cv::Vec3b>(27, 12), kRoadBgr);
  EXPECT_EQ(written.at<cv::Vec3b>(20, 35), kCarBgr);
  EXPECT_EQ(written.at<cv::Vec3b>(5, 60), kRoadBgr);
  const cv::Mat confidence = cv::imread(sure, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(confidence.type(), CV_8UC1);
  EXPECT_EQ(confidence.size(), cv::Size(64, 48));
  EXPECT_EQ(confidence.at<uchar>(27, 12), 255);  // painted
  double least = 0;
  cv::minMaxLoc(confidence, &least);
  EXPECT_LT(least, 255);  // the completed pixels are not all sure
}

// "p" carries a frame as it was saved last, also when assist saved it without a stroke.
TEST(LabelAssist, PCarriesAFrameAsAssistLastSavedIt) {
  PaintingSession s;
  s.Click({50, 40});
  s.windows.Key(' ');
  s.windows.Key(ui::kKeyBackspace);
  s.windows.Key('a');
  s.windows.Key(13);  // frame 0 accepted all road, without a stroke this time
  s.windows.Key('a');
  s.windows.Key('p');
  cv::Mat proposed;
  s.windows.Do([&s, &proposed] { proposed = s.windows.lastShown[kLabelWin].clone(); });
  ASSERT_EQ(s.Run(), 0);
  EXPECT_EQ(cv::norm(proposed, WithBrushRing(cv::Mat(48, 64, CV_8UC3, cv::Scalar(kRoadBgr))), cv::NORM_INF), 0);
}

// One road click leaves the rest of the frame a guess: it is outlined on "Labeled Map" (never over painted
// pixels), and "u" brings the pointer into it. Painted whole with the pyramid regions, nothing is left unsure.
TEST(LabelAssist, UnsureAreasAreOutlinedAndUBringsThePointerToThem) {
  PaintingSession s;
  cv::Mat shown;
  s.windows.Key('a');
  s.Click({50, 40});
  s.windows.Key('u');
  s.windows.Do([&] { shown = s.windows.lastShown[kLabelWin].clone(); });
  s.windows.Key(4);
  s.windows.Key('s');
  s.Click({50, 40});
  s.windows.Key('2');
  s.Click({25, 20});
  s.windows.Key('u');
  ASSERT_EQ(s.Run(), 0);
  ASSERT_EQ(s.windows.shownPoints.size(), 1u);
  EXPECT_EQ(s.windows.shownPoints[0].first, testing::kFrameWin);
  const cv::Point pointed = s.windows.shownPoints[0].second;
  EXPECT_GT(cv::norm(pointed - cv::Point(50, 40)), 10.0) << pointed;
  EXPECT_TRUE(s.Printed("Unsure area at (" + std::to_string(pointed.x) + ", " + std::to_string(pointed.y) + ")."));
  EXPECT_GT(CountColour(shown, cv::Vec3b(0, 255, 255)), 0);
  cv::Mat disc = cv::Mat::zeros(48, 64, CV_8UC1);
  cv::circle(disc, {50, 40}, 10, cv::Scalar(255), cv::FILLED, cv::LINE_8);
  cv::Mat roadInDisc;
  cv::inRange(shown, cv::Scalar(kRoadBgr), cv::Scalar(kRoadBgr), roadInDisc);
  EXPECT_EQ(cv::countNonZero(roadInDisc & disc), cv::countNonZero(disc));
  EXPECT_TRUE(s.Printed("No unsure area left on frame 0.\n"));
}

// A stored label image made elsewhere: road with JPEG-like noise on the left, five white specks, black on the
// right. The assist sees the noisy colours as road and the specks as unlabelled, so the right half is completed in
// road's exact colour, and the specks are said once, however often the frame is completed.
TEST(LabelAssist, StrayColoursOfAStoredImageMeanTheirLabelOrNothing) {
  PaintingSession s;
  cv::Mat stored = cv::Mat::zeros(48, 64, CV_8UC3);
  cv::Mat noise(48, 32, CV_8UC3);  // added to 128, 64, 128: never past 0 or 255
  cv::RNG(4).fill(noise, cv::RNG::UNIFORM, cv::Scalar::all(-6), cv::Scalar::all(7));
  cv::Mat left = stored.colRange(0, 32);
  left.setTo(cv::Scalar(kRoadBgr));
  left += noise;
  for (int i = 0; i < 5; ++i) stored.at<cv::Vec3b>(40, 2 + 3 * i) = cv::Vec3b(255, 255, 255);
  cv::imwrite(s.LabelFile(0), stored);
  s.windows.Key('a');
  s.Click({5, 5});  // a road stroke: completed again
  s.windows.Key(' ');
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(s.Run(), 0);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  const std::string said = "the label image of frame 0 has 5 pixels of colours that are no label's";
  EXPECT_NE(errors.find(said), std::string::npos) << errors;
  EXPECT_EQ(errors.find(said, errors.find(said) + 1), std::string::npos) << errors;
  EXPECT_EQ(CountColour(s.Stored(0).colRange(32, 64), kRoadBgr), 32 * 48);
}

class FailingCompleter : public LabelCompleter {
 public:
  cv::Mat Complete(const cv::Mat&, const cv::Mat&) override { throw std::runtime_error("no memory left"); }
  cv::Mat Confidence() const override { return {}; }
  bool Outdated() const override { return false; }
};

// A completion that fails says so and leaves the frame with its strokes, which are saved.
TEST(LabelAssist, ACompletionThatFailsLeavesTheStrokesToBeSaved) {
  testing::OneStillLabelImages s;
  FailingCompleter completer;
  ::testing::internal::CaptureStderr();
  s.images->SetCompleter(&completer);
  s.strokes.BeginStroke(10, 10, 3, cv::Scalar(142, 0, 0), FormatPresegParams(s.preseg.currentPreseg()));
  s.strokes.EndStroke(10, 10);
  s.images->RenderWorking();
  s.images->Commit();
  ASSERT_TRUE(s.images->SaveLabelImage(0));
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("label assist failed on frame 0: no memory left"), std::string::npos) << errors;
  const cv::Mat stored = cv::imread(LabelImagePath(s.LabelDir(), 0), cv::IMREAD_UNCHANGED);
  EXPECT_EQ(cv::norm(stored, s.images->committed(), cv::NORM_INF), 0);
  EXPECT_EQ(stored.at<cv::Vec3b>(10, 10), kCarBgr);
}

}  // namespace
}  // namespace labeler
