// The worker thread prepares the neighbouring frames; what the annotator sees, reads and saves must be exactly
// what the labeller shows without it, whether a key finds the work done or arrives while it is half-way.
#include "app/neighbour_preparer.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "annotation/frame_assistant.h"
#include "annotation/label_file.h"
#include "propagation/label_carrier.h"
#include "support/painting_session.h"
#include "support/random_session.h"
#include "support/test_media.h"

namespace labeler {
namespace {

using testing::RandomSessionOptions;
using testing::RandomSessionRecord;
using testing::RunRandomSession;

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

void ExpectSameSessionWithWorker(RandomSessionOptions options) {
  options.prepareNeighbours = false;
  const RandomSessionRecord alone = RunRandomSession(options);
  options.prepareNeighbours = true;
  const RandomSessionRecord withWorker = RunRandomSession(options);
  ASSERT_EQ(alone.pictures.size(), withWorker.pictures.size());
  const char* names[] = {testing::kFrameWin, testing::kPresegWin, testing::kLabelWin};
  for (size_t event = 0; event < alone.pictures.size(); ++event) {
    for (int w = 0; w < 3; ++w) {
      ASSERT_EQ(withWorker.pictures[event][w], alone.pictures[event][w]) << names[w] << " differs after event "
                                                                         << event;
    }
  }
  EXPECT_EQ(withWorker.printed, alone.printed);
  EXPECT_EQ(withWorker.errors, alone.errors);
  for (size_t frame = 0; frame < alone.saved.size(); ++frame) {
    EXPECT_TRUE(SameImage(withWorker.saved[frame], alone.saved[frame])) << "label image of frame " << frame;
  }
}

TEST(NeighbourPreparer, SessionOnStillsShowsPrintsAndSavesWhatTheLabellerAloneDoes) {
  RandomSessionOptions options;
  options.frames = 5;
  options.waitBeforeKeyPercent = 50;
  ExpectSameSessionWithWorker(options);
}

TEST(NeighbourPreparer, SessionOnAMovieWithKeysWhileTheWorkerIsBusyMatchesToo) {
  RandomSessionOptions options;
  options.frames = 6;
  options.movie = true;
  options.waitBeforeKeyPercent = 20;
  ExpectSameSessionWithWorker(options);
  options.frames = 14;  // key frames 4 apart, B-frames: pictures depend on the frames decoded before them
  options.encoder = "mpeg4 -bf 2";
  options.waitBeforeKeyPercent = 50;
  ExpectSameSessionWithWorker(options);
}

// A still the worker read is shown only while its file is unchanged: replaced on disk meanwhile, Space shows
// the new file, as the labeller alone would.
TEST(NeighbourPreparer, AStillChangedOnDiskAfterItWasPreparedIsReadAgain) {
  testing::PaintingSession s(3);
  const cv::Mat replacement(48, 64, CV_8UC3, cv::Scalar(0, 200, 0));
  cv::Mat shown;
  s.windows.Do([&] {
    s.app.WaitForNeighbours();
    cv::imwrite(s.dir.File("frame1.png"), replacement);
  });
  s.windows.Key(' ');
  s.windows.Do([&] { shown = s.windows.lastShown[testing::kFrameWin].clone(); });
  s.Run();
  EXPECT_TRUE(SameImage(shown, replacement));
}

// "P" carries from the frame after as the labeller alone would, also when that still was replaced on disk after
// the worker read it and computed the flow: here the new file shows the square moved 6 pixels.
TEST(NeighbourPreparer, CarryingFromAStillChangedOnDiskUsesTheNewFile) {
  auto carried = [](bool prepareNeighbours) {
    testing::PaintingSession s(2, {160, 120}, 160, prepareNeighbours);
    cv::RNG rng(5);
    cv::Mat texture(40, 40, CV_8UC3);
    rng.fill(texture, cv::RNG::UNIFORM, 0, 256);
    auto still = [&texture](int x) {
      cv::Mat frame(120, 160, CV_8UC3, cv::Scalar(70, 70, 70));
      texture.copyTo(frame(cv::Rect(x, 40, 40, 40)));
      return frame;
    };
    cv::imwrite(s.dir.File("frame0.png"), still(50));
    cv::imwrite(s.dir.File("frame1.png"), still(50));
    cv::Mat labels = cv::Mat::zeros(120, 160, CV_8UC3);
    labels(cv::Rect(50, 40, 40, 40)).setTo(cv::Scalar(142, 0, 0));
    cv::imwrite(s.LabelFile(1), labels);
    cv::Mat result;
    s.windows.Do([&] {
      s.app.WaitForNeighbours();
      cv::imwrite(s.dir.File("frame1.png"), still(56));
    });
    s.windows.Key('P');
    s.windows.Do([&] { result = s.app.strokes().strokes().back().carried->clone(); });
    s.Run();
    return result;
  };
  const cv::Mat alone = carried(false);
  EXPECT_TRUE(SameImage(carried(true), alone));
  EXPECT_GT(cv::countNonZero(alone.reshape(1).colRange(0, 3 * 48)), 0);  // the square carried back, left of 50
}

// Each prepared piece on its own: the picture the timeline would read, the presegmentation and flows the
// foreground would compute, for the frame after and the frame before; nothing for a setting no longer chosen.
TEST(NeighbourPreparer, PreparesBothNeighboursExactlyAndForgetsAnotherSetting) {
  testing::TempDir dir;
  const std::string movie = dir.File("clip.avi");
  testing::WriteIndexedMovie(movie, 4, {64, 48});
  Timeline timeline(movie);
  ::testing::internal::CaptureStdout();
  timeline.ReloadMovie();
  timeline.GoToFrame(1);
  ::testing::internal::GetCapturedStdout();
  NeighbourPreparer preparer(timeline.Companion(), dir.path().string(), LabelColours({}));
  NeighbourPreparer::Situation situation{1, {timeline.frame(), timeline.frameSerial()}, {}, 4, true, {}, 77};
  situation.params.algorithm = kMeanShiftPreseg1;
  preparer.Follow(situation);
  preparer.WaitUntilIdle();

  PresegEngine engine;
  LabelCarrier carrier;
  cv::Mat currentGrey;
  cv::cvtColor(timeline.frame(), currentGrey, cv::COLOR_BGR2GRAY);
  for (int neighbour : {0, 2}) {
    const DeliveredFrame picture = preparer.Picture(neighbour);
    ASSERT_FALSE(picture.image.empty()) << neighbour;
    EXPECT_EQ(testing::ReadFrameIndex(picture.image), neighbour);
    EXPECT_TRUE(SameImage(picture.image, timeline.FrameAt(neighbour).image));
    PreparedSegmentation supplied;
    ASSERT_TRUE(preparer.Supply(picture.image, situation.params, 5, supplied));
    Random random;
    const PreparedSegmentation computed = engine.Segment(picture.image, situation.params, random);
    EXPECT_TRUE(SameImage(supplied.colour, computed.colour) && SameImage(supplied.edges, computed.edges));
    EXPECT_EQ(supplied.report, computed.report);
    EXPECT_EQ(supplied.randomAfter, computed.randomAfter);
    cv::Mat grey;
    cv::cvtColor(picture.image, grey, cv::COLOR_BGR2GRAY);
    EXPECT_TRUE(SameImage(preparer.Flow(picture.serial, situation.picture.serial), carrier.Flow(grey, currentGrey)));
    EXPECT_TRUE(SameImage(preparer.Flow(situation.picture.serial, picture.serial), carrier.Flow(currentGrey, grey)));
  }
  PresegParams graph;
  graph.algorithm = kGraphPreseg;
  PreparedSegmentation supplied;
  EXPECT_FALSE(preparer.Supply(preparer.Picture(2).image, graph, 77, supplied));
  situation.params = graph;
  preparer.Follow(situation);
  preparer.WaitUntilIdle();
  EXPECT_TRUE(preparer.Supply(preparer.Picture(2).image, graph, 77, supplied));
  EXPECT_FALSE(preparer.Supply(preparer.Picture(2).image, graph, 78, supplied));  // its colours come from 77 on
  EXPECT_FALSE(preparer.Supply(preparer.Picture(2).image, situation.params = {}, 77, supplied));
}

// With assist on, the worker prepares the next frame's assist for both ways of leaving the current frame. Entering
// it as the folder holds the frame left, the foreground takes the worker's very completion, which is what it
// computes itself; once the frame's proposal or a neighbour's label image changes on disk, the preparation no
// longer applies.
TEST(NeighbourPreparer, PreparesTheNextFramesAssistAndItAppliesOnlyWhileTheFolderIsUnchanged) {
  testing::TempDir dir;
  const std::string movie = dir.File("clip.avi");
  testing::WriteIndexedMovie(movie, 4, {64, 48});
  const LabelSet labels = {{255, 0, 0, "red", 1}, {0, 255, 0, "green", 2}};
  auto store = [&](int frame, int split) {
    cv::Mat image(48, 64, CV_8UC3, cv::Scalar(0, 0, 255));
    image.colRange(split, 64).setTo(cv::Scalar(0, 255, 0));
    cv::imwrite(LabelImagePath(dir.path().string(), frame), image);
    return image;
  };
  store(1, 20);
  const cv::Mat third = store(3, 40);
  const std::string proposalDir = dir.File("proposals");
  std::filesystem::create_directory(proposalDir);
  cv::imwrite(LabelImagePath(proposalDir, 2), third);
  const auto proposals = std::make_shared<const ProposalFolder>(proposalDir, labels);
  Timeline timeline(movie);
  ::testing::internal::CaptureStdout();
  timeline.ReloadMovie();
  timeline.GoToFrame(1);
  NeighbourPreparer preparer(timeline.Companion(), dir.path().string(), LabelColoursOf(labels), proposals);
  NeighbourPreparer::Situation situation{1, timeline.delivered(), {}, 4, true, {}, 77};
  situation.assist = true;
  situation.accepted = cv::Mat(48, 64, CV_8UC3, cv::Scalar(0, 255, 0));
  situation.completions = 1;
  preparer.Follow(situation);
  preparer.WaitUntilIdle();
  timeline.OfferPicture(2, preparer.Picture(2));
  timeline.GoToFrame(2);
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(preparer.SupplyAssist(2, timeline.frameSerial()).size(), 2u);

  const cv::Mat black = cv::Mat::zeros(48, 64, CV_8UC3);
  const cv::Mat nothing = cv::Mat::zeros(48, 64, CV_8UC1);
  auto complete = [&](bool supplied) {
    PresegEngine preseg;
    preseg.CreatePresegImages({64, 48});
    FrameAssistant assistant(timeline, preseg, labels, dir.path().string(), nullptr);
    if (supplied) assistant.SetSupplier(&preparer);
    assistant.SetProposals(proposals);
    return assistant.Complete(black, nothing);
  };
  const auto prepared = preparer.SupplyAssist(2, timeline.frameSerial());
  const cv::Mat taken = complete(true);
  EXPECT_EQ(taken.data, prepared[1]->first.labels.data);
  EXPECT_TRUE(SameImage(taken, complete(false)));

  PresegEngine preseg;
  preseg.CreatePresegImages({64, 48});
  FrameAssistant staying(timeline, preseg, labels, dir.path().string(), nullptr);  // the annotator stays
  staying.SetProposals(proposals);
  EXPECT_TRUE(SameImage(staying.Complete(black, nothing), taken));
  cv::imwrite(LabelImagePath(proposalDir, 2), cv::Mat(48, 64, CV_8UC3, cv::Scalar(0, 0, 255)));
  const cv::Mat newProposal = complete(true);
  EXPECT_TRUE(SameImage(staying.Complete(black, nothing), newProposal));
  EXPECT_NE(newProposal.data, prepared[1]->first.labels.data);
  EXPECT_TRUE(SameImage(newProposal, complete(false)));
  EXPECT_FALSE(SameImage(newProposal, taken));

  store(3, 0);
  const cv::Mat afterChange = complete(true);
  EXPECT_NE(afterChange.data, prepared[1]->first.labels.data);
  EXPECT_TRUE(SameImage(afterChange, complete(false)));
  EXPECT_FALSE(SameImage(afterChange, taken));
}

}  // namespace
}  // namespace labeler
