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
#include <optional>
#include <opencv2/imgcodecs.hpp>
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

// Nanoseconds of CPU the process's main thread, which handles every key and mouse event, has used.
long long MainThreadCpuNanoseconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/schedstat");
  long long onCpu = 0;
  stat >> onCpu;
  return onCpu;
}

// Waits until `cpu` has stopped growing: the events sent are all handled (and, for the whole process, the
// worker has prepared the neighbours).
void WaitUntilIdle(pid_t pid, long long (*cpu)(pid_t) = CpuNanoseconds) {
  long long last = cpu(pid);
  for (int quiet = 0; quiet < 3;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const long long now = cpu(pid);
    quiet = now - last < 200000 ? quiet + 1 : 0;
    last = now;
  }
}

// `frames` frames of the street clip (or of a synthetic street when the clip is not installed) at `size`, MJPG.
std::string WriteClip(const std::filesystem::path& dir, cv::Size size, int frames) {
  const std::string path = (dir / "street.avi").string();
  cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, size);
  cv::VideoCapture street(kStreetClip, cv::CAP_FFMPEG);
  for (int i = 0; i < frames; ++i) {
    cv::Mat frame;
    if (!street.isOpened() || !street.read(frame)) frame = RealisticFrame(size);
    cv::resize(frame, frame, size, 0, 0, cv::INTER_AREA);
    writer.write(frame);
  }
  return path;
}

class LabellerOnScreen {
 public:
  // With `labelled`, every frame has a stored label image (two labels, split down the middle).
  explicit LabellerOnScreen(cv::Size size, int frames = 3, bool labelled = false) {
    std::string pattern = (std::filesystem::temp_directory_path() / "labeler-window-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    const std::string clip = WriteClip(dir_, size, frames);
    std::filesystem::create_directories(dir_ / "labels");
    for (int frame = 0; labelled && frame < frames; ++frame) {
      cv::Mat labels(size, CV_8UC3, cv::Scalar(128, 64, 128));
      labels.colRange(size.width / 2, size.width).setTo(cv::Scalar(142, 0, 0));
      char name[32];
      std::snprintf(name, sizeof name, "frame-%06d.png", frame);
      cv::imwrite((dir_ / "labels" / name).string(), labels);
    }
    std::ofstream(dir_ / "labels.txt") << "= 1 road 128 64 128\n= 2 car 0 0 142\n";
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

  // Turns label assist on with the "a" key.
  void TurnAssistOn() {
    Send("key --window " + window_ + " a");
    WaitUntilIdle(pid());
  }

  // Chooses presegmentation `setting` with the "s" key, which moves the setting trackbar as a click would.
  void ChooseSetting(int setting) {
    if (setting == 0) return;
    std::string keys;
    for (int step = 0; step < setting; ++step) keys += " s";
    Send("key --window " + window_ + " --delay 150" + keys);
    WaitUntilIdle(pid());
  }

  // Seconds from sending `key` until the labeller's main thread has finished with it: the picture is ready.
  // The few milliseconds xdotool takes to start are included.
  double KeyToReady(const std::string& key) { return ToReady("key --window " + window_ + " " + key); }

  // Seconds from sending `key` until the labeller has exited (nothing painted: one Escape quits), or nothing
  // when it is still running a minute later.
  std::optional<double> KeyToExit(const std::string& key) {
    const auto start = std::chrono::steady_clock::now();
    Send("key --window " + window_ + " " + key);
    if (!process_->WaitForExit(60)) return std::nullopt;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  // Likewise for any xdotool `commands`.
  double ToReady(const std::string& commands) {
    const auto start = std::chrono::steady_clock::now();
    long long last = MainThreadCpuNanoseconds(pid());
    Send(commands);
    auto lastBusy = std::chrono::steady_clock::now();
    for (auto now = lastBusy; now - lastBusy < std::chrono::milliseconds(300); now = std::chrono::steady_clock::now()) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      const long long cpu = MainThreadCpuNanoseconds(pid());
      if (cpu != last) lastBusy = std::chrono::steady_clock::now();
      last = cpu;
    }
    return std::chrono::duration<double>(lastBusy - start).count();
  }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<testing::DisplayedProcess> process_;
  std::string window_;
};

// Args: width, height, setting, button held (1) or hover (0), zoom (0 for none, else screen pixels per frame
// pixel: 4), worker busy (1: each batch starts right after a frame change, while the worker prepares the new
// neighbours; the CPU counted is then the main thread's alone, which handles the moves), label assist on (1).
void BM_RealWindowMove(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const int setting = static_cast<int>(state.range(2));
  const bool painting = state.range(3) != 0;
  const bool zoomed = state.range(4) != 0;
  const bool busy = state.range(5) != 0;
  long long (*cpu)(pid_t) = busy ? MainThreadCpuNanoseconds : CpuNanoseconds;
  LabellerOnScreen labeller(size, 4);
  const std::string& window = labeller.window();
  labeller.ChooseSetting(setting);
  if (state.range(6) != 0) labeller.TurnAssistOn();
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
    if (busy) {
      labeller.Send("key --window " + window + (batch % 2 == 0 ? " space" : " BackSpace"));
      WaitUntilIdle(labeller.pid(), MainThreadCpuNanoseconds);
    }
    labeller.Send("mousemove --window " + window + " " + std::to_string(start.x) + " " + std::to_string(start.y) +
                  (painting ? " mousedown 1" : ""));
    WaitUntilIdle(labeller.pid(), busy ? MainThreadCpuNanoseconds : CpuNanoseconds);
    const long long before = cpu(labeller.pid());
    labeller.Send(moves);
    WaitUntilIdle(labeller.pid(), cpu);
    const long long spent = cpu(labeller.pid()) - before;
    if (painting) labeller.Send("mouseup 1");
    state.SetIterationTime(static_cast<double>(spent) * 1e-9 / kMovesPerBatch);
    ++batch;
  }
  WaitUntilIdle(labeller.pid());
  labeller.Send("key --window " + window + " ctrl+d Escape Escape");
}
BENCHMARK(BM_RealWindowMove)
    ->ArgsProduct({{640}, {480}, {0, 1}, {1, 0}, {0}, {0}, {0}})
    ->ArgsProduct({{1920}, {1080}, {0, 1}, {1, 0}, {0}, {0}, {0}})
    ->ArgsProduct({{3840}, {2160}, {0, 1}, {1, 0}, {0}, {0}, {0}})
    ->Args({640, 480, 0, 1, 4, 0, 0})->Args({640, 480, 1, 1, 4, 0, 0})
    ->Args({1920, 1080, 0, 1, 4, 0, 0})->Args({1920, 1080, 1, 1, 4, 0, 0})
    ->Args({3840, 2160, 0, 1, 4, 0, 0})->Args({3840, 2160, 1, 1, 4, 0, 0})
    ->ArgsProduct({{1920}, {1080}, {5}, {1}, {0}, {0, 1}, {0}})
    ->ArgsProduct({{3840}, {2160}, {5}, {1}, {0}, {0, 1}, {0}})
    ->ArgsProduct({{1920}, {1080}, {0, 1, 5}, {1}, {0}, {0}, {0, 1}})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Space (and Backspace) to a ready picture, after the labeller has spent at least 1.5 s on the frame before and
// finished all it does by itself there. Args: width, height, setting, label assist on (1) or off (0). Iterations
// alternate Space (frame 1 to 2) and Backspace (2 to 1); with assist on, the picture is ready once the
// completion is shown.
void BM_RealWindowFrameChange(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  LabellerOnScreen labeller(size, 4);
  labeller.ChooseSetting(static_cast<int>(state.range(2)));
  if (state.range(3) != 0) labeller.TurnAssistOn();
  labeller.KeyToReady("space");
  int change = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    WaitUntilIdle(labeller.pid());
    state.SetIterationTime(labeller.KeyToReady(change++ % 2 == 0 ? "space" : "BackSpace"));
  }
  labeller.Send("key --window " + labeller.window() + " Escape Escape");
}
BENCHMARK(BM_RealWindowFrameChange)
    ->ArgsProduct({{768}, {576}, {0, 1, 5}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {0, 1, 5}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {2, 3, 4}, {0}})
    ->ArgsProduct({{3840}, {2160}, {0, 1, 2, 3, 4, 5}, {0}})
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

// "p" right after Space: the labels of the frame before carried to the frame reached, key to picture. Every
// frame has a stored label image. Args: width, height, setting, label assist on (1) or off (0).
void BM_RealWindowCarryAfterSpace(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  LabellerOnScreen labeller(size, 4, true);
  labeller.ChooseSetting(static_cast<int>(state.range(2)));
  if (state.range(3) != 0) labeller.TurnAssistOn();
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    WaitUntilIdle(labeller.pid());
    labeller.KeyToReady("space");
    state.SetIterationTime(labeller.KeyToReady("p"));
    labeller.KeyToReady("BackSpace");
  }
  labeller.Send("key --window " + labeller.window() + " Escape Escape");
}
BENCHMARK(BM_RealWindowCarryAfterSpace)
    ->ArgsProduct({{1920}, {1080}, {0, 5}, {0, 1}})
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

// A stroke's release to the label map shown again (with assist on, completed). Args: width, height, setting,
// label assist on (1) or off (0). Each iteration paints a short stroke somewhere else with the first label.
void BM_RealWindowStrokeToCompletion(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  LabellerOnScreen labeller(size, 4);
  labeller.ChooseSetting(static_cast<int>(state.range(2)));
  if (state.range(3) != 0) labeller.TurnAssistOn();
  const std::string& window = labeller.window();
  labeller.KeyToReady("1");
  const int width = std::min(size.width, 1800);
  const int height = std::min(size.height, 1000);
  int stroke = 0;
  for (auto _ : state) {
    const int x = width / 8 + (stroke * 97) % (width * 3 / 4);
    const int y = height / 8 + (stroke * 61) % (height * 3 / 4);
    ++stroke;
    std::string moves = "mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
                        " mousedown 1";
    for (int step = 1; step <= 10; ++step) {
      moves += " mousemove --window " + window + " " + std::to_string(x + 3 * step) + " " + std::to_string(y + step) +
               " sleep 0.01";
    }
    labeller.Send(moves);
    WaitUntilIdle(labeller.pid());
    state.SetIterationTime(labeller.ToReady("mouseup 1"));
  }
  labeller.Send("key --window " + window + " ctrl+d Escape Escape");
}
BENCHMARK(BM_RealWindowStrokeToCompletion)
    ->ArgsProduct({{768}, {576}, {0, 1, 5}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {0, 1, 5}, {0, 1}})
    ->UseManualTime()
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);

// Escape right after Space, while the worker segments the new neighbour: from the key to the labeller's exit.
// Work nobody wants any more is cancelled, not finished. Args: width, height, setting.
void BM_RealWindowQuitWhilePreparing(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    LabellerOnScreen labeller(size, 4);
    labeller.ChooseSetting(static_cast<int>(state.range(2)));
    labeller.KeyToReady("space");
    const std::optional<double> seconds = labeller.KeyToExit("Escape");
    if (!seconds) {
      state.SkipWithError("the labeller did not quit within a minute of Escape");
      break;
    }
    state.SetIterationTime(*seconds);
  }
}
BENCHMARK(BM_RealWindowQuitWhilePreparing)
    ->ArgsProduct({{1920}, {1080}, {5}})
    ->ArgsProduct({{3840}, {2160}, {1, 5}})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The floor of the benchmarks above: a key the labeller ignores ("x"), from sending it to the main thread
// going idle again. What xdotool itself takes to start and send a key is in every figure above, and in this one.
void BM_RealWindowKeyFloor(benchmark::State& state) {
  LabellerOnScreen labeller({1920, 1080}, 4);
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    WaitUntilIdle(labeller.pid());
    state.SetIterationTime(labeller.KeyToReady("x"));
  }
  labeller.Send("key --window " + labeller.window() + " Escape Escape");
}
BENCHMARK(BM_RealWindowKeyFloor)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

// The yardstick of the same run: one copy of a frame of that size and its resize to the rescaled window.
void BM_RealWindowYardstick_CopyAndResize(benchmark::State& state) { CopyAndResize(state); }
BENCHMARK(BM_RealWindowYardstick_CopyAndResize)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace labeler::bench
