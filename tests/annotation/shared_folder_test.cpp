// A label folder shared with another process: its lock says who has the folder open, and a label image the other
// process wrote is never replaced.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "annotation/label_file.h"
#include "annotation/label_folder_lock.h"
#include "annotation/painted_record.h"
#include "support/painting_session.h"
#include "support/tool_run.h"

namespace labeler {
namespace {

using testing::kCarBgr;
using testing::kRoadBgr;
using testing::PaintingSession;
using testing::ReadFile;

// A labeller in another process, holding the folder until `release` is closed.
pid_t OpenInChild(const std::string& dir, int release[2], int ready[2]) {
  const pid_t child = fork();
  if (child == 0) {
    {
      std::freopen("/dev/null", "w", stderr);
      LabelFolderLock lock(dir);
      char byte = 1;
      if (write(ready[1], &byte, 1) != 1) _exit(1);
      close(release[1]);
      while (read(release[0], &byte, 1) > 0) {
      }
    }
    _exit(0);
  }
  char byte;
  EXPECT_EQ(read(ready[0], &byte, 1), 1);
  return child;
}

// The lock names everyone who has the folder open: the holder, and a labeller that started while it was held,
// also after the holder quit. A lock left by a process that no longer runs is taken over.
TEST(SharedLabelFolder, TheLockNamesEveryLabellerAndALeftLockIsTakenOver) {
  testing::TempDir dir;
  const std::string lockFile = dir.File(".labeler.lock");
  int release[2], ready[2];
  ASSERT_EQ(pipe(release), 0);
  ASSERT_EQ(pipe(ready), 0);
  pid_t second = 0;
  {
    LabelFolderLock first(dir.path().string());
    ASSERT_TRUE(first.held());
    EXPECT_TRUE(first.alone());
    second = OpenInChild(dir.path().string(), release, ready);
  }
  EXPECT_FALSE(std::filesystem::exists(lockFile));  // the holder's lock goes with it, the other leaves it be
  ::testing::internal::CaptureStderr();
  {
    LabelFolderLock third(dir.path().string());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(third.held());
    EXPECT_FALSE(third.alone());
    EXPECT_NE(said.find("is also open in process " + std::to_string(second)), std::string::npos) << said;
    EXPECT_NE(third.othersNotice().find("process " + std::to_string(second)), std::string::npos);
  }
  close(release[1]);
  waitpid(second, nullptr, 0);
  {
    LabelFolderLock fourth(dir.path().string());
    EXPECT_TRUE(fourth.alone()) << fourth.othersNotice();
  }
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  dir.Write(".labeler.lock", std::string("host ") + host + "\npid " + std::to_string(gone) + "\nstarted then\n");
  ::testing::internal::CaptureStderr();  // with the other lock messages
  LabelFolderLock taker(dir.path().string());
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(taker.alone());
  EXPECT_NE(said.find("left by process " + std::to_string(gone)), std::string::npos) << said;
  EXPECT_NE(ReadFile(lockFile).find("pid " + std::to_string(getpid())), std::string::npos);
}

// Another writer saves frame 0 while this labeller paints it (an undo after that changes nothing), and creates
// frame 1's label image after this labeller found none: both saves go beside, as conflict files, and a frame
// loaded again is saved over as usual.
TEST(SharedLabelFolder, ALabelImageAnotherProcessWroteIsNeverReplaced) {
  PaintingSession s;
  const cv::Mat theirs(48, 64, CV_8UC3, cv::Scalar(kCarBgr));
  s.Click({30, 30});
  s.Click({5, 40});
  s.windows.Do([&] { cv::imwrite(s.LabelFile(0), theirs); });
  s.windows.Key(26);
  s.windows.Key(' ');
  s.windows.Do([&] { cv::imwrite(s.LabelFile(1), theirs); });
  s.Click({30, 30});
  s.windows.Key(' ');
  s.windows.Key(ui::kKeyBackspace);
  s.windows.Key(ui::kKeyBackspace);  // frame 0 loaded again: the other's image, to go on from
  s.windows.Key('1');
  s.Click({5, 5});
  s.windows.Key(' ');
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(s.Run(), 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  for (int frame : {0, 1}) {
    const std::string beside = s.dir.File("labels/frame-00000" + std::to_string(frame) + ".conflict-1.png");
    const cv::Mat ours = cv::imread(beside, cv::IMREAD_COLOR);
    ASSERT_FALSE(ours.empty()) << beside;
    EXPECT_EQ(ours.at<cv::Vec3b>(30, 30), kRoadBgr);
    EXPECT_EQ(ours.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
    EXPECT_NE(said.find("is saved as " + beside), std::string::npos) << said;
  }
  EXPECT_EQ(cv::norm(s.Stored(1), theirs, cv::NORM_INF), 0);
  ASSERT_EQ(s.windows.messageBoxes.size(), 2u);  // whoever sees no console is told too
  EXPECT_NE(s.windows.messageBoxes[1].first.find("frame-000001.conflict-1.png"), std::string::npos);
  const cv::Mat frame0 = s.Stored(0);
  EXPECT_EQ(frame0.at<cv::Vec3b>(5, 5), kRoadBgr);  // saved over: this labeller had loaded the other's image
  EXPECT_EQ(frame0.at<cv::Vec3b>(40, 60), kCarBgr);
  EXPECT_FALSE(std::filesystem::exists(s.dir.File("labels/frame-000000.conflict-2.png")));
}

// Another process saved exactly what this labeller saves: nothing goes beside. A version that does go beside is
// on the status line until the next frame change, never "nothing unsaved".
TEST(SharedLabelFolder, AnIdenticalSaveMakesNoConflictAndAConflictStaysOnTheStatusLine) {
  PaintingSession s;
  cv::Mat ours = cv::Mat::zeros(48, 64, CV_8UC3);
  cv::circle(ours, {30, 30}, 10, cv::Scalar(kRoadBgr), cv::FILLED, cv::LINE_8);
  std::string status;
  s.Click({30, 30});
  s.windows.Do([&] { cv::imwrite(s.LabelFile(0), ours); });
  s.windows.Key('c');
  s.Click({30, 30});
  s.windows.Do([&] { cv::imwrite(s.LabelFile(0), cv::Mat(48, 64, CV_8UC3, cv::Scalar(kCarBgr))); });
  s.windows.Key('c');
  s.windows.Do([&] { status = s.windows.StatusText(testing::kFrameWin); });
  ASSERT_EQ(s.Run(), 0);
  EXPECT_TRUE(std::filesystem::exists(s.dir.File("labels/frame-000000.conflict-1.png")));
  EXPECT_FALSE(std::filesystem::exists(s.dir.File("labels/frame-000000.conflict-2.png")));
  EXPECT_NE(status.find("saved beside it as frame-000000.conflict-1.png"), std::string::npos) << status;
  EXPECT_EQ(status.find("nothing unsaved"), std::string::npos) << status;
}

// A label image that is a link to a file elsewhere is saved over like any other, not taken for another's version;
// a damaged one is kept as .bak only while it is still the one loaded.
TEST(SharedLabelFolder, ALinkedOrDamagedLabelImageIsNoConflict) {
  testing::TempDir dir;
  const std::string labels = dir.File("labels");
  std::filesystem::create_directory(labels);
  const cv::Size size(8, 6);
  const cv::Mat ours(size, CV_8UC3, cv::Scalar(kRoadBgr));
  cv::imwrite(dir.File("elsewhere.png"), cv::Mat(size, CV_8UC3, cv::Scalar(kCarBgr)));
  std::filesystem::create_symlink(dir.File("elsewhere.png"), LabelImagePath(labels, 0));
  dir.Write("labels/frame-000001.png", "damaged");
  ::testing::internal::CaptureStderr();
  LabelFile file(labels);
  file.Load(0, size);
  EXPECT_TRUE(file.Save(0, ours, NonBlackPixels(ours)));
  file.Load(1, size);
  const cv::Mat theirs(size, CV_8UC3, cv::Scalar(kCarBgr));
  cv::imwrite(LabelImagePath(labels, 1), theirs);  // another labeller's good version over the damaged one
  EXPECT_TRUE(file.Save(1, ours, NonBlackPixels(ours)));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(cv::norm(cv::imread(LabelImagePath(labels, 0)), ours, cv::NORM_INF), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("labels/frame-000000.conflict-1.png")));
  EXPECT_EQ(cv::norm(cv::imread(LabelImagePath(labels, 1)), theirs, cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(cv::imread(dir.File("labels/frame-000001.conflict-1.png")), ours, cv::NORM_INF), 0);
  EXPECT_FALSE(std::filesystem::exists(LabelImagePath(labels, 1) + ".bak"));
}

// Processes saving one frame at once, each from the version it loaded: one replaces it, every other version goes
// beside under a name of its own, and none is lost, however the saves interleave.
TEST(SharedLabelFolder, ProcessesSavingAtOnceLoseNoVersion) {
  constexpr int kRounds = 40;
  constexpr int kWriters = 4;
  const cv::Size size(64, 48);
  for (int round = 0; round < kRounds; ++round) {
    testing::TempDir dir;
    const std::string labels = dir.path().string();
    const bool overExisting = round % 2 == 1;
    if (overExisting) cv::imwrite(LabelImagePath(labels, 0), cv::Mat(size, CV_8UC3, cv::Scalar(1, 1, 1)));
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
      const pid_t child = fork();
      if (child == 0) {
        std::freopen("/dev/null", "w", stderr);
        LabelFile file(labels);
        file.Load(0, size);
        close(go[1]);
        char byte;
        while (read(go[0], &byte, 1) > 0) {
        }
        const cv::Mat mine(size, CV_8UC3, cv::Scalar(10 + w, 20, 30));
        _exit(file.Save(0, mine, NonBlackPixels(mine)) ? 0 : 1);
      }
      writers.push_back(child);
    }
    close(go[0]);
    close(go[1]);  // all start saving at once
    for (pid_t writer : writers) {
      int status = 0;
      waitpid(writer, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<int> found;
    for (int n = 0; n <= kWriters; ++n) {
      const std::string name = n == 0 ? "frame-000000.png" : "frame-000000.conflict-" + std::to_string(n) + ".png";
      const cv::Mat version = cv::imread(dir.File(name), cv::IMREAD_COLOR);
      if (!version.empty()) found.insert(version.at<cv::Vec3b>(0, 0)[0]);
    }
    EXPECT_EQ(found, (std::set<int>{10, 11, 12, 13})) << "round " << round;
  }
}

}  // namespace
}  // namespace labeler
