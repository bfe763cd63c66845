// A long scripted random session of the labeller through the test double: mouse moves, strokes, wheel, the
// presegmentation trackbars and keys, over textured frames. Two runs of the same session with different
// machinery (partial redraws, the worker thread) must show and save exactly the same.
#ifndef LABELER_TESTS_SUPPORT_RANDOM_SESSION_H_
#define LABELER_TESTS_SUPPORT_RANDOM_SESSION_H_

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace labeler::testing {

// Events of a session: fewer under ThreadSanitizer, which runs them some fifteen times slower; what it looks for
// (the worker and the foreground touching the same data) shows within the first few hundred.
#if defined(__SANITIZE_THREAD__)
inline constexpr int kRandomSessionEvents = 300;
#else
inline constexpr int kRandomSessionEvents = 1500;
#endif

struct RandomSessionOptions {
  cv::Size size{120, 90};
  int maxWindowDim = 75;
  int frames = 3;
  int events = kRandomSessionEvents;
  bool partialRedraws = true;
  bool prepareNeighbours = false;
  bool movie = false;  // the frames as a Motion-JPEG movie instead of a still list
  std::string encoder;  // with `movie`: ffmpeg's encoder and options to write it with instead, key frames 4 apart
  // Before this share of the keys (0 to 100), the script waits until the worker has prepared everything, so
  // that the key finds its results ready; the other keys arrive while it is half-way.
  int waitBeforeKeyPercent = 0;
};

using WindowPictures = std::array<uint64_t, 3>;  // checksums of the three windows' pictures

struct RandomSessionRecord {
  std::vector<WindowPictures> pictures;  // after every event
  std::string printed;                   // standard output, the project's folder named DIR
  std::string errors;                    // standard error, likewise
  std::vector<cv::Mat> saved;            // each frame's label image at the end, empty where none was saved
};

RandomSessionRecord RunRandomSession(const RandomSessionOptions& options);

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_RANDOM_SESSION_H_
