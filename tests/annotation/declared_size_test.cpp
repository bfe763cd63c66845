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

TEST(DeclaredSize, IsReadFromEveryLabelFormatAndAGiantIsNotDecoded) {
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
}

}  // namespace
}  // namespace labeler
