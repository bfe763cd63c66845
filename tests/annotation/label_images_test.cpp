// Label images through whole painting sessions: what is rendered, saved and loaded.
#include "annotation/label_images.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "common/fatal_error.h"
#include "support/one_still_label_images.h"
#include "support/oversized_label_images.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::CountColour;
using testing::kCarBgr;
using testing::kFrameWin;
using testing::kLabelWin;
using testing::kRoadBgr;
using testing::PaintingSession;
using testing::TempDir;

const char* kSettingBar = "N,P,Q,O,U,F";

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(LabelImagePath, PadsToSixDigits) {
  EXPECT_EQ(LabelImagePath("labels", 7), "labels/frame-000007.png");
  EXPECT_EQ(LabelImagePath("labels", 1234567), "labels/frame-1234567.png");
}

TEST(LabelImages, DiscsWithoutPresegmentationColourExactlyTheDiscs) {
  PaintingSession s;
  s.Drag({{20, 40}, {24, 40}, {50, 8}});
  s.windows.Key(' ');
  s.Run();
  cv::Mat stored = s.Stored(0);
  ASSERT_FALSE(stored.empty());
  ASSERT_EQ(stored.type(), CV_8UC3);
  cv::Mat expected = cv::Mat::zeros(48, 64, CV_8UC3);
  for (cv::Point p : {cv::Point(20, 40), cv::Point(24, 40), cv::Point(50, 8)}) {
    cv::circle(expected, p, 10, cv::Scalar(128, 64, 128), cv::FILLED, cv::LINE_8);
  }
  EXPECT_EQ(cv::norm(stored, expected, cv::NORM_INF), 0);
  EXPECT_FALSE(std::filesystem::exists(s.LabelFile(1)));
}

TEST(LabelImages, PresegmentedStrokeColoursWholeRegionsFarLargerThanItsDiscs) {
  PaintingSession s;
  s.windows.MoveTrackbar(kSettingBar, 1);
  s.windows.Mouse(kLabelWin, ui::kMouseMove, 1, 1);  // brush radius 10 -> 1 via the wheel, on any window
  for (int i = 0; i < 9; ++i) s.windows.Mouse(kLabelWin, ui::kWheelBack, 1, 1);
  s.Click({25, 20});
  s.windows.Key(' ');
  s.Run();
  cv::Mat stored = s.Stored(0);
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(CountColour(stored, kRoadBgr), 30 * 20);  // the whole box, from a disc of radius 1
  EXPECT_EQ(stored.at<cv::Vec3b>(10, 10), kRoadBgr);
  EXPECT_EQ(stored.at<cv::Vec3b>(9, 10), cv::Vec3b(0, 0, 0));
}

TEST(LabelImages, StrokeAtTheFrameEdgeChangesOnlyPixelsInside) {
  PaintingSession s;
  s.Click({0, 0});
  s.windows.Key(' ');
  s.windows.MoveTrackbar(kSettingBar, 1);
  s.Click({63, 47});
  s.windows.Key(' ');
  s.Run();
  cv::Mat disc = s.Stored(0);
  cv::Mat expected = cv::Mat::zeros(48, 64, CV_8UC3);
  cv::circle(expected, cv::Point(0, 0), 10, cv::Scalar(128, 64, 128), cv::FILLED, cv::LINE_8);
  EXPECT_EQ(cv::norm(disc, expected, cv::NORM_INF), 0);
  // A presegmented click in the far corner colours its region, the background: everything but the box.
  EXPECT_EQ(CountColour(s.Stored(1), kRoadBgr), 64 * 48 - 30 * 20);
}

TEST(LabelImages, LaterStrokeCoversEarlierOneIncrementallyAndAfterUndo) {
  PaintingSession s;
  s.Drag({{20, 20}, {22, 20}});
  s.windows.Key('2');
  s.Drag({{28, 20}, {30, 20}});  // overlaps the first
  s.windows.Do([&s] {
    EXPECT_EQ(s.windows.lastShown[kLabelWin].at<cv::Vec3b>(20, 25), kCarBgr);
  });
  s.Click({55, 40});  // unrelated
  s.windows.Key(26);  // Ctrl+Z: the committed image is rebuilt from all remaining strokes
  s.windows.Key(' ');
  s.Run();
  cv::Mat stored = s.Stored(0);
  EXPECT_EQ(stored.at<cv::Vec3b>(20, 25), kCarBgr);
  EXPECT_EQ(stored.at<cv::Vec3b>(20, 12), kRoadBgr);
  EXPECT_EQ(stored.at<cv::Vec3b>(40, 55), cv::Vec3b(0, 0, 0));
  EXPECT_TRUE(s.Printed("Undo last stroke\n"));
}

TEST(LabelImages, StrokesKeepTheirOwnSettingAfterATrackbarChange) {
  PaintingSession s;
  for (int i = 0; i < 5; ++i) s.windows.Mouse(kLabelWin, ui::kWheelBack, 1, 1);  // radius 5: inside the box
  s.windows.MoveTrackbar(kSettingBar, 1);
  s.Click({25, 20});  // the whole box
  s.windows.MoveTrackbar(kSettingBar, 0);
  s.windows.Key('2');
  s.Click({5, 5});  // a disc only
  s.windows.Key(4);  // Ctrl+D, then redo both: a full render under their own settings
  s.windows.Key(25);
  s.windows.Key(25);
  s.windows.Key(' ');
  s.Run();
  cv::Mat stored = s.Stored(0);
  EXPECT_EQ(CountColour(stored, kRoadBgr), 30 * 20);
  EXPECT_EQ(stored.at<cv::Vec3b>(5, 5), kCarBgr);
  EXPECT_EQ(stored.at<cv::Vec3b>(40, 60), cv::Vec3b(0, 0, 0));
  EXPECT_TRUE(s.Printed("Clearing all strokes in current frame.\n"));
  EXPECT_TRUE(s.Printed("Redo last stroke.\n"));
}

TEST(LabelImages, RenderWhileDrawingEqualsAFullRender) {
  PaintingSession s;
  cv::Mat noisy(48, 64, CV_8UC3);
  cv::RNG rng(3);
  rng.fill(noisy, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noisy, noisy, cv::Size(5, 5), 0);
  cv::imwrite(s.dir.File("frame0.png"), noisy);  // many small regions under the pyramid setting
  s.windows.Key('2');
  s.Click({5, 5});  // an earlier stroke of another label under the new one
  s.windows.Key('1');
  s.windows.MoveTrackbar(kSettingBar, 1);
  for (int i = 0; i < 3; ++i) s.windows.Mouse(kLabelWin, ui::kWheelBack, 1, 1);
  std::vector<cv::Point> path;
  for (int i = 0; i < 25; ++i) path.push_back({2 + i * 2, 4 + (i * 7) % 40});
  s.Drag(path);
  cv::Mat drawn;
  s.windows.Do([&] { drawn = s.windows.lastShown[kLabelWin].clone(); });
  s.windows.Key(26);  // undo and redo: the label map is rebuilt from scratch
  s.windows.Key(25);
  s.windows.Do([&] { EXPECT_EQ(cv::norm(s.windows.lastShown[kLabelWin], drawn, cv::NORM_INF), 0); });
  s.Run();
  EXPECT_GT(CountColour(drawn, kRoadBgr), 0);
}

TEST(LabelImages, FrameLeftWithoutStrokesLeavesTheStoredFileUntouched) {
  PaintingSession s;
  cv::Mat old(48, 64, CV_8UC3, cv::Scalar(142, 0, 0));
  cv::imwrite(s.LabelFile(0), old);
  std::string before = ReadBytes(s.LabelFile(0));
  for (int i = 0; i < 3; ++i) s.Click({10 * i + 5, 5});
  s.windows.Key(4);  // Ctrl+D
  s.windows.Key(' ');
  s.windows.Key(8);
  s.Run();
  EXPECT_EQ(ReadBytes(s.LabelFile(0)), before);
  EXPECT_FALSE(std::filesystem::exists(s.LabelFile(1)));
  EXPECT_EQ(s.windows.lastShown[kLabelWin].at<cv::Vec3b>(30, 30), kCarBgr);  // loaded again
}

TEST(LabelImages, ReloadSavesAndLeavesNothingToUndo) {
  PaintingSession s;
  s.Click({30, 30});
  s.windows.Key('c');
  s.windows.Key(26);
  s.windows.Key(27);
  s.Run();
  EXPECT_TRUE(s.Printed("Undo last stroke\nUndo: no strokes left to undo.\n"));
  EXPECT_EQ(s.Stored(0).at<cv::Vec3b>(30, 30), kRoadBgr);
  EXPECT_EQ(s.windows.lastShown[kLabelWin].at<cv::Vec3b>(30, 30), kRoadBgr);
}

TEST(LabelImages, BackspaceOnTheFirstFrameSavesReloadsAndEmptiesTheCache) {
  PaintingSession s;
  s.windows.MoveTrackbar(kSettingBar, 3);
  s.Click({30, 30});
  s.windows.Key(8);
  s.windows.Key(26);
  s.Run();
  EXPECT_EQ(s.Stored(0).at<cv::Vec3b>(30, 30), kRoadBgr);
  size_t first = s.printed.find("\t\t Caching segmentation #2\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(s.printed.find("\t\t Caching segmentation #2\n", first + 1), std::string::npos);
  EXPECT_TRUE(s.Printed("Undo: no strokes left to undo.\n"));
}

// A digit pressed while painting chooses the label of the next stroke and leaves the drag going.
TEST(LabelImages, ADigitDuringADragLeavesTheStrokeGoing) {
  PaintingSession s;
  s.windows.Mouse(kFrameWin, ui::kLeftPress, 5, 40, ui::kFlagLeft);
  s.windows.Mouse(kFrameWin, ui::kMouseMove, 20, 40, ui::kFlagLeft);
  s.windows.Key('2');
  s.windows.Mouse(kFrameWin, ui::kMouseMove, 50, 40, ui::kFlagLeft);
  s.windows.Mouse(kFrameWin, ui::kLeftRelease, 50, 40, 0);
  s.Click({55, 5});
  s.windows.Do([&s] { EXPECT_EQ(s.app.strokes().strokes().size(), 2u); });
  s.windows.Key('c');
  s.Run();
  EXPECT_EQ(s.Stored(0).at<cv::Vec3b>(40, 50), kRoadBgr);
  EXPECT_EQ(s.Stored(0).at<cv::Vec3b>(5, 55), kCarBgr);
}

// One Escape with unsaved strokes only warns; the second in a row quits without saving. The script ends in
// Escapes.
TEST(LabelImages, EscapeWarnsOnceThenQuitsWithoutSaving) {
  PaintingSession s;
  s.Click({30, 30});
  s.Click({40, 30});
  ::testing::internal::CaptureStderr();
  s.Run();
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(std::filesystem::exists(s.LabelFile(0)));
  EXPECT_EQ(s.windows.waits, 2);
  EXPECT_NE(errors.find("2 strokes of frame 0 not saved would be lost: Escape again quits without saving, \"c\" "
                        "saves"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("2 strokes of frame 0 discarded"), std::string::npos) << errors;
}

// Another key between two Escapes asks again; "c" after the warning saves, and Escape then quits at once.
TEST(LabelImages, EscapeWarningIsAnsweredByTheNextKey) {
  PaintingSession s;
  s.Click({30, 30});
  s.windows.Key(ui::kKeyEscape);
  s.windows.Key('2');
  s.windows.Key(ui::kKeyEscape);
  s.windows.Key('c');
  ::testing::internal::CaptureStderr();
  s.Run();
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(s.Stored(0).at<cv::Vec3b>(30, 30), kRoadBgr);
  EXPECT_EQ(s.windows.waits, 5);
  EXPECT_EQ(errors.find("discarded"), std::string::npos) << errors;
}

TEST(LabelImages, SavesAtomicallyAndKeepsTheFrameWhenASaveFails) {
  PaintingSession s;
  s.Click({30, 30});
  // The label folder turns into a file: every write fails, whoever runs the test.
  s.windows.Do([&s] {
    std::filesystem::remove_all(s.LabelDir());
    s.dir.Write("labels", "not a folder");
  });
  s.windows.Key(' ');
  s.windows.Do([&s] {
    EXPECT_EQ(s.app.timeline().currentFrame(), 0);
    EXPECT_EQ(s.app.strokes().strokes().size(), 1u);
    std::filesystem::remove(s.LabelDir());  // the annotator fixes the cause ...
    std::filesystem::create_directory(s.LabelDir());
  });
  s.windows.Key(' ');  // ... and presses the key again
  ::testing::internal::CaptureStderr();
  s.Run();
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("cannot save label image " + s.LabelFile(0)), std::string::npos) << errors;
  EXPECT_EQ(s.Stored(0).at<cv::Vec3b>(30, 30), kRoadBgr);
  EXPECT_EQ(s.app.timeline().currentFrame(), 1);
  for (const auto& entry : std::filesystem::directory_iterator(s.LabelDir())) {
    EXPECT_EQ(entry.path().filename(), "frame-000000.png");  // no temporary file left behind
  }
}

TEST(LabelImages, StoredImageOfAnotherSizeIsReportedAndKeptAsBackup) {
  PaintingSession s;
  cv::Mat small(10, 10, CV_8UC3, cv::Scalar(1, 2, 3));
  cv::imwrite(s.LabelFile(0), small);
  std::string before = ReadBytes(s.LabelFile(0));
  s.Click({30, 30});
  s.windows.Key(' ');
  ::testing::internal::CaptureStderr();
  s.Run();
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("is 10 x 10 but the frame is 64 x 48"), std::string::npos) << errors;
  EXPECT_EQ(ReadBytes(s.LabelFile(0) + ".bak"), before);
  EXPECT_EQ(s.Stored(0).size(), cv::Size(64, 48));
}

TEST(LabelImages, PngWhoseChunkClaimsMoreThanTheFileIsNotDecoded) {
  PaintingSession s;
  std::vector<uchar> png;
  cv::imencode(".png", cv::Mat(48, 64, CV_8UC3, cv::Scalar(142, 0, 0)), png);
  // The chunk after IHDR (offset 8 + 25) claims 2 GB: decoding would allocate that much before failing.
  png[33] = 0x7f;
  png[34] = png[35] = png[36] = 0xf0;
  s.dir.Write("labels/frame-000000.png", std::string(png.begin(), png.end()));
  ::testing::internal::CaptureStderr();
  s.Run();
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("can't be decoded as an image; frame 0 starts black"), std::string::npos) << errors;
  EXPECT_EQ(s.windows.lastShown[kLabelWin].at<cv::Vec3b>(30, 30), cv::Vec3b(0, 0, 0));
}

// A label image whose header the decoder reads as hundreds of millions of pixels is reported as undecodable and
// its frame starts black, where the labeller would have spent gigabytes on it.
TEST(LabelImages, LabelImagesFoundByFuzzingAreUnusable) {
  for (const testing::OversizedLabelImage& image : testing::kOversizedLabelImages) {
    PaintingSession s;
    std::filesystem::copy_file(image.Path(), s.LabelFile(0));
    ::testing::internal::CaptureStderr();
    s.Run();
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find(s.LabelFile(0) + " can't be decoded as an image; frame 0 starts black"), std::string::npos)
        << image.name << ": " << errors;
    EXPECT_EQ(s.windows.lastShown[kLabelWin].at<cv::Vec3b>(30, 30), cv::Vec3b(0, 0, 0)) << image.name;
  }
}

TEST(LabelImages, GreyAndAlphaStoredImagesAreConverted) {
  PaintingSession s;
  cv::imwrite(s.LabelFile(0), cv::Mat(48, 64, CV_8UC1, cv::Scalar(70)));
  cv::imwrite(s.LabelFile(1), cv::Mat(48, 64, CV_8UC4, cv::Scalar(142, 0, 0, 255)));
  s.windows.Do([&s] { EXPECT_EQ(s.app.strokes().strokes().size(), 0u); });
  s.windows.Key(' ');
  s.Run();
  EXPECT_EQ(s.windows.lastShown[kLabelWin].at<cv::Vec3b>(0, 0), kCarBgr);
}

TEST(LabelImages, MissingLabelFolderIsCreated) {
  PaintingSession s;
  std::filesystem::remove(s.LabelDir());
  s.Run();
  EXPECT_TRUE(std::filesystem::is_directory(s.LabelDir()));
  EXPECT_TRUE(s.Printed("Created label folder " + s.LabelDir() + "\n"));
}

// A picture made elsewhere is read in each format label pictures come in, whatever the file's name.
TEST(StoredLabelImage, EachLabelFormatIsReadWhateverTheName) {
  TempDir dir;
  const cv::Mat colour(6, 8, CV_8UC3, cv::Scalar(142, 200, 129));
  cv::Mat blackAndWhite(6, 8, CV_8UC1, cv::Scalar(255));
  blackAndWhite.colRange(0, 3).setTo(0);
  struct Format {
    const char* name;
    const char* extension;
    cv::Mat picture;
    std::vector<int> options;
    double tolerance;  // JPEG is lossy
  };
  const Format formats[] = {
      {"png", ".png", colour, {}, 0},
      {"bmp", ".bmp", colour, {}, 0},
      {"tiff", ".tiff", colour, {}, 0},
      {"jpeg", ".jpg", colour, {cv::IMWRITE_JPEG_QUALITY, 100}, 2},
      {"raw ppm", ".ppm", colour, {}, 0},
      {"plain ppm", ".ppm", colour, {cv::IMWRITE_PXM_BINARY, 0}, 0},
      {"raw pgm", ".pgm", blackAndWhite, {}, 0},
      {"raw pbm", ".pbm", blackAndWhite, {}, 0},
      {"plain pbm", ".pbm", blackAndWhite, {cv::IMWRITE_PXM_BINARY, 0}, 0},
  };
  for (const Format& format : formats) {
    std::vector<uchar> bytes;
    ASSERT_TRUE(cv::imencode(format.extension, format.picture, bytes, format.options)) << format.name;
    const cv::Mat read = ReadStoredLabelImage(dir.Write("frame-000000.png", std::string(bytes.begin(), bytes.end())));
    cv::Mat expected = format.picture;
    if (expected.channels() == 1) cv::cvtColor(expected, expected, cv::COLOR_GRAY2BGR);
    ASSERT_EQ(read.type(), CV_8UC3) << format.name;
    EXPECT_LE(cv::norm(read, expected, cv::NORM_INF), format.tolerance) << format.name;
  }
}

// 16-bit samples give their high byte, exact for files written as value x 257 and as value << 8 alike.
TEST(StoredLabelImage, SixteenBitFilesGiveTheirHighByte) {
  TempDir dir;
  const cv::Mat colour(6, 8, CV_8UC3, cv::Scalar(142, 200, 129));
  cv::Mat wide;
  colour.convertTo(wide, CV_16U, 257);
  cv::imwrite(dir.File("x257.png"), wide);
  colour.convertTo(wide, CV_16U, 256);
  cv::imwrite(dir.File("shifted.png"), wide);
  EXPECT_EQ(cv::norm(ReadStoredLabelImage(dir.File("x257.png")), colour, cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(ReadStoredLabelImage(dir.File("shifted.png")), colour, cv::NORM_INF), 0);
}

// A file that starts as no label format does never reaches the image loader, so a damaged one can't be taken
// for a kind of picture whose decoder aborts the process; an intact picture in another format is refused alike.
TEST(StoredLabelImage, FileInNoLabelFormatIsUnusable) {
  TempDir dir;
  EXPECT_TRUE(ReadStoredLabelImage(dir.Write("frame-000000.png", testing::DamagedLabelFileMarkedAsMedical())).empty());

  std::vector<uchar> webp;
  ASSERT_TRUE(cv::imencode(".webp", cv::Mat(6, 8, CV_8UC3, cv::Scalar(142, 0, 0)), webp));
  EXPECT_TRUE(ReadStoredLabelImage(dir.Write("frame-000001.png", std::string(webp.begin(), webp.end()))).empty());
}

// A FIFO in place of a label image would block the loader for ever: it is reported, the frame starts black, and
// the first save keeps it aside as it does any unusable file.
TEST(LabelImages, LabelImageThatIsAFifoIsUnusableNotBlocking) {
  PaintingSession s;
  ASSERT_EQ(mkfifo(s.LabelFile(0).c_str(), 0600), 0);
  s.Click({30, 30});
  s.windows.Key('c');
  ::testing::internal::CaptureStderr();
  s.Run();
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find(s.LabelFile(0) + " is a FIFO, not an image file; frame 0 starts black"), std::string::npos)
      << errors;
  EXPECT_EQ(s.Stored(0).at<cv::Vec3b>(30, 30), kRoadBgr);
  EXPECT_TRUE(std::filesystem::is_fifo(s.LabelFile(0) + ".bak"));
}

TEST(LabelFolder, LeftoversOfInterruptedSavesAreRemovedAndADanglingLinkIsNamed) {
  TempDir dir;
  const std::string labels = dir.File("labels");
  std::filesystem::create_directory(labels);
  dir.Write("labels/.frame-000003.png.Ab12Cd", "torn");
  dir.Write("labels/.frame-000004.png.x1y2z3", "torn");
  dir.Write("labels/.frame-000003.png.bak", "kept");
  dir.Write("labels/notes.txt", "kept");
  ::testing::internal::CaptureStderr();
  PrepareLabelFolder(labels);
  RemoveLeftoverSaves(labels);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "labeler: removed 2 temporary files that an interrupted save left in " + labels + "\n");
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(labels)) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".frame-000003.png.bak", "notes.txt"}));

  std::filesystem::create_directory_symlink(dir.File("gone"), dir.File("link"));
  try {
    PrepareLabelFolder(dir.File("link"));
    FAIL() << "accepted a dangling link";
  } catch (const FatalError& error) {
    EXPECT_NE(std::string(error.what()).find("is a link to a missing folder"), std::string::npos) << error.what();
  }
}

// A key or mouse event whose work fails (here the window system can't show a picture) is reported in one line;
// the session goes on, the windows are brought up to date, and the strokes reach the disk.
TEST(LabelImages, WorkThatFailsIsReportedAndTheStrokesAreKept) {
  PaintingSession s(2);
  s.Click({20, 20});
  s.windows.Do([&s] { s.windows.failingShows = 1; });
  s.windows.Key('o');
  s.windows.Do([&s] { s.windows.failingShows = 1; });
  s.Click({50, 40});
  s.windows.Key(' ');
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(s.Run(), 0);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("labeler: error: the key \"o\" failed: no memory for the picture; the strokes of frame 0 "
                        "are kept\n"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("labeler: error: a mouse event failed"), std::string::npos) << errors;
  const cv::Mat stored = s.Stored(0);
  EXPECT_EQ(stored.at<cv::Vec3b>(20, 20), kRoadBgr);
  EXPECT_EQ(stored.at<cv::Vec3b>(40, 50), kRoadBgr);
}

// "g" that fails half-way (here showing its progress on a large frame) leaves the setting the trackbar shows,
// which the next stroke records.
TEST(LabelImages, AFailedCachingOfEverySettingKeepsTheChosenOne) {
  PaintingSession s(1, {1281, 720});
  s.windows.Do([&s] { s.windows.failingShows = 1; });
  s.windows.Key('g');
  s.windows.Do([&s] { EXPECT_EQ(s.app.preseg().currentPreseg().algorithm, 0); });
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(s.Run(), 0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("labeler: error: the key \"g\" failed"), std::string::npos);
}

// A stroke whose render and commit never ran (work that failed half-way) still reaches the file: the save
// rebuilds the committed image from the strokes first.
TEST(LabelImages, ASaveAfterAFailedCommitHoldsEveryStroke) {
  testing::OneStillLabelImages s;
  s.strokes.BeginStroke(10, 10, 3, cv::Scalar(142, 0, 0), FormatPresegParams(s.preseg.currentPreseg()));
  s.strokes.EndStroke(10, 10);
  ASSERT_TRUE(s.images->SaveLabelImage(0));
  const cv::Mat stored = cv::imread(LabelImagePath(s.LabelDir(), 0), cv::IMREAD_UNCHANGED);
  EXPECT_EQ(stored.at<cv::Vec3b>(10, 10), kCarBgr);
  EXPECT_EQ(CountColour(stored, kCarBgr), CountColour(s.images->committed(), kCarBgr));
}

// The pyramid result held serves only the picture and the thresholds it was computed for: a still replaced on
// disk and read again ("c", or a step clamped to the same frame) is presegmented anew, and a stroke re-rendered
// after the thresholds moved (undo, redo, clear of another stroke) fills the regions it was painted on.
TEST(LabelImages, ThePyramidResultServesOnlyItsOwnPictureAndThresholds) {
  testing::OneStillLabelImages s;
  auto update = [&s](int force) {
    ::testing::internal::CaptureStdout();
    s.preseg.UpdatePresegmentation(s.timeline->frame(), 0, force);
    ::testing::internal::GetCapturedStdout();
  };
  s.preseg.currentPreseg().algorithm = kPyramidPreseg;
  update(1);
  cv::Mat gradient(s.size, CV_8UC3);
  for (int y = 0; y < gradient.rows; ++y) {
    for (int x = 0; x < gradient.cols; ++x) gradient.at<cv::Vec3b>(y, x) = cv::Vec3b(x * 8, y * 8, x + y);
  }
  cv::imwrite(s.dir.File("frame.png"), gradient);
  ASSERT_TRUE(s.images->ChangeFrame(+1));  // clamped to the one still: read again as "c" does
  update(0);
  PresegEngine fresh;
  fresh.CreatePresegImages(s.size);
  fresh.currentPreseg().algorithm = kPyramidPreseg;
  ::testing::internal::CaptureStdout();
  fresh.UpdatePresegmentation(gradient, 0, 1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(cv::norm(s.preseg.presegColour(), fresh.presegColour(), cv::NORM_INF), 0);

  s.strokes.BeginStroke(16, 12, 2, cv::Scalar(0, 0, 200), FormatPresegParams(s.preseg.currentPreseg()));
  s.strokes.EndStroke(17, 12);
  s.images->RenderWorking();
  s.images->Commit();
  const cv::Mat painted = s.images->committed().clone();
  s.preseg.currentPreseg().pyrSeg1 = s.preseg.currentPreseg().pyrSeg2 = 4;
  update(1);
  s.images->RebuildCommitted();
  EXPECT_EQ(cv::norm(s.images->committed(), painted, cv::NORM_INF), 0);
}

}  // namespace
}  // namespace labeler
