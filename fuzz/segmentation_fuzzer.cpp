// Every presegmentation setting on small arbitrary frames (1 x 1 up to 64 x 48): the pictures have the frame's
// size, and settings 2 to 5 mark the frame border as a boundary.
#include <cstring>

#include "preseg/preseg_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int width = 1 + data[0] % 64;
  const int height = 1 + data[1] % 48;
  const int setting = 1 + data[2] % 5;
  data += 3;
  size -= 3;
  cv::Mat frame(height, width, CV_8UC3);
  for (size_t i = 0; i < frame.total() * 3; ++i) frame.data[i] = size > 0 ? data[i % size] : 0;
  labeler::PresegEngine engine;
  engine.CreatePresegImages(frame.size());
  engine.currentPreseg().algorithm = setting;
  engine.UpdatePresegmentation(frame, 0, 1);
  if (engine.presegColour().size() != frame.size() || engine.presegEdges().size() != frame.size()) __builtin_trap();
  if (setting >= 2 && engine.presegEdges().at<uchar>(0, 0) != 255) __builtin_trap();
  return 0;
}
