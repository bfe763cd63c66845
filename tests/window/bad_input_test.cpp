// The bad-input matrix: the built labeller on broken, missing and odd inputs. Every case ends with one clear
// message and its documented exit status, or, where the input is usable after conversion, runs normally and
// quits on Escape; never a crash or a hang.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <sstream>

#include "support/temp_dir.h"
#include "support/test_media.h"
#include "support/x_session.h"

namespace labeler {
namespace {

using testing::DisplayedProcess;
using testing::TempDir;

class BadInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { x_ = new testing::XvfbServer(); }
  static void TearDownTestSuite() {
    delete x_;
    x_ = nullptr;
  }

  void SetUp() override {
    std::filesystem::create_directory(dir_.File("labels"));
    cv::Mat frame(48, 64, CV_8UC3, cv::Scalar(40, 90, 140));
    cv::imwrite(dir_.File("a.png"), frame);
    stills_ = dir_.Write("stills.txt", dir_.File("a.png") + "\n");
    labels_ = dir_.Write("labels.txt", "= 1 road 128 64 128\n");
  }

  std::string Meta(const std::string& timeline, const std::string& labels, const std::string& labelDir) {
    return dir_.Write("case.meta", testing::MetaText(timeline, labels, labelDir));
  }

  struct Outcome {
    int status;
    std::string output;  // standard output and standard error
  };
  // Runs the labeller on `meta`; when it starts up fully, presses `keys` and then Escape.
  Outcome Run(const std::string& meta, const std::string& keys = "") {
    DisplayedProcess labeler(*x_, {LABELER_BINARY, meta}, dir_.path().string());
    std::optional<int> status = labeler.WaitForExit(3);
    if (!status) {
      std::string window = testing::FindWindow(*x_, "Click Me!");
      if (!window.empty()) {
        testing::RunOnDisplay(*x_, "xdotool windowfocus --sync " + window + " key --delay 100 " + keys +
                                       (keys.empty() ? "" : " ") + "Escape");
      }
      status = labeler.WaitForExit(20);
    }
    return {status.value_or(-1), labeler.output() + labeler.errors()};
  }

  void Expect(const std::string& meta, int status, const std::string& message, const std::string& keys = "") {
    Outcome outcome = Run(meta, keys);
    EXPECT_EQ(outcome.status, status) << message << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(message), std::string::npos) << outcome.output;
  }

  static testing::XvfbServer* x_;
  TempDir dir_;
  std::string stills_;
  std::string labels_;
};

testing::XvfbServer* BadInput::x_ = nullptr;

TEST_F(BadInput, MetaFiles) {
  Expect(dir_.File("nothing.meta"), 1, "cannot open meta file " + dir_.File("nothing.meta"));
  Expect(dir_.Write("empty.meta", ""), 1, "FILE_TIMELINE is missing, FILE_LABEL_NAMES is missing");
  std::string binary(4096, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 7919) % 256);
  Expect(dir_.Write("binary.meta", binary), 1, "is missing");
  std::string huge;
  for (int i = 0; i < 2000000; ++i) huge += "token ";
  Expect(dir_.Write("huge.meta", huge + testing::MetaText(stills_, labels_, dir_.File("labels"))), 0,
         "Loading still images");
}

TEST_F(BadInput, EachRequiredKeyMissingInTurn) {
  const std::string complete = testing::MetaText(stills_, labels_, dir_.File("labels"));
  for (const char* key : {"FILE_TIMELINE", "FILE_LABEL_NAMES", "DIR_LABEL_IMGS", "FILE_TIMELINE_JUMPBY",
                          "MAX_WINDOW_DIM"}) {
    std::string text;
    std::istringstream lines(complete);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind(std::string(key) + " ", 0) != 0) text += line + "\n";
    }
    Expect(dir_.Write("missing.meta", text), 1, std::string(key) + " is missing");
  }
  Expect(dir_.Write("zero.meta", complete + "MAX_WINDOW_DIM 0\n"), 1, "MAX_WINDOW_DIM is 0 but must be 1 to 16384");
}

TEST_F(BadInput, ValuesOf499And500Characters) {
  std::string name499 = dir_.path().string() + "/";
  name499 += std::string(499 - name499.size() - 4, 'm') + ".avi";
  ASSERT_EQ(name499.size(), 499u);
  Expect(Meta(name499, labels_, dir_.File("labels")), 1, "Failed to open FG avi - exiting.");
  Expect(Meta(name499 + "x", labels_, dir_.File("labels")), 1, "the value of FILE_TIMELINE is longer than 499");
}

TEST_F(BadInput, LabelNames) {
  Expect(Meta(stills_, dir_.File("none.txt"), dir_.File("labels")), 1, "cannot open label-names file");
  Expect(Meta(stills_, dir_.Write("l0.txt", ""), dir_.File("labels")), 1, "defines no label");
  Expect(Meta(stills_, dir_.Write("l1.txt", std::string("\x01\x02\xff\xfe garbage\n\x7f", 16)), dir_.File("labels")),
         1, "defines no label");
  Expect(Meta(stills_, dir_.Write("l2.txt", "=1 glued 1 2 3\nshort 1 2\n"), dir_.File("labels")), 1,
         "l2.txt:2: label line skipped");
}

TEST_F(BadInput, Timelines) {
  Expect(Meta(dir_.File("clip.mkv"), labels_, dir_.File("labels")), 1, "Was expecting a .txt or .avi");
  Expect(Meta(dir_.File("absent.avi"), labels_, dir_.File("labels")), 1, "Failed to open FG avi - exiting.");
  Expect(Meta(dir_.Write("empty.avi", ""), labels_, dir_.File("labels")), 1, "Failed to open FG avi - exiting.");
  Expect(Meta(dir_.Write("text.avi", "this is no movie\n"), labels_, dir_.File("labels")), 1,
         "Failed to open FG avi - exiting.");
  testing::WriteIndexedMovie(dir_.File("whole.avi"), 10, {64, 48});
  std::ifstream whole(dir_.File("whole.avi"), std::ios::binary);
  std::string head(2048, '\0');
  whole.read(head.data(), static_cast<std::streamsize>(head.size()));
  Outcome truncated = Run(Meta(dir_.Write("truncated.avi", head), labels_, dir_.File("labels")));
  EXPECT_EQ(truncated.status, 1) << truncated.output;
  EXPECT_TRUE(truncated.output.find("Failed to open FG avi") != std::string::npos ||
              truncated.output.find("truncated.avi") != std::string::npos)
      << truncated.output;
}

TEST_F(BadInput, StillLists) {
  Expect(Meta(dir_.Write("gone.txt", dir_.File("gone.png") + "\n"), labels_, dir_.File("labels")), 1,
         "cannot load still image " + dir_.File("gone.png") + " (frame 0)");
  std::filesystem::create_directory(dir_.File("folder.png"));
  Expect(Meta(dir_.Write("unreadable.txt", dir_.File("folder.png") + "\n"), labels_, dir_.File("labels")), 1,
         "cannot load still image");
  cv::imwrite(dir_.File("grey.png"), cv::Mat(48, 64, CV_8UC1, cv::Scalar(9)));
  cv::imwrite(dir_.File("deep.png"), cv::Mat(48, 64, CV_16UC3, cv::Scalar(9000, 0, 60000)));
  Expect(Meta(dir_.Write("converted.txt", dir_.File("grey.png") + "\n" + dir_.File("deep.png") + "\n"), labels_,
              dir_.File("labels")),
         0, "Loading still images", "space");
  cv::imwrite(dir_.File("wide.png"), cv::Mat(48, 80, CV_8UC3, cv::Scalar(1, 2, 3)));
  Expect(Meta(dir_.Write("sizes.txt", dir_.File("a.png") + "\n" + dir_.File("wide.png") + "\n"), labels_,
              dir_.File("labels")),
         1, "wide.png (frame 1) is 80 x 48 but the first frame is 64 x 48", "space");
}

TEST_F(BadInput, LabelFolders) {
  dir_.Write("file-not-folder", "x");
  Expect(Meta(stills_, labels_, dir_.File("file-not-folder")), 1, "is not a folder");
  Expect(Meta(stills_, labels_, dir_.File("new/labels")), 0, "Created label folder " + dir_.File("new/labels"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("new/labels")));
}

TEST_F(BadInput, StoredLabelImages) {
  const std::string meta = Meta(stills_, labels_, dir_.File("labels"));
  const std::string stored = dir_.File("labels/frame-000000.png");
  dir_.Write("labels/frame-000000.png", "\x89PNG\r\n\x1a\nnot really");
  Expect(meta, 0, "can't be decoded as an image; frame 0 starts black");
  for (const cv::Mat& image : {cv::Mat(48, 64, CV_8UC1, cv::Scalar(5)), cv::Mat(48, 64, CV_8UC4, cv::Scalar(1, 2, 3, 4)),
                               cv::Mat(48, 64, CV_16UC3, cv::Scalar(1, 2, 3))}) {
    cv::imwrite(stored, image);
    Outcome outcome = Run(meta);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_EQ(outcome.output.find("warning"), std::string::npos) << outcome.output;
  }
  cv::imwrite(stored, cv::Mat(10, 10, CV_8UC3, cv::Scalar(1, 2, 3)));
  Expect(meta, 0, "is 10 x 10 but the frame is 64 x 48");
}

}  // namespace
}  // namespace labeler
