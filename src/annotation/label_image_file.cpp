#include "annotation/label_image_file.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string_view>

#include "annotation/declared_size.h"
#include "common/files.h"

namespace labeler {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n"sv;

bool StartsWith(std::string_view head, std::string_view prefix) { return head.substr(0, prefix.size()) == prefix; }

// BMP; TIFF in either byte order; JPEG; PBM, PGM and PPM, plain or raw ("P1" to "P6" and a blank).
bool IsOtherLabelFormat(std::string_view head) {
  if (StartsWith(head, "BM"sv) || StartsWith(head, "II*\0"sv) || StartsWith(head, "MM\0*"sv) ||
      StartsWith(head, "\xff\xd8\xff"sv)) {
    return true;
  }
  return head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
         std::isspace(static_cast<unsigned char>(head[2]));
}

}  // namespace

bool ChunksFitTheFile(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file);
  long position = static_cast<long>(kPngSignature.size());
  if (std::fseek(file, position, SEEK_SET) != 0) return false;
  while (position < size) {
    unsigned char chunk[8];  // length (big-endian) and type
    if (std::fread(chunk, 1, 8, file) != 8) return false;
    const unsigned long length = (static_cast<unsigned long>(chunk[0]) << 24) | (chunk[1] << 16) | (chunk[2] << 8) |
                                 chunk[3];
    const long next = position + 8 + static_cast<long>(length) + 4;  // data and CRC
    if (length > 0x7fffffffUL || next > size) return false;
    if (std::memcmp(chunk + 4, "IEND", 4) == 0) return true;
    position = next;
    if (std::fseek(file, position, SEEK_SET) != 0) return false;
  }
  return true;
}

namespace {

// Beyond 8192 x 8192 a label image's header is not believed, unless it declares the very size of the frames: the
// decoder would allocate gigabytes on its say-so, while frames that large have label images that large.
constexpr int64_t kLargestDeclaredPixels = int64_t{8192} * 8192;

bool DeclaresAPlausibleSize(std::FILE* file, cv::Size frameSize) {
  const std::optional<cv::Size> size = DeclaredSize(file);
  return size && (*size == frameSize || static_cast<int64_t>(size->width) * size->height <= kLargestDeclaredPixels);
}

// Whether the file may be handed to the image loader: it starts as a label format does, a PNG file's chunks fit
// in it, and the size it declares is one a label image may have.
bool MayBeDecoded(const std::string& path, cv::Size frameSize) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char bytes[8];
  const std::string_view head(bytes, std::fread(bytes, 1, sizeof bytes, file));
  const bool decodable = (head == kPngSignature ? ChunksFitTheFile(file) : IsOtherLabelFormat(head)) &&
                         DeclaresAPlausibleSize(file, frameSize);
  std::fclose(file);
  return decodable;
}

// The high byte of every sample: exact for 16-bit files written as value x 257 and as value << 8 alike.
cv::Mat HighBytes(const cv::Mat& wide) {
  cv::Mat narrow(wide.size(), CV_MAKETYPE(CV_8U, wide.channels()));
  const int samples = wide.cols * wide.channels();
  for (int y = 0; y < wide.rows; ++y) {
    const uint16_t* in = wide.ptr<uint16_t>(y);
    uchar* out = narrow.ptr<uchar>(y);
    for (int i = 0; i < samples; ++i) out[i] = static_cast<uchar>(in[i] >> 8);
  }
  return narrow;
}

// 8-bit, 3 channels, or empty when the decoded picture has no such reading.
cv::Mat AsLabelColours(cv::Mat loaded) {
  if (loaded.depth() == CV_16U) loaded = HighBytes(loaded);
  if (loaded.depth() != CV_8U) return {};
  cv::Mat colour;
  switch (loaded.channels()) {
    case 1: cv::cvtColor(loaded, colour, cv::COLOR_GRAY2BGR); break;
    case 2: cv::extractChannel(loaded, colour, 0); cv::cvtColor(colour, colour, cv::COLOR_GRAY2BGR); break;
    case 3: colour = loaded; break;
    case 4: cv::cvtColor(loaded, colour, cv::COLOR_BGRA2BGR); break;
    default: return {};
  }
  return colour;
}

}  // namespace

cv::Mat ReadStoredLabelImage(const std::string& path, cv::Size frameSize) {
  if (!NotARegularFile(path).empty() || !MayBeDecoded(path, frameSize)) return {};
  cv::Mat loaded;
  try {
    loaded = cv::imread(path, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    return {};
  }
  return loaded.empty() ? cv::Mat() : AsLabelColours(loaded);
}

}  // namespace labeler
