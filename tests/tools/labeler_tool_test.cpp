// labeler-tool, run as a program.
#include <fcntl.h>
#include <png.h>

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "annotation/painted_record.h"
#include "common/files.h"
#include "annotation/label_images.h"
#include "support/oversized_label_images.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"
#include "support/test_media.h"
#include "timeline/timeline.h"

namespace labeler {
namespace {

using testing::DamagedLabelFileMarkedAsMedical;
using testing::ExportProject;
using testing::ReadFile;
using testing::RunTool;
using testing::TempDir;
using testing::ToolRun;

TEST(LabelerToolSegment, WritesThePyramidPictureAndEdges) {
  TempDir dir;
  cv::Mat image(50, 70, CV_8UC3, cv::Scalar(30, 30, 30));
  cv::rectangle(image, cv::Rect(10, 10, 30, 20), cv::Scalar(10, 200, 60), cv::FILLED);
  cv::imwrite(dir.File("in.png"), image);
  ToolRun run = RunTool("segment --setting 1 " + dir.File("in.png") + " " + dir.File("c.png") + " " +
                        dir.File("e.png"));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "Refreshing Preseg \n ");
  cv::Mat colour = cv::imread(dir.File("c.png"), cv::IMREAD_UNCHANGED);
  cv::Mat edges = cv::imread(dir.File("e.png"), cv::IMREAD_UNCHANGED);
  EXPECT_EQ(colour.size(), image.size());
  EXPECT_EQ(colour.type(), CV_8UC3);
  EXPECT_EQ(cv::norm(colour, image, cv::NORM_INF), 0);  // flat, distant colours come out unchanged
  EXPECT_EQ(edges.type(), CV_8UC1);
  EXPECT_GT(cv::countNonZero(edges), 0);
}

TEST(LabelerToolSegment, GraphSettingPrintsItsLines) {
  TempDir dir;
  cv::imwrite(dir.File("in.png"), cv::Mat(20, 30, CV_8UC3, cv::Scalar(1, 2, 3)));
  ToolRun run = RunTool("segment --setting 5 " + dir.File("in.png") + " " + dir.File("c.png"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "\t\t Caching segmentation #4\nprocessing\ngot 1 components\n");
}

TEST(LabelerToolSegment, BadArgumentsAndUnreadableInputEndWithStatusOne) {
  TempDir dir;
  cv::imwrite(dir.File("in.png"), cv::Mat(20, 30, CV_8UC3, cv::Scalar(1, 2, 3)));
  for (const char* arguments :
       {"segment", "segment --setting 0 in.png out.png", "segment --setting 6 in.png out.png",
        "segment --setting 1 --pyr1 256 in.png out.png", "segment --setting x in.png out.png",
        "segment --setting 1 in.png", "segment --bogus 1 in.png out.png", "frobnicate"}) {
    ToolRun run = RunTool(std::string(arguments));
    EXPECT_EQ(run.status, 1) << arguments;
    EXPECT_NE(run.output.find("usage: labeler-tool segment"), std::string::npos) << arguments;
  }
  ToolRun missing = RunTool("segment --setting 1 " + dir.File("nope.png") + " " + dir.File("c.png"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("cannot read image " + dir.File("nope.png")), std::string::npos);
  ToolRun unwritable = RunTool("segment --setting 1 " + dir.File("in.png") + " " + dir.File("no/such/c.png"));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.output.find("cannot write"), std::string::npos);
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, ',')) fields.push_back(cell);
    if (!line.empty() && line.back() == ',') fields.push_back("");
    rows.push_back(fields);
  }
  return rows;
}

TEST(LabelerToolExport, WritesExactIndicesAndTheClassList) {
  ExportProject project;
  project.WriteLabelImage(0);
  project.WriteLabelImage(1234567);
  ToolRun run = RunTool("export --meta " + project.meta + " --out " + project.dir.File("out"));
  EXPECT_EQ(run.status, 0) << run.output;
  for (int frame : {0, 1234567}) {
    cv::Mat mask = project.Exported(frame);
    ASSERT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(mask.at<uchar>(2, 0), 0);
    EXPECT_EQ(mask.at<uchar>(2, 5), 1);
    EXPECT_EQ(mask.at<uchar>(2, 7), 255);
  }
  std::ifstream classes(project.dir.File("out/classes.csv"));
  std::string text(std::istreambuf_iterator<char>(classes), {});
  EXPECT_EQ(ParseCsv(text), (std::vector<std::vector<std::string>>{{"index", "name", "red", "green", "blue", "hot_key"},
                                                                    {"0", "road", "128", "64", "128", "1"},
                                                                    {"1", "car", "0", "0", "142", ""}}));
  ToolRun seven = RunTool("export --meta " + project.meta + " --out " + project.dir.File("out") + " --unlabelled 7");
  EXPECT_EQ(seven.status, 0);
  EXPECT_EQ(project.Exported(0).at<uchar>(2, 7), 7);
}

// A palette PNG as libpng itself reads it, without expanding the palette: its indices and its colours.
struct PaletteMask {
  bool isPalette = false;
  cv::Mat indices;
  std::vector<cv::Vec3b> colours;  // red, green, blue
};

PaletteMask ReadPaletteMask(const std::string& path) {
  PaletteMask read;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return read;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    read.isPalette = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE && png_get_bit_depth(png, info) == 8;
    png_colorp colours = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &colours, &count) != 0) {
      for (int i = 0; i < count; ++i) read.colours.emplace_back(colours[i].red, colours[i].green, colours[i].blue);
    }
    read.indices.create(static_cast<int>(png_get_image_height(png, info)),
                        static_cast<int>(png_get_image_width(png, info)), CV_8UC1);
    for (int y = 0; y < read.indices.rows; ++y) png_read_row(png, read.indices.ptr<png_byte>(y), nullptr);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return read;
}

// The palette format holds the very indices of the index format, with the label colours and a colour of its own
// for unlabelled pixels; both write the class list as JSON beside the CSV one.
TEST(LabelerToolExport, PaletteMasksHoldTheIndicesAndTheLabelColours) {
  ExportProject project;
  project.WriteLabelImage(0);
  ASSERT_EQ(RunTool("export --meta " + project.meta + " --out " + project.dir.File("out")).status, 0);
  const cv::Mat indices = project.Exported(0);
  ToolRun run = RunTool("export --meta " + project.meta + " --out " + project.dir.File("out") + " --format palette");
  ASSERT_EQ(run.status, 0) << run.output;
  const PaletteMask mask = ReadPaletteMask(LabelImagePath(project.dir.File("out"), 0));
  EXPECT_TRUE(mask.isPalette);
  ASSERT_EQ(mask.indices.size(), indices.size());
  EXPECT_EQ(cv::norm(mask.indices, indices, cv::NORM_INF), 0);
  ASSERT_EQ(mask.colours.size(), 256u);
  EXPECT_EQ(mask.colours[0], cv::Vec3b(128, 64, 128));
  EXPECT_EQ(mask.colours[1], cv::Vec3b(0, 0, 142));
  EXPECT_EQ(mask.colours[255], cv::Vec3b(224, 224, 192));
  std::ifstream json(project.dir.File("out/classes.json"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(json), {}),
            "{\"classes\":[{\"id\":0,\"name\":\"road\",\"colour\":[128,64,128]},"
            "{\"id\":1,\"name\":\"car\",\"colour\":[0,0,142]}],\"unlabelled\":255}\n");
  EXPECT_EQ(RunTool("export --meta " + project.meta + " --out " + project.dir.File("out") + " --format gif").status,
            1);
}

std::string FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Masks made elsewhere become label images: export then import --index gives back the very files; colour masks
// keep their label colours, the label folder is made when missing, and each mask that doesn't fit its frame (or
// whose frame another mask has) is refused alone.
TEST(LabelerToolImport, ExportThenImportGivesBackTheFilesAndEachUnfitMaskIsRefusedAlone) {
  ExportProject project;  // four still frames of 10 x 4
  for (int frame = 0; frame < 4; ++frame) {
    cv::imwrite(project.dir.File(std::to_string(frame) + ".png"), cv::Mat(4, 10, CV_8UC3, cv::Scalar(9, 9, 9)));
  }
  project.WriteLabelImage(0);
  project.WriteLabelImage(1);
  const std::string labels = project.dir.File("labels");
  const std::string stored = FileBytes(LabelImagePath(labels, 1));
  ASSERT_EQ(RunTool("export --meta " + project.meta + " --out " + project.dir.File("out")).status, 0);
  std::filesystem::remove(LabelImagePath(labels, 1));
  ToolRun back = RunTool("import --meta " + project.meta + " --masks " + project.dir.File("out") + " --index");
  EXPECT_EQ(back.status, 0) << back.output;
  EXPECT_EQ(FileBytes(LabelImagePath(labels, 1)), stored);
  EXPECT_NE(back.output.find("Imported 1 of 2 masks into " + labels + " (1 frames kept their label image"),
            std::string::npos)
      << back.output;
  // A model trained on the classes in another order: its classes.csv says what its numbers mean.
  project.dir.Write("out/classes.csv", "index,name,red,green,blue,hot_key\n0,car,0,0,142,\n1,road,128,64,128,1\n");
  ASSERT_EQ(RunTool("import --meta " + project.meta + " --masks " + project.dir.File("out") + " --index --replace")
                .status,
            0);
  const cv::Mat swapped = cv::imread(LabelImagePath(labels, 1), cv::IMREAD_COLOR);
  EXPECT_EQ(swapped.at<cv::Vec3b>(0, 0), cv::Vec3b(142, 0, 0));   // 0: car
  EXPECT_EQ(swapped.at<cv::Vec3b>(0, 4), cv::Vec3b(128, 64, 128));  // 1: road

  const std::string masks = project.dir.File("masks");
  std::filesystem::create_directory(masks);
  cv::Mat colour(4, 10, CV_8UC3, cv::Scalar(142, 0, 0));  // car
  colour.at<cv::Vec3b>(1, 1) = cv::Vec3b(1, 2, 3);
  cv::imwrite(LabelImagePath(masks, 0), colour);
  cv::imwrite(LabelImagePath(masks, 2), cv::Mat(5, 10, CV_8UC3, cv::Scalar(142, 0, 0)));
  cv::imwrite(LabelImagePath(masks, 9), colour);
  cv::imwrite(LabelImagePath(masks, 3), colour);
  cv::imwrite(masks + "/frame-0000003.png", colour);
  std::filesystem::remove_all(labels);  // a project not labelled yet
  ToolRun run = RunTool("import --meta " + project.meta + " --masks " + masks + " --replace");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(std::filesystem::exists(LabelImagePath(labels, 3)));
  EXPECT_NE(run.output.find("another mask of frame 3 comes first; skipped"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(LabelImagePath(masks, 0) + ": 1 pixels of colours no label has; left unlabelled"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find(LabelImagePath(masks, 2) + ": is 10 x 5, frame 2 is 10 x 4; skipped"), std::string::npos);
  EXPECT_NE(run.output.find(LabelImagePath(masks, 9) + ": frame 9 is beyond the timeline's 4 frames; skipped"),
            std::string::npos);
  const cv::Mat replaced = cv::imread(LabelImagePath(labels, 0), cv::IMREAD_COLOR);
  cv::Mat expected = colour.clone();
  expected.at<cv::Vec3b>(1, 1) = cv::Vec3b(0, 0, 0);
  EXPECT_EQ(cv::norm(replaced, expected, cv::NORM_INF), 0);
  EXPECT_FALSE(std::filesystem::exists(LabelImagePath(labels, 2)));
}

TEST(LabelerToolExport, BlackLabelTakesTheBlackPixels) {
  ExportProject project("road 128 64 128\ncar 0 0 142\nvoid 0 0 0\nnothing 0 0 0\n");
  project.WriteLabelImage(3);
  EXPECT_EQ(RunTool("export --meta " + project.meta + " --out " + project.dir.File("out")).status, 0);
  EXPECT_EQ(project.Exported(3).at<uchar>(2, 7), 2);
}

TEST(LabelerToolExport, UnknownColoursSkipTheFileAndEndWithStatusOne) {
  ExportProject project;
  project.WriteLabelImage(0);
  project.WriteLabelImage(1, cv::Vec3b(1, 2, 3), {8, 1});
  project.WriteLabelImage(2);
  std::string errors;
  ToolRun run = RunTool("export --meta " + project.meta + " --out " + project.dir.File("out"), &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(errors.find(LabelImagePath(project.dir.File("labels"), 1) +
                        ": 1 pixels of colours no label has, the first at (8, 1); skipped"),
            std::string::npos)
      << errors;
  EXPECT_TRUE(project.Exported(1).empty());
  EXPECT_FALSE(project.Exported(2).empty());
  EXPECT_EQ(run.output, "Exported 2 of 3 label images to " + project.dir.File("out") + "\n");
}

// A damaged label file that the image loader would take for a medical image aborted the whole export.
TEST(LabelerToolExport, DamagedFileIsSkippedAndEndsWithStatusOne) {
  ExportProject project;
  project.WriteLabelImage(0);
  project.dir.Write("labels/frame-000001.png", DamagedLabelFileMarkedAsMedical());
  std::string errors;
  ToolRun run = RunTool("export --meta " + project.meta + " --out " + project.dir.File("out"), &errors);
  EXPECT_EQ(run.status, 1) << errors;
  EXPECT_NE(errors.find(LabelImagePath(project.dir.File("labels"), 1) + ": can't be decoded as an image; skipped"),
            std::string::npos)
      << errors;
  EXPECT_FALSE(project.Exported(0).empty());
}

// An output folder that is the label folder (named otherwise, or through a link), holds it or lies in it would
// overwrite the annotators' colour label images with masks: refused before anything is written.
TEST(LabelerToolExport, OutputFolderOverlappingTheLabelFolderIsRefused) {
  ExportProject project;
  project.WriteLabelImage(0);
  const std::string labels = project.dir.File("labels");
  std::filesystem::create_directory_symlink(labels, project.dir.File("link"));
  const std::string before = ReadFile(LabelImagePath(labels, 0));
  for (const std::string& out : {labels, labels + "/", project.dir.File("link"), labels + "/../labels",
                                 project.dir.path().string(), labels + "/masks"}) {
    std::string errors;
    ToolRun run = RunTool("export --meta " + project.meta + " --out " + out, &errors);
    EXPECT_EQ(run.status, 1) << out;
    EXPECT_NE(errors.find("overlap; masks would overwrite label images"), std::string::npos) << errors;
    EXPECT_EQ(ReadFile(LabelImagePath(labels, 0)), before) << out;
  }
  EXPECT_FALSE(std::filesystem::exists(labels + "/masks"));
  EXPECT_FALSE(std::filesystem::exists(labels + "/classes.csv"));
}

// A mask or class list that can't be written is named and fails the run; a frame that fails leaves no older mask
// of it behind, and no temporary file is left anywhere.
TEST(LabelerToolExport, WriteFailuresAreReportedAndStaleMasksRemoved) {
  ExportProject project;
  project.WriteLabelImage(0);
  project.WriteLabelImage(1);
  project.WriteLabelImage(2);
  const std::string out = project.dir.File("out");
  ASSERT_EQ(RunTool("export --meta " + project.meta + " --out " + out).status, 0);
  project.WriteLabelImage(1, cv::Vec3b(1, 2, 3));
  std::filesystem::remove(LabelImagePath(out, 2));
  std::filesystem::create_directory(LabelImagePath(out, 2));  // the rename onto it fails
  std::filesystem::remove(out + "/classes.csv");
  std::filesystem::create_directory(out + "/classes.csv");
  std::string errors;
  ToolRun run = RunTool("export --meta " + project.meta + " --out " + out, &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(errors.find("skipped; the mask of an earlier export, " + LabelImagePath(out, 1) + ", was removed"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find(LabelImagePath(out, 2) + ": cannot be written: "), std::string::npos) << errors;
  EXPECT_NE(errors.find(out + "/classes.csv: cannot be written: "), std::string::npos) << errors;
  EXPECT_FALSE(std::filesystem::exists(LabelImagePath(out, 1)));
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  }
}

// --frames writes, beside each mask, the very frame it belongs to: decoded frame-exactly from a movie whose key
// frames are far apart (sparse, out-of-order label images), and re-encoded from a still list.
TEST(LabelerToolExport, FramesBesideTheMasksAreExactlyTheirFrames) {
  TempDir dir;
  const std::string movie = dir.File("sparse.avi");
  testing::WriteSparseKeyFrameMovie(movie, 100, {160, 120}, 50);
  std::filesystem::create_directory(dir.File("labels"));
  for (int frame : {99, 3, 37, 38, 71}) {
    cv::imwrite(LabelImagePath(dir.File("labels"), frame), cv::Mat::zeros(120, 160, CV_8UC3));
  }
  const std::string meta = dir.Write("m.meta", testing::MetaText(movie, dir.Write("l.txt", "road 128 64 128\n"),
                                                                  dir.File("labels")));
  std::string progress;  // on a slow run (a sanitizer's), progress lines on standard error
  ToolRun run = RunTool("export --frames --meta " + meta + " --out " + dir.File("out"), &progress);
  EXPECT_EQ(run.status, 0) << run.output << progress;
  EXPECT_EQ(run.output, "Exported 5 of 5 label images to " + dir.File("out") + "\n");
  Timeline timeline(movie);
  ::testing::internal::CaptureStdout();
  timeline.ReloadMovie();
  for (int frame : {3, 37, 38, 71, 99}) {
    const cv::Mat written = cv::imread(LabelImagePath(dir.File("out/frames"), frame), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(written.empty()) << frame;
    EXPECT_EQ(testing::ReadFrameIndex(written), frame);
    EXPECT_EQ(cv::norm(written, timeline.GoToFrame(frame), cv::NORM_INF), 0) << frame;
  }
  ::testing::internal::GetCapturedStdout();

  ExportProject stills;
  for (int i = 0; i < 4; ++i) cv::imwrite(stills.dir.File(std::to_string(i) + ".png"), testing::IndexedFrame(i, {10, 4}));
  stills.WriteLabelImage(2);
  ASSERT_EQ(RunTool("export --frames --meta " + stills.meta + " --out " + stills.dir.File("out")).status, 0);
  const cv::Mat still = cv::imread(LabelImagePath(stills.dir.File("out/frames"), 2), cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(still.empty());
  EXPECT_EQ(cv::norm(still, cv::imread(stills.dir.File("2.png")), cv::NORM_INF), 0);
  EXPECT_FALSE(std::filesystem::exists(LabelImagePath(stills.dir.File("out/frames"), 1)));
}

// One frame that can't be written beside its mask (its still missing, or of another size than the first) is
// named on standard error and fails the run; the other frames and the class list are still written.
TEST(LabelerToolExport, AFrameThatCannotBeReadFailsAloneWithItsName) {
  ExportProject project;
  for (int i : {0, 3}) cv::imwrite(project.dir.File(std::to_string(i) + ".png"), testing::IndexedFrame(i, {10, 4}));
  cv::imwrite(project.dir.File("2.png"), testing::IndexedFrame(2, {12, 4}));
  for (int i = 0; i < 4; ++i) project.WriteLabelImage(i);
  const std::string out = project.dir.File("out");
  std::string errors;
  ToolRun run = RunTool("export --frames --meta " + project.meta + " --out " + out, &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Exported 4 of 4 label images to " + out + "\n");
  std::istringstream lines(errors);
  std::vector<std::string> said;
  for (std::string line; std::getline(lines, line);) said.push_back(line);
  ASSERT_EQ(said.size(), 2u) << errors;
  EXPECT_EQ(said[0].rfind("labeler-tool: error: " + LabelImagePath(out + "/frames", 1) + ": ", 0), 0u) << said[0];
  EXPECT_NE(said[0].find(project.dir.File("1.png")), std::string::npos) << said[0];
  EXPECT_EQ(said[1].rfind("labeler-tool: error: " + LabelImagePath(out + "/frames", 2) + ": ", 0), 0u) << said[1];
  EXPECT_NE(said[1].find("12 x 4"), std::string::npos) << said[1];
  for (int frame : {0, 3}) {
    const cv::Mat written = cv::imread(LabelImagePath(out + "/frames", frame));
    ASSERT_FALSE(written.empty()) << frame;
    EXPECT_EQ(cv::norm(written, cv::imread(project.dir.File(std::to_string(frame) + ".png")), cv::NORM_INF), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(LabelImagePath(out + "/frames", 1)));
  EXPECT_FALSE(std::filesystem::exists(LabelImagePath(out + "/frames", 2)));
  for (int frame = 0; frame < 4; ++frame) EXPECT_FALSE(project.Exported(frame).empty()) << frame;
  EXPECT_TRUE(std::filesystem::exists(out + "/classes.csv"));
}

TEST(LabelerToolExport, FramesWithoutATimelineAreRefusedBeforeAnythingIsWritten) {
  ExportProject project;
  project.WriteLabelImage(0);
  const std::string meta = project.dir.Write(
      "no-timeline.meta", "FILE_LABEL_NAMES " + project.dir.File("labels.txt") + "\nDIR_LABEL_IMGS " +
                              project.dir.File("labels") + "\n");
  std::string errors;
  ToolRun run = RunTool("export --frames --meta " + meta + " --out " + project.dir.File("out"), &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(errors, "labeler-tool: error: --frames needs FILE_TIMELINE in " + meta + "\n");
  EXPECT_FALSE(std::filesystem::exists(project.dir.File("out")));
}

// A clip for carry: a still list of `frames` frames in which a textured block (label "car") moves two pixels to
// the right per frame over a road, with a true label image per frame.
class CarryProject {
 public:
  CarryProject(int frames, cv::Size size) {
    std::filesystem::create_directory(dir.File("labels"));
    cv::Mat texture(size, CV_8UC3);
    cv::RNG(7).fill(texture, cv::RNG::UNIFORM, 0, 60);
    std::string list;
    for (int i = 0; i < frames; ++i) {
      cv::Mat frame = texture.clone() + cv::Scalar(90, 90, 90);
      cv::Mat labels(size, CV_8UC3, cv::Scalar(128, 64, 128));
      const cv::Rect block(size.width / 8 + 2 * i, size.height / 3, size.width / 4, size.height / 3);
      frame(block) = texture(block) + cv::Scalar(20, 20, 180);
      labels(block).setTo(cv::Scalar(142, 0, 0));
      labels.rowRange(0, size.height / 8).setTo(cv::Scalar(0, 0, 0));
      const std::string name = dir.File("f" + std::to_string(i) + ".png");
      cv::imwrite(name, frame);
      cv::imwrite(LabelImagePath(dir.File("labels"), i), labels);
      list += name + "\n";
    }
    meta = dir.Write("p.meta", testing::MetaText(dir.Write("frames.txt", list),
                                                 dir.Write("names.txt", "road 128 64 128\ncar 0 0 142\n"),
                                                 dir.File("labels")));
  }
  TempDir dir;
  std::string meta;
};

// The scores of a small clip, as carrying label by label from frame to frame gave them when this test was written:
// keeping fewer frames in memory must not change a single figure.
TEST(LabelerToolCarry, ScoresOfASmallClipStayAsTheyWere) {
  CarryProject project(7, {64, 48});
  std::string errors;
  ToolRun run = RunTool("carry --steps 3 --every 2 --meta " + project.meta, &errors);
  EXPECT_EQ(run.status, 0) << errors;
  const std::string scores =
      "One step (t to t + 1): pixel accuracy and intersection over union per label\n"
      "method                  accuracy         road          car\n"
      "copy                      0.9762       0.9740       0.7778\n"
      "flow                      0.9795       0.9775       0.8805\n"
      "flow + pyramid            0.9959       0.8885       0.9884\n"
      "flow + mean shift 1       0.8940       0.8503       0.3386\n"
      "flow + mean shift 2       0.9998       0.8737       1.0000\n"
      "flow + mean shift 3       0.9048       0.7917       0.0000\n"
      "flow + graph              0.9998       0.8635       0.9980\n"
      "Chained (t to t + 3, each step from the last)\n"
      "method                  accuracy         road          car\n"
      "copy                      0.9286       0.9241       0.4545\n"
      "flow                      0.9407       0.9357       0.6619\n"
      "flow + pyramid            0.9937       0.8702       0.9442\n"
      "flow + mean shift 1       0.8231       0.7728       0.2355\n"
      "flow + mean shift 2       0.9996       0.8645       1.0000\n"
      "flow + mean shift 3       0.9048       0.7917       0.0000\n"
      "flow + graph              0.9993       0.8630       0.9922\n";
  const std::string scored = "Scored 2 starting frames of " + project.dir.File("frames.txt") + " against " +
                             project.dir.File("labels") + "\n";
  const size_t at = run.output.find(scored);
  ASSERT_NE(at, std::string::npos) << run.output;
  EXPECT_EQ(run.output.substr(at + scored.size()), scores);
}

// Peak memory of a child run that ends with `status`, in kilobytes (-1 for another end), its output thrown away.
long PeakKilobytesOfRun(const std::vector<std::string>& arguments, int status = 0) {
  std::vector<char*> argv{const_cast<char*>(LABELER_TOOL)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, LABELER_TOOL, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int ended = 0;
  rusage usage{};
  if (wait4(child, &ended, 0, &usage) != child || !WIFEXITED(ended) || WEXITSTATUS(ended) != status) return -1;
  return usage.ru_maxrss;
}

// What carry keeps of a clip is what the next starting frames need: a clip five times as long, whose frames
// weigh megabytes each in flows and region maps, takes no more memory.
TEST(LabelerToolCarry, MemoryDoesNotGrowWithTheLengthOfTheClip) {
  const cv::Size size(256, 192);
  CarryProject shortClip(5, size);
  CarryProject longClip(25, size);
  const long shortPeak = PeakKilobytesOfRun({"carry", "--steps", "1", "--meta", shortClip.meta});
  const long longPeak = PeakKilobytesOfRun({"carry", "--steps", "1", "--meta", longClip.meta});
  ASSERT_GT(shortPeak, 0);
  ASSERT_GT(longPeak, 0);
  EXPECT_LT(longPeak - shortPeak, 16 * 1024) << shortPeak << " kB for 5 frames, " << longPeak << " kB for 25";
}

// Frames too small for the optical flow are the input's fault, not the program's: one error line naming the
// timeline and the size, before any frame is carried.
TEST(LabelerToolCarry, FramesTooSmallForTheFlowAreRefusedInOneLine) {
  CarryProject project(4, {15, 40});
  std::string errors;
  ToolRun run = RunTool("carry --steps 1 --meta " + project.meta, &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  EXPECT_EQ(errors.rfind("labeler-tool: error: ", 0), 0u) << errors;
  EXPECT_NE(errors.find(project.dir.File("frames.txt")), std::string::npos) << errors;
  EXPECT_NE(errors.find("15 x 40"), std::string::npos) << errors;
}

// A label image of another size than the frames, or a movie that ends before its header says, is the input's
// fault: the starting frames it concerns are left out, with a warning naming it, and the others are scored.
TEST(LabelerToolCarry, ALabelImageOfAnotherSizeOrAMovieCutShortLeavesOutOnlyTheFramesConcerned) {
  CarryProject project(5, {64, 48});
  cv::imwrite(LabelImagePath(project.dir.File("labels"), 2), cv::Mat(16, 16, CV_8UC3, cv::Scalar(142, 0, 0)));
  std::string errors;
  ToolRun run = RunTool("carry --steps 1 --meta " + project.meta, &errors);
  EXPECT_EQ(run.status, 0) << errors;
  EXPECT_NE(errors.find(LabelImagePath(project.dir.File("labels"), 2) + " is 16 x 16 pixels, not of the frames' size "
                        "64 x 48; frame 1 is not scored"),
            std::string::npos) << errors;
  EXPECT_NE(run.output.find("Scored 2 starting frames"), std::string::npos) << run.output;

  testing::WriteIndexedMovie(project.dir.File("whole.avi"), 40, {64, 48});
  const std::string cut = testing::WriteFirstHalfOf(project.dir.File("whole.avi"), project.dir.File("cut.avi"));
  for (int frame = 0; frame < 40; ++frame) {
    cv::imwrite(LabelImagePath(project.dir.File("labels"), frame), cv::Mat(48, 64, CV_8UC3, cv::Scalar(142, 0, 0)));
  }
  const std::string meta = project.dir.Write(
      "cut.meta", testing::MetaText(cut, project.dir.File("names.txt"), project.dir.File("labels")));
  run = RunTool("carry --steps 1 --meta " + meta, &errors);
  EXPECT_EQ(run.status, 0) << errors;
  const size_t warned = errors.find(cut + " ends before frame ");
  ASSERT_NE(warned, std::string::npos) << errors;
  const int end = std::stoi(errors.substr(warned + cut.size() + 19));
  EXPECT_NE(run.output.find("Scored " + std::to_string(end - 1) + " starting frames"), std::string::npos)
      << run.output << errors;
}

// Label images whose headers declare hundreds of millions of pixels (the decodable JPEG cost 3 GB and 10 s) are
// refused by stats and export in the memory that a label image of a few pixels takes.
TEST(LabelerToolStatsAndExport, LabelImagesFoundByFuzzingAreRefusedWithoutTheMemoryTheyDeclare) {
  ExportProject reference;
  reference.WriteLabelImage(0);
  const long referencePeak = PeakKilobytesOfRun({"stats", "--meta", reference.meta});
  ASSERT_GT(referencePeak, 0);
  for (const testing::OversizedLabelImage& image : testing::kOversizedLabelImages) {
    ExportProject project;
    const std::string labelImage = LabelImagePath(project.dir.File("labels"), 0);
    std::filesystem::copy_file(image.Path(), labelImage);
    const std::vector<std::string> commands[] = {{"stats", "--meta", project.meta},
                                                 {"export", "--meta", project.meta, "--out", project.dir.File("out")}};
    for (const std::vector<std::string>& arguments : commands) {
      std::string command, errors;
      for (const std::string& argument : arguments) command += argument + " ";
      EXPECT_EQ(RunTool(command, &errors).status, 1) << image.name << ": " << command;
      EXPECT_NE(errors.find(labelImage + ": can't be decoded as an image"), std::string::npos) << errors;
      const long peak = PeakKilobytesOfRun(arguments, 1);
      EXPECT_GT(peak, 0) << image.name << ": " << command;
      EXPECT_LT(peak - referencePeak, 50 * 1024) << image.name << ": " << command;
    }
  }
}

TEST(LabelerToolStats, CsvPerFrameAndTotalsWithFramesWithoutLabelImages) {
  ExportProject project;
  project.WriteLabelImage(0);
  project.WriteLabelImage(2, cv::Vec3b(1, 2, 3));
  std::string errors;
  ToolRun run = RunTool("stats --csv --meta " + project.meta, &errors);
  EXPECT_EQ(run.status, 0) << errors;
  auto rows = ParseCsv(run.output);
  ASSERT_EQ(rows.size(), 6u) << run.output;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"frame", "has_label_image", "road", "car", "unlabelled", "unknown"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"0", "1", "0.400000", "0.200000", "0.400000", "0.000000"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"1", "0", "", "", "", ""}));
  EXPECT_EQ(rows[3], (std::vector<std::string>{"2", "1", "0.400000", "0.200000", "0.375000", "0.025000"}));
  EXPECT_EQ(rows[4][1], "0");
  EXPECT_EQ(rows[5], (std::vector<std::string>{"total", "2", "0.400000", "0.200000", "0.387500", "0.012500"}));
  ToolRun table = RunTool("stats --meta " + project.meta);
  EXPECT_NE(table.output.find("total"), std::string::npos);
  EXPECT_NE(table.output.find("40.0%"), std::string::npos);
}

// A frame saved with label assist counts its pixels painted by hand from the label folder's record, the rest of
// its labelled pixels as completed; a frame without a record counts every labelled pixel as painted.
TEST(LabelerToolStats, PixelsPaintedByHandAndCompletedAreCountedFromTheRecord) {
  ExportProject project;
  project.WriteLabelImage(0);
  project.WriteLabelImage(2);
  const std::string labels = project.dir.File("labels");
  const cv::Mat image = cv::imread(LabelImagePath(labels, 0), cv::IMREAD_COLOR);
  cv::Mat roadOnly = cv::Mat::zeros(image.size(), CV_8UC1);
  roadOnly.colRange(0, 4).setTo(255);
  std::vector<uchar> record;
  ASSERT_TRUE(EncodePaintedRecord(roadOnly, image, record));
  std::filesystem::create_directories(std::filesystem::path(PaintedRecordPath(labels, 0)).parent_path());
  ASSERT_EQ(WriteFileAtomically(PaintedRecordPath(labels, 0), record), "");
  ToolRun table = RunTool("stats --meta " + project.meta);
  EXPECT_NE(table.output.find("2 frames saved; of their pixels 50.0% painted by hand, 10.0% completed by label "
                              "assist"),
            std::string::npos)
      << table.output;
  ToolRun json = RunTool("stats --json --meta " + project.meta);
  EXPECT_NE(json.output.find("\"painted_pixels\":40,\"completed_pixels\":8"), std::string::npos) << json.output;
}

TEST(LabelerToolStats, ProgressGoesToStandardErrorOnly) {
  ExportProject project("road 128 64 128\ncar 0 0 142\n", 120);
  for (int frame = 0; frame < 120; ++frame) project.WriteLabelImage(frame);
  std::string errors;
  ToolRun run = RunTool("stats --csv --meta " + project.meta, &errors);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(errors.find("labeler-tool stats: 120 of 120 frames\n"), std::string::npos) << errors;
  EXPECT_EQ(run.output.find("of 120"), std::string::npos);
  EXPECT_EQ(ParseCsv(run.output).size(), 122u);
  std::string exportErrors;
  ToolRun exported = RunTool("export --meta " + project.meta + " --out " + project.dir.File("out"), &exportErrors);
  EXPECT_NE(exportErrors.find("labeler-tool export: 120 of 120 frames\n"), std::string::npos);
  EXPECT_EQ(exported.output, "Exported 120 of 120 label images to " + project.dir.File("out") + "\n");
}

}  // namespace
}  // namespace labeler
