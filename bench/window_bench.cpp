// What the annotator feels under the brush: the labeller's own CPU time per mouse move, on real windows under
// Xvfb with real X input (xdotool), about 100 moves a second, on street footage scaled to each size. Beside it,
// in the same run, the yardstick: one copy of the frame and its resize to the 400-pixel window.
//
// Each iteration is one batch of moves; its time is the CPU the labeller (all its threads, from
// /proc/PID/task/*/schedstat) spent on the batch, divided by the moves. LABELER_BINARY names another build of the
// labeller to measure (an older one, say), in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <thread>

#include "bench/bench_support.h"
#include "bench/copy_and_resize.h"
#include "support/x_session.h"

namespace labeler::bench {
namespace {

constexpr int kMovesPerBatch = 300;

testing::XvfbServer& Screen() {
  static testing::XvfbServer server("4096x2400");  // room for a 4K frame and its trackbars
  return server;
}

// Nanoseconds of CPU the process has used, all threads together.
long long CpuNanoseconds(pid_t pid) {
  long long total = 0;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream stat(task.path() / "schedstat");
    long long onCpu = 0;
    if (stat >> onCpu) total += onCpu;
  }
  return total;
}

// Waits until the process has stopped using CPU: the events sent are all handled.
void WaitUntilIdle(pid_t pid) {
  long long last = CpuNanoseconds(pid);
  for (int quiet = 0; quiet < 3;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const long long now = CpuNanoseconds(pid);
    quiet = now - last < 200000 ? quiet + 1 : 0;
    last = now;
  }
}

// Three frames of the street clip (or of a synthetic street when the clip is not installed) at `size`, MJPG.
std::string WriteClip(const std::filesystem::path& dir, cv::Size size) {
  const std::string path = (dir / "street.avi").string();
  cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, size);
  cv::VideoCapture street(kStreetClip, cv::CAP_FFMPEG);
  for (int i = 0; i < 3; ++i) {
    cv::Mat frame;
    if (!street.isOpened() || !street.read(frame)) frame = RealisticFrame(size);
    cv::resize(frame, frame, size, 0, 0, cv::INTER_AREA);
    writer.write(frame);
  }
  return path;
}

class LabellerOnScreen {
 public:
  explicit LabellerOnScreen(cv::Size size) {
    std::string pattern = (std::filesystem::temp_directory_path() / "labeler-window-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    const std::string clip = WriteClip(dir_, size);
    std::ofstream(dir_ / "labels.txt") << "= 1 road 128 64 128\n";
    std::ofstream(dir_ / "run.meta") << "FILE_TIMELINE " << clip << "\nFILE_LABEL_NAMES " << (dir_ / "labels.txt").string()
                                     << "\nDIR_LABEL_IMGS " << (dir_ / "labels").string()
                                     << "\nFILE_TIMELINE_JUMPBY 1\nMAX_WINDOW_DIM 400\n";
    const char* binary = std::getenv("LABELER_BINARY");
    process_ = std::make_unique<testing::DisplayedProcess>(
        Screen(), std::vector<std::string>{binary != nullptr ? binary : LABELER_BINARY, (dir_ / "run.meta").string()},
        dir_.string());
    process_->WaitForOutput("Frame #0\nFrame #0\n", 60);
    window_ = testing::FindWindow(Screen(), "Click Me!");
    WaitUntilIdle(pid());
  }
  ~LabellerOnScreen() {
    process_.reset();
    std::filesystem::remove_all(dir_);
  }

  pid_t pid() const { return process_->pid(); }
  const std::string& window() const { return window_; }
  // xdotool commands on the window.
  void Send(const std::string& commands) { testing::RunOnDisplay(Screen(), "xdotool " + commands); }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<testing::DisplayedProcess> process_;
  std::string window_;
};

// Args: width, height, setting, button held (1) or hover (0), zoom (0 for none, else screen pixels per frame
// pixel: 4).
void BM_RealWindowMove(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const int setting = static_cast<int>(state.range(2));
  const bool painting = state.range(3) != 0;
  const bool zoomed = state.range(4) != 0;
  LabellerOnScreen labeller(size);
  const std::string& window = labeller.window();
  if (setting > 0) {  // one wheel notch on the setting trackbar, just under the picture
    labeller.Send("mousemove --window " + window + " " + std::to_string(size.width / 2) + " " +
                  std::to_string(size.height + 12) + " sleep 0.1 click --repeat " + std::to_string(setting) +
                  " --delay 150 4");
    WaitUntilIdle(labeller.pid());
  }
  if (zoomed) {  // to 4: three steps from a frame that fits the screen (1, 2, 3, 4), four from a reduced one
    std::string keys;
    for (int step = 0; step < (size.width > 2000 ? 4 : 3); ++step) keys += " bracketright";
    labeller.Send("mousemove --window " + window + " 400 300 sleep 0.1 key --window " + window + " --delay 150" + keys);
    WaitUntilIdle(labeller.pid());
  }
  // A zigzag over the middle of the picture, inside the screen.
  const int width = std::min(size.width, 1800);
  const int height = std::min(size.height, 1000);
  auto point = [&](int i) {
    return cv::Point(width / 8 + (i * 13) % (width * 3 / 4), height / 8 + (i * 7) % (height * 3 / 4));
  };
  int batch = 0;
  for (auto _ : state) {
    std::string moves;
    for (int i = 0; i < kMovesPerBatch; ++i) {
      const cv::Point p = point(batch * kMovesPerBatch + i);
      moves += " mousemove --window " + window + " " + std::to_string(p.x) + " " + std::to_string(p.y) + " sleep 0.01";
    }
    const cv::Point start = point(batch * kMovesPerBatch);
    labeller.Send("mousemove --window " + window + " " + std::to_string(start.x) + " " + std::to_string(start.y) +
                  (painting ? " mousedown 1" : ""));
    WaitUntilIdle(labeller.pid());
    const long long before = CpuNanoseconds(labeller.pid());
    labeller.Send(moves);
    WaitUntilIdle(labeller.pid());
    const long long spent = CpuNanoseconds(labeller.pid()) - before;
    if (painting) labeller.Send("mouseup 1");
    state.SetIterationTime(static_cast<double>(spent) * 1e-9 / kMovesPerBatch);
    ++batch;
  }
  WaitUntilIdle(labeller.pid());
  labeller.Send("key --window " + window + " ctrl+d Escape Escape");
}
BENCHMARK(BM_RealWindowMove)
    ->ArgsProduct({{640}, {480}, {0, 1}, {1, 0}, {0}})
    ->ArgsProduct({{1920}, {1080}, {0, 1}, {1, 0}, {0}})
    ->ArgsProduct({{3840}, {2160}, {0, 1}, {1, 0}, {0}})
    ->Args({640, 480, 0, 1, 4})->Args({640, 480, 1, 1, 4})
    ->Args({1920, 1080, 0, 1, 4})->Args({1920, 1080, 1, 1, 4})
    ->Args({3840, 2160, 0, 1, 4})->Args({3840, 2160, 1, 1, 4})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The yardstick of the same run: one copy of a frame of that size and its resize to the rescaled window.
void BM_RealWindowYardstick_CopyAndResize(benchmark::State& state) { CopyAndResize(state); }
BENCHMARK(BM_RealWindowYardstick_CopyAndResize)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace labeler::bench
