#include "support/test_media.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <stdexcept>

namespace labeler::testing {
namespace {
constexpr int kBits = 10;
}

cv::Mat IndexedFrame(int index, cv::Size size) {
  cv::Mat frame(size, CV_8UC3);
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      frame.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x * 255 / size.width),
                                            static_cast<uchar>(y * 255 / size.height), 128);
    }
  }
  int barWidth = size.width / kBits;
  for (int bit = 0; bit < kBits; ++bit) {
    cv::Scalar colour = (index >> bit) & 1 ? cv::Scalar::all(255) : cv::Scalar::all(0);
    cv::rectangle(frame, cv::Rect(bit * barWidth, size.height / 4, barWidth, size.height / 2), colour, cv::FILLED);
  }
  return frame;
}

int ReadFrameIndex(const cv::Mat& frame) {
  int barWidth = frame.cols / kBits;
  int index = 0;
  for (int bit = 0; bit < kBits; ++bit) {
    cv::Rect middle(bit * barWidth + barWidth / 4, frame.rows * 3 / 8, barWidth / 2, frame.rows / 4);
    if (cv::mean(frame(middle))[0] > 128) index |= 1 << bit;
  }
  return index;
}

void WriteIndexedMovie(const std::string& path, int frames, cv::Size size) {
  cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, size);
  if (!writer.isOpened()) throw std::runtime_error("cannot write " + path);
  for (int i = 0; i < frames; ++i) writer.write(IndexedFrame(i, size));
}

void WriteSparseKeyFrameMovie(const std::string& path, int frames, cv::Size size, int keyFrameSpacing,
                              const std::string& encoder) {
  std::string source = path + ".source.avi";
  WriteIndexedMovie(source, frames, size);
  Reencode(source, path, keyFrameSpacing, encoder);
  std::remove(source.c_str());
}

void Reencode(const std::string& source, const std::string& path, int keyFrameSpacing, const std::string& encoder) {
  std::string command = "ffmpeg -loglevel error -y -i '" + source + "' -c:v " + encoder + " -q:v 2 -g " +
                        std::to_string(keyFrameSpacing) + " '" + path + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("ffmpeg failed: " + command);
}

std::string MetaText(const std::string& timeline, const std::string& labelNames, const std::string& labelDir,
                     int jumpBy, int maxWindowDim) {
  return "FILE_TIMELINE " + timeline + "\nFILE_LABEL_NAMES " + labelNames + "\nDIR_LABEL_IMGS " + labelDir +
         "\nFILE_TIMELINE_JUMPBY " + std::to_string(jumpBy) + "\nMAX_WINDOW_DIM " + std::to_string(maxWindowDim) +
         "\n";
}

std::string WriteFirstHalfOf(const std::string& whole, const std::string& path) {
  std::string bytes(std::filesystem::file_size(whole), '\0');
  std::ifstream(whole, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
  return path;
}

std::string DamagedLabelFileMarkedAsMedical() {
  std::string bytes(134, '\0');
  bytes[0] = 'N';
  bytes.replace(1, 8, "\x89PNG\r\n\x1a\n");
  bytes.replace(128, 4, "DICM");
  return bytes;
}

}  // namespace labeler::testing
