#include "support/random_session.h"

#include <gtest/gtest.h>

#include <opencv2/videoio.hpp>
#include <random>

#include "common/random.h"
#include "support/checksum.h"
#include "support/painting_session.h"

namespace labeler::testing {
namespace {

// Frames with texture, so that every presegmentation has many regions of many sizes; as stills of a list, or
// as a Motion-JPEG movie.
void TextureFrames(PaintingSession& s, const RandomSessionOptions& options) {
  std::string list;
  cv::RNG rng(11);
  cv::VideoWriter movie;
  const std::string moviePath = s.dir.File("texture.avi");
  if (options.movie) {
    movie.open(moviePath, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, options.size);
  }
  for (int i = 0; i < options.frames; ++i) {
    cv::Mat frame(options.size, CV_8UC3, cv::Scalar(60 + 20 * i, 90, 120));
    for (int shape = 0; shape < 14; ++shape) {
      const cv::Point centre(rng.uniform(0, options.size.width), rng.uniform(0, options.size.height));
      const cv::Scalar colour(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
      if (shape % 2 == 0) {
        cv::circle(frame, centre, rng.uniform(3, 20), colour, cv::FILLED);
      } else {
        cv::rectangle(frame, cv::Rect(centre, cv::Size(rng.uniform(4, 40), rng.uniform(2, 12))), colour, cv::FILLED);
      }
    }
    cv::Mat noise(options.size, CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 12);
    frame += noise;
    if (options.movie) {
      movie.write(frame);
      continue;
    }
    const std::string name = s.dir.File("texture" + std::to_string(i) + ".png");
    cv::imwrite(name, frame);
    list += name + "\n";
  }
  movie.release();
  std::string timeline = options.movie ? moviePath : s.dir.Write("frames.txt", list);
  if (options.movie && !options.encoder.empty()) {
    timeline = s.dir.File("texture-reencoded.avi");
    Reencode(moviePath, timeline, 4, options.encoder);
  }
  s.meta = s.dir.Write("run.meta", MetaText(timeline, s.dir.File("labels.txt"), s.LabelDir(), 10,
                                            options.maxWindowDim));
}

}  // namespace

RandomSessionRecord RunRandomSession(const RandomSessionOptions& options) {
  const cv::Size size = options.size;
  PaintingSession s(3, size, options.maxWindowDim, options.prepareNeighbours);
  TextureFrames(s, options);
  RandomSessionRecord record;
  auto look = [&s, &record] {
    record.pictures.push_back({Checksum(s.windows.lastShown[kFrameWin]), Checksum(s.windows.lastShown[kPresegWin]),
                               Checksum(s.windows.lastShown[kLabelWin])});
  };
  s.windows.Do([&s, &options] { s.app.composer().SetPartialRedraws(options.partialRedraws); });
  std::mt19937 generator(5);
  auto pick = [&generator](int n) { return std::uniform_int_distribution<int>(0, n - 1)(generator); };
  const double toRescaled = static_cast<double>(options.maxWindowDim) / std::max(size.width, size.height);
  auto place = [&](const char* window, int& x, int& y) {
    x = pick(size.width + 8) - 4;
    y = pick(size.height + 8) - 4;
    if (window == kPresegWin) x = static_cast<int>(x * toRescaled), y = static_cast<int>(y * toRescaled);
  };
  const char* windows[] = {kFrameWin, kPresegWin, kLabelWin};
  const int keys[] = {' ', 8, 'c', 26, 25, 4, '1', '2', 'g', 'o', 's', 'S', 'n', 'p', 'P', '+', '-', 'a', 13, 'u'};
  for (int event = 0; event < options.events; ++event) {
    const char* window = windows[pick(3)];
    int x = 0;
    int y = 0;
    place(window, x, y);
    const int kind = pick(100);
    if (kind < 40) {
      s.windows.Mouse(window, ui::kMouseMove, x, y, pick(3) == 0 ? 0 : ui::kFlagLeft);
    } else if (kind < 48) {
      s.windows.Mouse(window, ui::kLeftPress, x, y, ui::kFlagLeft);
    } else if (kind < 56) {
      s.windows.Mouse(window, ui::kLeftRelease, x, y, 0);
    } else if (kind < 62) {
      s.windows.Mouse(window, pick(2) ? ui::kWheelForward : ui::kWheelBack, x, y);
    } else if (kind < 66) {
      s.windows.Mouse(window, ui::kMouseMove, x, y, ui::kFlagCtrl);
    } else if (kind < 69) {
      s.windows.Mouse(kLabelWin, ui::kRightPress, pick(size.width), pick(size.height), ui::kFlagRight);
    } else if (kind < 75) {
      s.windows.MoveTrackbar("N,P,Q,O,U,F", pick(6));
    } else if (kind < 77) {
      s.windows.MoveTrackbar("PyrSeg1", pick(80));
    } else if (kind < 90) {
      s.windows.Mouse(window, ui::kMouseMove, x, y, ui::kFlagLeft);
    } else {
      if (pick(100) < options.waitBeforeKeyPercent) s.windows.Do([&s] { s.app.WaitForNeighbours(); });
      s.windows.Key(keys[pick(std::size(keys))]);
    }
    s.windows.Do(look);
  }
  s.windows.Key('c');  // nothing left unsaved: Escape quits at once
  Random::Shared().Seed(1);
  ::testing::internal::CaptureStderr();
  s.Run();
  record.errors = ::testing::internal::GetCapturedStderr();
  record.printed = s.printed;
  // The project's folder named as DIR, so that two runs in different folders print alike.
  const std::string folder = s.dir.path().string();
  for (std::string* text : {&record.printed, &record.errors}) {
    for (size_t at = text->find(folder); at != std::string::npos; at = text->find(folder, at)) {
      text->replace(at, folder.size(), "DIR");
    }
  }
  for (int frame = 0; frame < options.frames; ++frame) record.saved.push_back(s.Stored(frame));
  return record;
}

}  // namespace labeler::testing
