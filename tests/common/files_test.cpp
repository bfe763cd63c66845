// What the readers accept as a file: regular files only, a leading byte-order mark skipped.
#include "common/files.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>

#include "common/fatal_error.h"
#include "config/label_set.h"
#include "config/meta_file.h"
#include "support/temp_dir.h"
#include "timeline/timeline.h"

namespace labeler {
namespace {

using testing::TempDir;

// The message of the FatalError that `read` throws, or "" when it throws none.
std::string ErrorOf(const std::function<void()>& read) {
  try {
    read();
  } catch (const FatalError& error) {
    return error.what();
  }
  return "";
}

TEST(Files, KindsOtherThanRegularFilesAreNamed) {
  TempDir dir;
  const std::string file = dir.Write("file.txt", "x");
  std::filesystem::create_symlink(file, dir.File("link.txt"));
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir.File("sock");
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(NotARegularFile(file), "");
  EXPECT_EQ(NotARegularFile(dir.File("link.txt")), "");
  EXPECT_EQ(NotARegularFile(dir.File("missing")), "");
  EXPECT_EQ(NotARegularFile(dir.path().string()), "is a folder");
  EXPECT_EQ(NotARegularFile(dir.File("fifo")), "is a FIFO");
  EXPECT_EQ(NotARegularFile("/dev/null"), "is a device");
  EXPECT_EQ(NotARegularFile(socketPath), "is a socket");
  close(sock);
}

// A FIFO would block fopen, the image loader and the movie reader for ever: every reader refuses it at once.
TEST(Files, EveryReaderRefusesAFifoNamingIt) {
  TempDir dir;
  const std::string fifo = dir.File("fifo.avi.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string stillList = dir.Write("list.txt", fifo + "\n");
  MetaConfig config;
  LabelSet labels;
  const std::vector<std::pair<std::string, std::function<void()>>> readers = {
      {"cannot open meta file", [&] { ReadMetaFile(config, fifo); }},
      {"cannot open label-names file", [&] { LoadLabelSet(fifo, labels); }},
      {"cannot open still list", [&] { ReadStillList(fifo); }},
      {"cannot load still image", [&] { Timeline(stillList).ReloadMovie(); }},
      {"cannot open movie", [&] { Timeline(fifo).ReloadMovie(); }},
  };
  for (const auto& [expected, read] : readers) {
    ::testing::internal::CaptureStdout();
    const std::string error = ErrorOf(read);
    ::testing::internal::GetCapturedStdout();
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_NE(error.find(fifo), std::string::npos) << error;
    EXPECT_NE(error.find(": it is a FIFO\n"), std::string::npos) << error;
  }
}

TEST(Files, AByteOrderMarkIsSkippedByEveryTextReader) {
  TempDir dir;
  const std::string mark = "\xef\xbb\xbf";
  MetaConfig config;
  ReadMetaFile(config, dir.Write("run.meta", mark + "FILE_TIMELINE a.avi\nMAX_WINDOW_DIM 300\n"));
  EXPECT_EQ(config.FILE_TIMELINE, "a.avi");
  LabelSet labels;
  ::testing::internal::CaptureStderr();
  LoadLabelSet(dir.Write("labels.txt", mark + "road 128 64 128\n"), labels);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].name, "road");
  EXPECT_EQ(ReadStillList(dir.Write("list.txt", mark + "a.png\n")), std::vector<std::string>{"a.png"});
  // Text that only begins like a mark is read as it stands.
  EXPECT_EQ(ReadStillList(dir.Write("l2.txt", "\xef\xbb" "b.png\n")), std::vector<std::string>{"\xef\xbb" "b.png"});
}

}  // namespace
}  // namespace labeler
