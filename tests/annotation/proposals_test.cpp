// Proposals: masks made elsewhere, read as the labels they name, laid over a frame by "m" and taken by label
// assist as evidence.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>

#include "annotation/proposal_folder.h"
#include "common/fatal_error.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::CountColour;
using testing::kCarBgr;
using testing::kLabelWin;
using testing::kRoadBgr;
using testing::PaintingSession;

const cv::Rect kBox(10, 10, 30, 20);  // the blue box of every frame of PaintingSession

LabelSet RoadCarSky() {
  return {{128, 64, 128, "road", 1}, {0, 0, 142, "car", 2}, {70, 130, 180, "sky", -1}};
}

// A colour mask keeps the label colours and black, counting any other colour; an index mask with a classes.csv
// beside it means the labels of the names it lists, whatever their order, 255 being unlabelled; a missing mask
// is no proposal, one of another size is refused, and a classes.csv that can't be read stops the labeller.
TEST(ProposalFolder, ReadsColourAndIndexMasksAsTheLabelsTheyName) {
  testing::TempDir dir;
  const cv::Size size(8, 4);
  std::filesystem::create_directories(dir.File("colour"));
  cv::Mat colour(size, CV_8UC3, cv::Scalar(kRoadBgr));
  colour.at<cv::Vec3b>(0, 0) = kCarBgr;
  colour.at<cv::Vec3b>(0, 1) = cv::Vec3b(1, 2, 3);
  colour.at<cv::Vec3b>(0, 2) = cv::Vec3b(0, 0, 0);
  cv::imwrite(LabelImagePath(dir.File("colour"), 3), colour);
  cv::imwrite(LabelImagePath(dir.File("colour"), 4), cv::Mat(5, 5, CV_8UC3, cv::Scalar(kRoadBgr)));
  const ProposalFolder colours(dir.File("colour"), RoadCarSky());
  const Proposal three = colours.Read(3, size);
  EXPECT_TRUE(three.problem.empty());
  EXPECT_EQ(three.unknown, 1);
  cv::Mat expected = colour.clone();
  expected.at<cv::Vec3b>(0, 1) = cv::Vec3b(0, 0, 0);
  EXPECT_EQ(cv::norm(three.labels, expected, cv::NORM_INF), 0);
  EXPECT_TRUE(colours.StillTheSame(three, 3));
  const Proposal none = colours.Read(2, size);
  EXPECT_FALSE(none.stamp.exists);
  EXPECT_TRUE(none.labels.empty());
  EXPECT_EQ(colours.Read(4, size).problem, "is 5 x 5, frame 4 is 8 x 4");

  std::filesystem::create_directories(dir.File("index"));
  dir.Write("index/classes.csv", "index,name,red,green,blue,hot_key\n0,car,0,0,142,2\n1,\"road\",128,64,128,1\n"
                                 "2,tree,0,90,0,\n");
  cv::Mat numbers(size, CV_8U, cv::Scalar(1));
  numbers.at<uchar>(0, 0) = 0;    // car
  numbers.at<uchar>(0, 1) = 255;  // unlabelled
  numbers.at<uchar>(0, 2) = 2;    // a tree: no label of this project
  numbers.at<uchar>(0, 3) = 7;    // a number the file doesn't list
  cv::imwrite(LabelImagePath(dir.File("index"), 3), numbers);
  const Proposal indexed = ProposalFolder(dir.File("index"), RoadCarSky()).Read(3, size);
  EXPECT_EQ(indexed.unknown, 2);
  expected.setTo(cv::Scalar(kRoadBgr));
  expected.at<cv::Vec3b>(0, 0) = kCarBgr;
  for (int x = 1; x <= 3; ++x) expected.at<cv::Vec3b>(0, x) = cv::Vec3b(0, 0, 0);
  EXPECT_EQ(cv::norm(indexed.labels, expected, cv::NORM_INF), 0);

  dir.Write("index/classes.csv", "index,name\ncar,0\n");
  try {
    ProposalFolder(dir.File("index"), RoadCarSky());
    ADD_FAILURE() << "a classes.csv that can't be read was taken";
  } catch (const FatalError& error) {
    EXPECT_NE(std::string(error.what()).find(dir.File("index/classes.csv") + ":2: not \"index,name,...\""),
              std::string::npos)
        << error.what();
  }
}

// Frame 0's proposal: the box car, the rest road. Label assist with nothing painted completes the frame as the
// proposal says; "m" lays it as one stroke that labels only what is unlabelled and is undone like the others;
// a frame without a proposal, or with one of another size, says so in one line and gets no stroke.
TEST(Proposals, AreLaidByMAndAreEvidenceForTheAssist) {
  PaintingSession s;
  const std::string proposals = s.dir.File("proposals");
  std::filesystem::create_directories(proposals);
  cv::Mat proposal(48, 64, CV_8UC3, cv::Scalar(kRoadBgr));
  proposal(kBox).setTo(cv::Scalar(kCarBgr));
  cv::imwrite(LabelImagePath(proposals, 0), proposal);
  cv::imwrite(LabelImagePath(proposals, 2), cv::Mat(10, 10, CV_8UC3, cv::Scalar(kCarBgr)));
  std::ofstream(s.meta, std::ios::app) << "DIR_PROPOSAL_IMGS " << proposals << "\n";

  const std::string blank = s.dir.File("blank.png"), out = s.dir.File("out.png");
  cv::imwrite(blank, cv::Mat::zeros(48, 64, CV_8UC3));
  const std::string command = std::string(LABELER_TOOL) + " assist --meta " + s.meta + " --frame 0 --strokes " +
                              blank + " --out " + out + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(cv::norm(cv::imread(out, cv::IMREAD_COLOR), proposal, cv::NORM_INF), 0);

  s.windows.Key('2');
  s.Click({55, 5});  // car where the proposal says road
  s.windows.Key('m');
  cv::Mat laid, undone;
  s.windows.Do([&] {
    laid = s.windows.lastShown[kLabelWin].clone();
    EXPECT_EQ(s.app.strokes().strokes().size(), 2u);
  });
  s.windows.Key(26);
  s.windows.Do([&] { undone = s.windows.lastShown[kLabelWin].clone(); });
  s.windows.Key(25);
  s.windows.Key(' ');
  s.windows.Key('m');
  s.windows.Key(' ');
  s.windows.Key('m');
  s.windows.Do([&s] { EXPECT_TRUE(s.app.strokes().strokes().empty()); });
  ASSERT_EQ(s.Run(), 0);
  EXPECT_TRUE(s.Printed("Laid the proposal of frame 0 over it.\n"));
  EXPECT_TRUE(s.Printed("No proposal of frame 1 in " + proposals + ".\n"));
  EXPECT_TRUE(s.Printed("The proposal of frame 2, " + LabelImagePath(proposals, 2) +
                        ", can't be used: it is 10 x 10, frame 2 is 64 x 48.\n"));
  EXPECT_EQ(laid.at<cv::Vec3b>(5, 55), kCarBgr);  // the stroke before it kept
  EXPECT_EQ(CountColour(laid(kBox), kCarBgr), kBox.area());
  EXPECT_EQ(laid.at<cv::Vec3b>(40, 5), kRoadBgr);
  EXPECT_EQ(CountColour(undone, kRoadBgr), 0);
  const cv::Mat saved = s.Stored(0);
  EXPECT_EQ(saved.at<cv::Vec3b>(5, 55), kCarBgr);
  EXPECT_EQ(saved.at<cv::Vec3b>(40, 5), kRoadBgr);
}

}  // namespace
}  // namespace labeler
