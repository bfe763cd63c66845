// labeler-tool over a corpus: several clips, shards of one run, the --json summaries, and conflict files.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "annotation/label_images.h"
#include "support/corpus.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace labeler {
namespace {

using testing::Clip;
using testing::ExportProject;
using testing::FilesUnder;
using testing::ParseJson;
using testing::ReadFile;
using testing::RunTool;
using testing::TempDir;
using testing::ToolRun;

// Four jobs over two clips export, between them, exactly what one job exports: the same files with the same
// bytes, each mask written by one job only, and the class lists of each clip by every job alike.
TEST(LabelerToolCorpus, FourShardsOverTwoClipsAddUpToTheOneJobExport) {
  Clip a("a", {0, 1, 2, 5, 7, 11});
  Clip b("b", {0, 3, 4, 6, 9});
  TempDir out;
  const std::string metas = "--meta " + a.named + " --meta " + b.named;
  ToolRun whole = RunTool("export " + metas + " --out " + out.File("whole"));
  ASSERT_EQ(whole.status, 0) << whole.output;
  const std::map<std::string, std::string> expected = FilesUnder(out.File("whole"));
  ASSERT_EQ(expected.size(), 6u + 5u + 2u * 2u);
  EXPECT_EQ(expected.count("a/frame-000011.png"), 1u);
  EXPECT_EQ(expected.count("b/classes.csv"), 1u);
  EXPECT_EQ(expected.count("b/classes.json"), 1u);

  std::map<std::string, std::string> joined;
  for (int k = 0; k < 4; ++k) {
    const std::string shard = std::to_string(k) + "/4";
    const std::string folder = out.File("shard" + std::to_string(k));
    ToolRun run = RunTool("export " + metas + " --out " + folder + " --shard " + shard);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const auto& [path, bytes] : FilesUnder(folder)) {
      if (path.ends_with("classes.csv") || path.ends_with("classes.json")) {
        EXPECT_EQ(bytes, expected.at(path)) << path;
      } else {
        EXPECT_EQ(joined.count(path), 0u) << path << " written by two shards";
      }
      joined[path] = bytes;
    }
  }
  EXPECT_EQ(joined, expected);
}

// The README's example for one machine, run by GNU parallel as it stands there (the program's path aside): four
// jobs, two at a time, write between them what one job writes.
TEST(LabelerToolCorpus, TheReadmesGnuParallelExampleAddsUpToTheOneJobExport) {
  Clip a("a", {0, 1, 2, 5, 7, 11});
  Clip b("b", {0, 3, 4, 6, 9});
  TempDir out;
  const std::string metas = "--meta " + a.named + " --meta " + b.named;
  ASSERT_EQ(RunTool("export " + metas + " --out " + out.File("whole")).status, 0);
  const std::string command = "parallel -j 2 " + std::string(LABELER_TOOL) + " export " + metas + " --out " +
                              out.File("jobs") + " --shard {}/4 ::: 0 1 2 3 > " + out.File("log") + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(out.File("log"));
  EXPECT_EQ(FilesUnder(out.File("jobs")), FilesUnder(out.File("whole")));
}

// The summary on standard output is one JSON object with the documented fields, failures with their reasons.
TEST(LabelerToolCorpus, JsonSummariesCountFramesAndNameFailures) {
  Clip a("a", {0, 1, 2});
  Clip b("b", {0});
  b.WriteLabelImage(1, cv::Vec3b(1, 2, 3));  // a colour no label has
  TempDir out;
  const std::string metas = "--meta " + a.named + " --meta " + b.named;
  std::string errors;
  ToolRun exported = RunTool("export --json " + metas + " --out " + out.File("m") + " --shard 1/2", &errors);
  EXPECT_EQ(exported.status, 0) << errors;
  const QJsonObject summary = ParseJson(exported.output);
  EXPECT_EQ(summary["command"].toString(), "export");
  EXPECT_EQ(summary["shard"].toObject()["index"].toInt(), 1);
  EXPECT_EQ(summary["shard"].toObject()["count"].toInt(), 2);
  EXPECT_EQ(summary["label_images"].toInt(), 2);  // a/1 and b/0, at 1 and 3 of a/0 a/1 a/2 b/0 b/1
  EXPECT_EQ(summary["exported"].toInt(), 2);
  EXPECT_EQ(summary["failed"].toInt(), 0);

  ToolRun other = RunTool("export --json " + metas + " --out " + out.File("m") + " --shard 0/2", &errors);
  EXPECT_EQ(other.status, 1);
  const QJsonObject failing = ParseJson(other.output);
  EXPECT_EQ(failing["exported"].toInt(), 2);
  const QJsonArray failures = failing["failures"].toArray();
  ASSERT_EQ(failures.size(), 1);
  EXPECT_EQ(failures[0].toObject()["path"].toString().toStdString(), LabelImagePath(b.dir.File("labels"), 1));
  EXPECT_TRUE(failures[0].toObject()["reason"].toString().contains("colours no label has"));
  const QJsonArray clips = failing["clips"].toArray();
  ASSERT_EQ(clips.size(), 2);
  EXPECT_EQ(clips[1].toObject()["out"].toString().toStdString(), out.File("m") + "/b");

  ToolRun stats = RunTool("stats --json " + metas, &errors);
  const QJsonObject counted = ParseJson(stats.output);
  EXPECT_EQ(counted["command"].toString(), "stats");
  EXPECT_EQ(counted["frames"].toInt(), 24);
  EXPECT_EQ(counted["labelled_frames"].toInt(), 5);
  const QJsonObject first = counted["clips"].toArray()[0].toObject();
  EXPECT_EQ(first["name"].toString(), "a");
  EXPECT_EQ(first["pixels"].toInt(), 3 * 40);
  EXPECT_EQ(first["labels"].toArray()[1].toObject()["pixels"].toInt(), 3 * 9);  // car: two columns and a pixel
  EXPECT_EQ(counted["clips"].toArray()[1].toObject()["unknown"].toInt(), 1);
}

// Conflict files beside the label images are not frames: export leaves them and says how many it left, stats
// lists them.
TEST(LabelerToolCorpus, ConflictFilesAreIgnoredByExportAndListedByStats) {
  ExportProject project;
  project.WriteLabelImage(0);
  project.WriteLabelImage(2);
  const std::string labels = project.dir.File("labels");
  std::filesystem::copy_file(LabelImagePath(labels, 0), labels + "/frame-000001.conflict-1.png");
  std::filesystem::copy_file(LabelImagePath(labels, 2), labels + "/frame-000002.conflict-3.png");
  std::string errors;
  ToolRun exported = RunTool("export --meta " + project.meta + " --out " + project.dir.File("out"), &errors);
  EXPECT_EQ(exported.status, 0) << errors;
  EXPECT_EQ(exported.output, "Exported 2 of 2 label images to " + project.dir.File("out") + "\n");
  EXPECT_EQ(errors, "labeler-tool: left out 2 conflict files (frame-NNNNNN.conflict-N.png)\n");
  EXPECT_FALSE(std::filesystem::exists(LabelImagePath(project.dir.File("out"), 1)));
  ToolRun json = RunTool("export --json --meta " + project.meta + " --out " + project.dir.File("out"), &errors);
  EXPECT_EQ(ParseJson(json.output)["ignored_conflict_files"].toInt(), 2);

  ToolRun table = RunTool("stats --meta " + project.meta, &errors);
  EXPECT_EQ(table.status, 0) << errors;
  EXPECT_NE(table.output.find("2 conflict files to reconcile:\n  " + labels +
                              "/frame-000001.conflict-1.png\n  " + labels + "/frame-000002.conflict-3.png\n"),
            std::string::npos)
      << table.output;
  EXPECT_NE(table.output.find("total  2/4"), std::string::npos) << table.output;
  ToolRun counted = RunTool("stats --json --meta " + project.meta, &errors);
  const QJsonObject summary = ParseJson(counted.output);
  EXPECT_EQ(summary["conflict_files"].toInt(), 2);
  EXPECT_EQ(summary["clips"].toArray()[0].toObject()["conflict_files"].toArray().size(), 2);
}

TEST(LabelerToolCorpus, BadShardsAreRefusedInOneLineNamingTheProblem) {
  ExportProject project;
  const std::map<std::string, std::string> problems{{"4/4", "K must be from 0 to N - 1"},
                                                    {"-1/2", "K must be from 0 to N - 1"},
                                                    {"1/0", "N must be at least 1"},
                                                    {"a/b", "K and N must be whole numbers"},
                                                    {"3", "there is no '/'"}};
  for (const auto& [shard, problem] : problems) {
    for (const std::string& command : {"export --out " + project.dir.File("out"), std::string("stats")}) {
      std::string errors;
      ToolRun run = RunTool(command + " --meta " + project.meta + " --shard " + shard, &errors);
      EXPECT_EQ(run.status, 1) << shard;
      EXPECT_EQ(errors, "labeler-tool: error: --shard takes K/N, job K of N counted from 0, not '" + shard +
                            "': " + problem + "\n");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(project.dir.File("out")));
}

// Many pictures segmented in shards into a folder are, picture by picture, what one run on each alone writes,
// even with the graph setting, whose region colours come from a sequence shared by the whole process.
TEST(LabelerToolCorpus, ShardsOfManyPicturesMatchOneRunOnEach) {
  TempDir dir;
  auto file = [&dir](const std::string& stem, int i) { return dir.File(stem + std::to_string(i) + ".png"); };
  std::string inputs;
  for (int i = 0; i < 5; ++i) {
    cv::Mat picture(30, 40, CV_8UC3, cv::Scalar(20, 40 * i, 60));
    cv::circle(picture, {10 + 4 * i, 15}, 6 + i, cv::Scalar(200, 30, 20 * i), cv::FILLED);
    cv::imwrite(file("p", i), picture);
    inputs.append(" ").append(file("p", i));
    ASSERT_EQ(RunTool("segment --setting 5 " + file("p", i) + " " + file("alone", i) + " " + file("edges", i)).status,
              0);
  }
  for (const std::string shard : {"0/2", "1/2"}) {
    ToolRun run = RunTool("segment --setting 5 --shard " + shard + " --out " + dir.File("out") + " --edges " +
                          dir.File("out-edges") + inputs);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string count = shard == "0/2" ? "3 of 3" : "2 of 2";
    EXPECT_EQ(run.output, "Segmented " + count + " pictures to " + dir.File("out") + " (shard " + shard + ")\n");
  }
  for (int i = 0; i < 5; ++i) {
    const std::string name = std::filesystem::path(file("p", i)).filename().string();
    const cv::Mat many = cv::imread(dir.File("out/" + name), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(many.empty()) << name;
    EXPECT_EQ(cv::norm(cv::imread(file("alone", i), cv::IMREAD_UNCHANGED), many, cv::NORM_INF), 0) << name;
    const cv::Mat edges = cv::imread(dir.File("out-edges/" + name), cv::IMREAD_UNCHANGED);
    EXPECT_EQ(cv::norm(cv::imread(file("edges", i), cv::IMREAD_UNCHANGED), edges, cv::NORM_INF), 0) << name;
  }
  std::string errors;
  ToolRun json =
      RunTool("segment --json --setting 1 --out " + dir.File("out2") + inputs + " " + dir.File("nope.png"), &errors);
  EXPECT_EQ(json.status, 1);
  const QJsonObject summary = ParseJson(json.output);
  EXPECT_EQ(summary["segmented"].toInt(), 5);
  EXPECT_EQ(summary["failures"].toArray()[0].toObject()["path"].toString().toStdString(), dir.File("nope.png"));
  const std::string picture = ReadFile(file("p", 0));
  ToolRun overInputs = RunTool("segment --setting 1 --out " + dir.path().string() + inputs, &errors);
  EXPECT_EQ(overInputs.status, 1);
  EXPECT_NE(errors.find(" would replace the input " + file("p", 0)), std::string::npos) << errors;
  EXPECT_EQ(ReadFile(file("p", 0)), picture);
}

// No output may replace what another part of the run reads or writes: one clip's masks in another clip's label
// folder, a clip's folder that is the output folder itself ("..meta"), or the boundary images over the region
// pictures.
TEST(LabelerToolCorpus, OutputsOverOtherFilesOfTheRunAreRefused) {
  Clip a("labels", {0, 1});  // exports to OUT/labels, which is b's label folder when OUT is b's folder
  Clip b("b", {0});
  const std::string before = ReadFile(LabelImagePath(b.dir.File("labels"), 0));
  std::string errors;
  ToolRun run = RunTool("export --meta " + a.named + " --meta " + b.named + " --out " + b.dir.path().string(), &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(errors.find("overlap"), std::string::npos) << errors;
  EXPECT_EQ(ReadFile(LabelImagePath(b.dir.File("labels"), 0)), before);
  Clip dots(".", {0});  // ..meta
  run = RunTool("export --meta " + dots.named + " --meta " + b.named + " --out " + b.dir.File("out"), &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(errors, "labeler-tool: error: " + dots.named + " gives no folder name of its own ('.'); rename it\n");
  EXPECT_FALSE(std::filesystem::exists(b.dir.File("out")));
  run = RunTool("segment --setting 1 --out " + b.dir.File("seg") + " --edges " + b.dir.File("seg") + " " +
                    b.dir.File("0.png"),
                &errors);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(errors.find("is the --out folder"), std::string::npos) << errors;
}

}  // namespace
}  // namespace labeler
