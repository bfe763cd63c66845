// The README's Slurm job array, submitted as it stands to a real single-node Slurm.
#include <gtest/gtest.h>

#include <QJsonObject>
#include <filesystem>
#include <string>

#include "support/corpus.h"
#include "support/slurm_cluster.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace labeler {
namespace {

using testing::Clip;
using testing::FilesUnder;
using testing::ParseJson;
using testing::ReadFile;
using testing::RunTool;
using testing::SlurmCluster;
using testing::TempDir;

// The array of four exports ends in seconds; the rest is room for a loaded machine.
constexpr double kJobSeconds = 120;

// The README's job script: its fenced block that opens with `#!/bin/bash` and `# export-corpus.sh`.
std::string ReadmeJobScript() {
  const std::string readme = ReadFile(LABELER_README);
  const std::size_t start = readme.find("```sh\n#!/bin/bash\n# export-corpus.sh");
  if (start == std::string::npos) return "";
  const std::size_t body = readme.find('\n', start) + 1;
  return readme.substr(body, readme.find("```", body) - body);
}

// Every job's log, for a failure message.
std::string JobLogs(const std::string& folder) {
  std::string logs;
  for (const auto& [name, bytes] : FilesUnder(folder)) {
    if (name.ends_with(".log")) logs += "---- " + name + "\n" + bytes;
  }
  return logs;
}

// The four tasks of the README's array, run by Slurm in the folder the script expects (clips/ beside build/,
// the built program linked there), write between them what one job writes, byte for byte; each prints one JSON
// summary, and their counts add up to the whole.
TEST(LabelerToolSlurm, TheReadmesJobArrayAddsUpToTheOneJobExport) {
  const std::string script = ReadmeJobScript();
  ASSERT_NE(script.find("#SBATCH --array=0-3"), std::string::npos) << "no job-array script in the README";
  SlurmCluster cluster;
  std::string why;
  const SlurmCluster::State state = cluster.Start(&why);
  if (state == SlurmCluster::State::kSlurmdRefused) GTEST_SKIP() << "Slurm cannot run jobs on this machine: " << why;
  ASSERT_EQ(state, SlurmCluster::State::kUp) << why;

  Clip a("a", {0, 1, 2, 5, 7, 11});
  Clip b("b", {0, 3, 4, 6, 9});
  TempDir work;
  std::filesystem::create_directories(work.File("clips"));
  std::filesystem::create_directories(work.File("build"));
  std::filesystem::copy_file(a.named, work.File("clips/a.meta"));
  std::filesystem::copy_file(b.named, work.File("clips/b.meta"));
  std::filesystem::create_symlink(LABELER_TOOL, work.File("build/labeler-tool"));
  work.Write("export-corpus.sh", script);
  TempDir whole;
  const std::string metas = "--meta " + work.File("clips/a.meta") + " --meta " + work.File("clips/b.meta");
  ASSERT_EQ(RunTool("export " + metas + " --out " + whole.path().string()).status, 0);

  const testing::ToolRun submitted = cluster.Run("sbatch --parsable export-corpus.sh", work.path().string());
  ASSERT_EQ(submitted.status, 0) << submitted.output;
  const std::string job = submitted.output.substr(0, submitted.output.find_first_of(";\n"));
  ASSERT_TRUE(cluster.WaitForJob(job, kJobSeconds)) << JobLogs(work.path().string()) << cluster.Logs();
  // The scheduler's own word on each task: ended, with status 0.
  const std::string tasks = cluster.Run("scontrol -o show job " + job, work.path().string()).output;
  int completed = 0;
  for (std::size_t at = 0; (at = tasks.find("JobState=COMPLETED", at)) != std::string::npos; ++at) ++completed;
  ASSERT_EQ(completed, 4) << tasks << JobLogs(work.path().string());

  EXPECT_EQ(FilesUnder(work.File("masks")), FilesUnder(whole.path().string()));
  int exported = 0;
  for (int k = 0; k < 4; ++k) {
    const QJsonObject summary = ParseJson(ReadFile(work.File("export-" + std::to_string(k) + ".json")));
    EXPECT_EQ(summary["shard"].toObject()["index"].toInt(), k);
    EXPECT_EQ(summary["shard"].toObject()["count"].toInt(), 4);
    EXPECT_EQ(summary["failed"].toInt(), 0);
    exported += summary["exported"].toInt();
  }
  EXPECT_EQ(exported, 6 + 5);
}

}  // namespace
}  // namespace labeler
