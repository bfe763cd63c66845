// A label image's header is read for its size before any decoder believes it.
#include "annotation/declared_size.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "annotation/label_image_file.h"
#include "support/oversized_label_images.h"
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
  // A TIFF directory of width and height 30000 each and a strip at offset 8, and no pixels: 900 million pixels
  // declared.
  const unsigned char giant[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0,                     //
                                 0, 1, 4, 0, 1, 0, 0, 0, 0x30, 0x75, 0, 0,               //
                                 1, 1, 4, 0, 1, 0, 0, 0, 0x30, 0x75, 0, 0,               //
                                 0x11, 1, 4, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
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

// The size is the decoders' own reading of each header that a reading by hand got wrong, read without a word
// from the libraries on the console; the file is refused.
TEST(DeclaredSize, OfHeadersFoundByFuzzingIsTheDecodersReading) {
  for (const testing::OversizedLabelImage& image : testing::kOversizedLabelImages) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SizeOfFile(image.Path()), image.declared) << image.name;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << image.name;
    EXPECT_TRUE(ReadStoredLabelImage(image.Path()).empty()) << image.name;
  }
}

// Where OpenCV reads a header its own way, the declared size is the one it decodes, or none where it decodes
// nothing.
TEST(DeclaredSize, AgreesWithOpenCvOnCommentsFillBytesAndHeaderSizes) {
  testing::TempDir dir;
  const cv::Mat picture(6, 5, CV_8UC3, cv::Scalar(1, 2, 3));
  std::vector<uchar> jpeg, bmp;
  ASSERT_TRUE(cv::imencode(".jpg", picture, jpeg));
  ASSERT_TRUE(cv::imencode(".bmp", picture, bmp));
  jpeg.insert(jpeg.begin() + 2, {0xff, 0xff});  // fill bytes before the first marker
  bmp[14] = 20;  // a header size between the core header's 12 bytes and the info header's 40
  const std::string pixels(5 * 6, '\x40');
  const std::string files[] = {
      "P5\n#a\r5 6\n255\n" + pixels,      // a comment ended by a carriage return
      "P5\n#a\f7 8\n5 6\n255\n" + pixels,  // a comment that a form feed does not end
      "P5 5#a\n6 255\n" + pixels,          // a comment straight after a number
      std::string(jpeg.begin(), jpeg.end()),
      std::string(bmp.begin(), bmp.end()),
  };
  for (const std::string& bytes : files) {
    ::testing::internal::CaptureStderr();  // OpenCV's complaints about the files it refuses
    const cv::Mat decoded = cv::imdecode(std::vector<uchar>(bytes.begin(), bytes.end()), cv::IMREAD_UNCHANGED);
    ::testing::internal::GetCapturedStderr();
    const std::optional<cv::Size> expected = decoded.empty() ? std::nullopt : std::optional(decoded.size());
    EXPECT_EQ(SizeOfFile(dir.Write("label", bytes)), expected) << bytes.substr(0, 12);
  }
}

}  // namespace
}  // namespace labeler
