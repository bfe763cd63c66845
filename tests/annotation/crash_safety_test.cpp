// Label images survive a kill at any moment of a save: the file on disk is always the old or the new one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <thread>

#include "support/temp_dir.h"

namespace labeler {
namespace {

TEST(CrashSafety, KilledWhileSavingLeavesTheOldOrTheNewLabelImage) {
  testing::TempDir dir;
  const cv::Size size(1280, 720);
  cv::Mat contents[2] = {cv::Mat(size, CV_8UC3), cv::Mat(size, CV_8UC3)};
  for (int i = 0; i < 2; ++i) cv::RNG(i + 1).fill(contents[i], cv::RNG::UNIFORM, 0, 256);
  std::mt19937 random(2026);
  constexpr int kTrials = 25;
  for (int trial = 0; trial < kTrials; ++trial) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
      dup2(ready[1], STDERR_FILENO);
      execl(SAVE_LOOP, SAVE_LOOP, dir.path().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ready[1]);
    char buffer[16];
    ASSERT_GT(read(ready[0], buffer, sizeof buffer), 0) << "the save loop did not start";
    close(ready[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 80000)(random)));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const cv::Mat stored = cv::imread(dir.File("labels/frame-000000.png"), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(stored.empty()) << "trial " << trial << ": the label image does not decode";
    const bool old = cv::norm(stored, contents[0], cv::NORM_INF) == 0;
    const bool fresh = cv::norm(stored, contents[1], cv::NORM_INF) == 0;
    EXPECT_TRUE(old || fresh) << "trial " << trial << ": the label image is neither version";
  }
}

}  // namespace
}  // namespace labeler
