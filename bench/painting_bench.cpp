// The cost of painting: one mouse move while a stroke is drawn, and one frame change, with nothing shown.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/labeler.h"
#include "bench/bench_support.h"
#include "bench/copy_and_resize.h"

namespace labeler::bench {
namespace {

// A labelling project of two realistic stills in a fresh folder, removed afterwards.
class Project {
 public:
  explicit Project(cv::Size size) {
    std::string pattern = (std::filesystem::temp_directory_path() / "labeler-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    cv::Mat frame = RealisticFrame(size);
    cv::imwrite((dir_ / "f0.png").string(), frame);
    cv::flip(frame, frame, 1);
    cv::imwrite((dir_ / "f1.png").string(), frame);
    std::ofstream(dir_ / "frames.txt") << (dir_ / "f0.png").string() << "\n" << (dir_ / "f1.png").string() << "\n";
    std::ofstream(dir_ / "labels.txt") << "= 1 road 128 64 128\n";
    std::ofstream(dir_ / "run.meta") << "FILE_TIMELINE " << (dir_ / "frames.txt").string() << "\nFILE_LABEL_NAMES "
                                     << (dir_ / "labels.txt").string() << "\nDIR_LABEL_IMGS "
                                     << (dir_ / "labels").string() << "\nFILE_TIMELINE_JUMPBY 1\nMAX_WINDOW_DIM 400\n";
  }
  ~Project() { std::filesystem::remove_all(dir_); }

  // Runs the labeller on the project with `body` inside its key wait. The worker thread is off: these
  // benchmarks measure the foreground's own work (the real-window ones measure it with the worker).
  void Run(NullWindowSystem& windows, const std::function<void(Labeler&)>& body) {
    Labeler app(windows, false);
    windows.body = [&] { body(app); };
    std::string meta = (dir_ / "run.meta").string();
    char program[] = "labeler";
    char* argv[] = {program, meta.data(), nullptr};
    QuietConsole quiet;  // the log lines are not what is measured
    app.Run(2, argv);
  }

 private:
  std::filesystem::path dir_;
};

// Args: width, height, stroke length, setting. Each timed iteration is one move that adds a point to a stroke
// of about the given length; every ten moves the stroke is taken back and drawn again, untimed.
void BM_MoveWhilePainting(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const int length = static_cast<int>(state.range(2));
  const int setting = static_cast<int>(state.range(3));
  Project project(size);
  NullWindowSystem windows;
  project.Run(windows, [&](Labeler& app) {
    windows.MoveTrackbar("N,P,Q,O,U,F", setting);
    auto& mouse = windows.frameMouse;
    auto point = [&](int i) {
      return cv::Point(40 + (i * 7) % (size.width - 80), 40 + (i * 3) % (size.height - 80));
    };
    auto beginStroke = [&] {
      mouse(ui::kLeftPress, point(0).x, point(0).y, ui::kFlagLeft);
      for (int i = 1; i < length; ++i) mouse(ui::kMouseMove, point(i).x, point(i).y, ui::kFlagLeft);
    };
    beginStroke();
    int added = 0;
    for (auto _ : state) {
      cv::Point p = point(length + added);
      mouse(ui::kMouseMove, p.x, p.y, ui::kFlagLeft);
      if (++added == 10) {
        state.PauseTiming();
        mouse(ui::kLeftRelease, p.x, p.y, 0);
        app.ProcessKey('z' - 'a' + 1);
        beginStroke();
        added = 0;
        state.ResumeTiming();
      }
    }
  });
}
BENCHMARK(BM_MoveWhilePainting)
    ->ArgsProduct({{640}, {480}, {50, 200, 1000}, {0, 1}})
    ->Args({1280, 720, 200, 0})->Args({1280, 720, 200, 1})->Args({1280, 720, 1000, 1})
    ->Unit(benchmark::kMicrosecond);

// The floor of one redraw: the frame copied and resized into the rescaled window.
void BM_Yardstick_CopyAndResize(benchmark::State& state) { CopyAndResize(state); }
BENCHMARK(BM_Yardstick_CopyAndResize)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond);

// Space then Backspace with one stroke each time: save, move, load, redraw, twice.
void BM_FrameChange(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  Project project(size);
  NullWindowSystem windows;
  project.Run(windows, [&](Labeler& app) {
    int key = ' ';
    for (auto _ : state) {
      windows.frameMouse(ui::kLeftPress, 100, 100, ui::kFlagLeft);
      windows.frameMouse(ui::kLeftRelease, 100, 100, 0);
      app.ProcessKey(key);
      key = key == ' ' ? 8 : ' ';
    }
  });
}
BENCHMARK(BM_FrameChange)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

// "p" on the frame after a labelled one, from the key to the picture: the flow, the carried labels, the stroke
// and the redraw of the label map. Setting 0; the frames are in memory, as after Space.
void BM_CarryLabelsKey(benchmark::State& state) {
  const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  Project project(size);
  NullWindowSystem windows;
  project.Run(windows, [&](Labeler& app) {
    windows.frameMouse(ui::kLeftPress, 100, 100, ui::kFlagLeft);
    windows.frameMouse(ui::kLeftRelease, 100, 100, 0);
    app.ProcessKey(' ');
    for (auto _ : state) {
      app.ProcessKey('p');
      state.PauseTiming();
      app.ProcessKey('z' - 'a' + 1);
      state.ResumeTiming();
    }
  });
}
BENCHMARK(BM_CarryLabelsKey)
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace labeler::bench
