// A label image's header is read for its size before any decoder believes it.
#include "annotation/declared_size.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "annotation/label_image_file.h"
#include "support/temp_dir.h"

namespace labeler {
namespace {

std::optional<cv::Size> SizeOfFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  const std::optional<cv::Size> size = DeclaredSize(file);
  std::fclose(file);
  return size;
}

TEST(DeclaredSize, IsReadFromEveryLabelFormatAndAGiantIsDecodedOnlyForFramesThatLarge) {
  testing::TempDir dir;
  const cv::Mat picture(37, 53, CV_8UC3, cv::Scalar(1, 2, 3));
  for (const std::string name : {"a.png", "a.bmp", "a.tiff", "a.jpg", "a.ppm", "a.pgm"}) {
    ASSERT_TRUE(cv::imwrite(dir.File(name), name == "a.pgm" ? cv::Mat(37, 53, CV_8U, cv::Scalar(7)) : picture));
    EXPECT_EQ(SizeOfFile(dir.File(name)), cv::Size(53, 37)) << name;
  }
  // A TIFF directory of two entries, width and height 30000 each, and no pixels: 900 million pixels declared.
  const unsigned char giant[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0,                     //
                                 0, 1, 4, 0, 1, 0, 0, 0, 0x30, 0x75, 0, 0,               //
                                 1, 1, 4, 0, 1, 0, 0, 0, 0x30, 0x75, 0, 0, 0, 0, 0, 0};
  const std::string path = dir.Write("giant.tiff", std::string(reinterpret_cast<const char*>(giant), sizeof giant));
  EXPECT_EQ(SizeOfFile(path), cv::Size(30000, 30000));
  EXPECT_TRUE(ReadStoredLabelImage(path).empty());
  EXPECT_TRUE(ReadStoredLabelImage(path, {1920, 1080}).empty());

  // Frames beyond that size have label images beyond it, which the labeller itself writes: one declaring the
  // frames' size is read.
  const cv::Size large(16400, 4100);
  const std::string written = dir.File("large.png");
  ASSERT_TRUE(cv::imwrite(written, cv::Mat(large, CV_8UC1, cv::Scalar(9))));
  EXPECT_TRUE(ReadStoredLabelImage(written).empty());
  const cv::Mat read = ReadStoredLabelImage(written, large);
  ASSERT_EQ(read.size(), large);
  EXPECT_EQ(read.at<cv::Vec3b>(4099, 16399), cv::Vec3b(9, 9, 9));
}

}  // namespace
}  // namespace labeler
