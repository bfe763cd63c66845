// A long session through the test double: tens of thousands of mouse events and hundreds of frame changes
// over every setting. Memory must stay flat, and replaying the same session from scratch must write the very
// same label images.
#include <gtest/gtest.h>
#include <malloc.h>

#include <fstream>
#include <map>
#include <random>

#include "common/random.h"
#include "support/painting_session.h"

namespace labeler {
namespace {

using testing::kFrameWin;
using testing::kLabelWin;
using testing::kPresegWin;
using testing::PaintingSession;

// Under AddressSanitizer freed memory waits in a quarantine, and ThreadSanitizer keeps the history of freed memory,
// so resident size says nothing about growth there; the leak checker of the AddressSanitizer build covers it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeTellsGrowth = false;
#else
constexpr bool kResidentSizeTellsGrowth = true;
#endif

// Resident memory, after the allocator has given back the free pages it keeps: what stays is what is in use,
// so that growth means a leak, not the shape the heap happens to have.
long ResidentBytes() {
  malloc_trim(0);
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

struct SessionResult {
  std::map<std::string, std::string> files;  // label image name -> bytes
  long warmResident = 0;
  long endResident = 0;
  int mouseEvents = 0;
  int frameChanges = 0;
};

SessionResult RunLongSession() {
  PaintingSession s(6, {64, 48}, 96);
  SessionResult result;
  std::mt19937 generator(7);
  auto pick = [&generator](int n) { return std::uniform_int_distribution<int>(0, n - 1)(generator); };
  const char* windows[] = {kFrameWin, kPresegWin, kLabelWin};
  const int frameKeys[] = {' ', ' ', ' ', 8, '+', '-', 'c'};
  constexpr int kFrameChanges = 500;
  for (int change = 0; change < kFrameChanges; ++change) {
    if (change % 7 == 0) s.windows.MoveTrackbar("N,P,Q,O,U,F", change / 7 % 6);
    if (change % 11 == 0) s.windows.MoveTrackbar("PyrSeg1", pick(60));
    s.windows.Key('1' + pick(2));
    for (int stroke = 0; stroke < 2; ++stroke) {
      const char* window = windows[pick(3)];
      s.windows.Mouse(window, ui::kLeftPress, pick(64), pick(48), ui::kFlagLeft);
      for (int move = 0; move < 18; ++move) {
        s.windows.Mouse(window, ui::kMouseMove, pick(70) - 3, pick(52) - 2, ui::kFlagLeft);
      }
      s.windows.Mouse(window, ui::kLeftRelease, pick(64), pick(48));
      result.mouseEvents += 20;
    }
    if (change % 5 == 0) s.windows.Key(26);
    if (change % 9 == 0) s.windows.Key(25);
    if (change % 13 == 0) s.windows.Key(4);
    if (change % 17 == 0) s.windows.Mouse(kFrameWin, pick(2) ? ui::kWheelForward : ui::kWheelBack, 5, 5);
    s.windows.Key(frameKeys[pick(7)]);
    ++result.frameChanges;
    s.windows.Do([&s] { s.windows.showLog.clear(); });
    if (change == 100) s.windows.Do([&result] { result.warmResident = ResidentBytes(); });
  }
  s.windows.Do([&result] { result.endResident = ResidentBytes(); });
  s.windows.Key(' ');  // leave the last frame so that its strokes are saved too
  Random::Shared().Seed(1);
  s.Run();
  for (const auto& entry : std::filesystem::directory_iterator(s.LabelDir())) {
    std::ifstream in(entry.path(), std::ios::binary);
    result.files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return result;
}

TEST(LongSession, MemoryStaysFlatAndAReplayWritesTheSameFiles) {
  SessionResult first = RunLongSession();
  EXPECT_GE(first.mouseEvents, 20000);
  EXPECT_GE(first.frameChanges, 500);
  EXPECT_EQ(first.files.size(), 6u);
  if (kResidentSizeTellsGrowth) {
    const long growth = first.endResident - first.warmResident;
    EXPECT_LT(growth, 4L << 20) << "resident memory grew by " << growth << " bytes after warm-up";
    std::printf("resident after warm-up %ld bytes, at the end %ld bytes\n", first.warmResident, first.endResident);
  }
  SessionResult replay = RunLongSession();
  EXPECT_TRUE(first.files == replay.files) << "the replay wrote different label images";
}

}  // namespace
}  // namespace labeler
