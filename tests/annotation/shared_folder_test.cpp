// A label folder shared with another process: its lock says who has the folder open, and a label image the other
// process wrote is never replaced.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "annotation/label_folder_lock.h"
#include "support/painting_session.h"
#include "support/tool_run.h"

namespace labeler {
namespace {

using testing::kCarBgr;
using testing::kRoadBgr;
using testing::PaintingSession;
using testing::ReadFile;

TEST(SharedLabelFolder, TheLockNamesItsHolderAndALeftLockIsTakenOver) {
  testing::TempDir dir;
  const std::string lockFile = dir.File(".labeler.lock");
  {
    LabelFolderLock first(dir.path().string());
    ASSERT_TRUE(first.held());
    ::testing::internal::CaptureStderr();
    LabelFolderLock second(dir.path().string());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(second.held());
    EXPECT_NE(said.find("is also open in process " + std::to_string(getpid())), std::string::npos) << said;
  }
  EXPECT_FALSE(std::filesystem::exists(lockFile));  // the holder's lock goes with it, the other leaves it be
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  dir.Write(".labeler.lock", std::string("host ") + host + "\npid " + std::to_string(gone) + "\nstarted then\n");
  ::testing::internal::CaptureStdout();
  LabelFolderLock taker(dir.path().string());
  const std::string said = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(taker.held());
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
  const cv::Mat frame0 = s.Stored(0);
  EXPECT_EQ(frame0.at<cv::Vec3b>(5, 5), kRoadBgr);  // saved over: this labeller had loaded the other's image
  EXPECT_EQ(frame0.at<cv::Vec3b>(40, 60), kCarBgr);
  EXPECT_FALSE(std::filesystem::exists(s.dir.File("labels/frame-000000.conflict-2.png")));
}

}  // namespace
}  // namespace labeler
