#include "annotation/painted_record.h"

#include <png.h>
#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "annotation/label_image_file.h"
#include "common/files.h"

namespace labeler {
namespace {

constexpr const char* kDigestKey = "labels-digest";

void AppendToBuffer(png_structp png, png_bytep data, png_size_t length) {
  auto* buffer = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  buffer->insert(buffer->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// libpng reports its errors by longjmp to the reader's or writer's setjmp; a damaged record says nothing.
void Silent(png_structp, png_const_charp) {}

std::string DigestText(uint64_t digest) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, digest);
  return text;
}

// The digest the record at `path` carries, and its painted pixels, when it is a record of `size`.
bool ReadRecord(const std::string& path, cv::Size size, std::string& digest, cv::Mat& painted) {
  if (!NotARegularFile(path).empty()) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (file == nullptr || !ChunksFitTheFile(file.get()) || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Silent, Silent);
  png_infop info = reader != nullptr ? png_create_info_struct(reader) : nullptr;
  volatile bool read = false;  // volatile: libpng reports errors by longjmp back to the setjmp below
  cv::Mat rows;
  if (info != nullptr && setjmp(png_jmpbuf(reader)) == 0) {
    png_init_io(reader, file.get());
    png_set_chunk_malloc_max(reader, 1 << 20);  // a record's one text chunk is short: no compressed text bombs
    png_read_info(reader, info);
    png_textp texts = nullptr;
    int textCount = 0;
    png_get_text(reader, info, &texts, &textCount);
    for (int i = 0; i < textCount; ++i) {
      if (std::strcmp(texts[i].key, kDigestKey) == 0) digest.assign(texts[i].text, texts[i].text_length);
    }
    if (png_get_image_width(reader, info) == static_cast<png_uint_32>(size.width) &&
        png_get_image_height(reader, info) == static_cast<png_uint_32>(size.height) &&
        png_get_color_type(reader, info) == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(reader, info) == 1 &&
        png_get_interlace_type(reader, info) == PNG_INTERLACE_NONE) {
      rows.create(size.height, (size.width + 7) / 8, CV_8UC1);
      for (int y = 0; y < size.height; ++y) png_read_row(reader, rows.ptr<uchar>(y), nullptr);
      read = true;
    }
  }
  png_destroy_read_struct(&reader, info != nullptr ? &info : nullptr, nullptr);
  if (!read) return false;
  painted.create(size, CV_8UC1);
  for (int y = 0; y < size.height; ++y) {
    const uchar* bits = rows.ptr<uchar>(y);
    uchar* out = painted.ptr<uchar>(y);
    for (int x = 0; x < size.width; ++x) out[x] = (bits[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
  }
  return true;
}

cv::Mat MatchingRecord(const std::string& labelDir, int frame, const cv::Mat& labels) {
  std::string digest;
  cv::Mat painted;
  if (!ReadRecord(PaintedRecordPath(labelDir, frame), labels.size(), digest, painted)) return {};
  return digest == DigestText(LabelImageDigest(labels)) ? painted : cv::Mat();
}

}  // namespace

std::string PaintedRecordPath(const std::string& labelDir, int frame) {
  char name[40];
  std::snprintf(name, sizeof name, "/.painted/frame-%.6d.png", frame);
  return labelDir + name;
}

// FNV-1a over the rows, eight bytes at a time.
uint64_t LabelImageDigest(const cv::Mat& labels) {
  uint64_t digest = 14695981039346656037ull;
  auto mix = [&digest](uint64_t word) { digest = (digest ^ word) * 1099511628211ull; };
  mix(static_cast<uint64_t>(labels.cols) << 32 | static_cast<uint32_t>(labels.rows));
  const size_t rowBytes = static_cast<size_t>(labels.cols) * labels.elemSize();
  for (int y = 0; y < labels.rows; ++y) {
    const uchar* row = labels.ptr<uchar>(y);
    size_t i = 0;
    for (; i + 8 <= rowBytes; i += 8) {
      uint64_t word;
      std::memcpy(&word, row + i, 8);
      mix(word);
    }
    for (; i < rowBytes; ++i) mix(row[i]);
  }
  return digest;
}

bool EncodePaintedRecord(const cv::Mat& painted, const cv::Mat& labels, std::vector<unsigned char>& png) {
  CV_Assert(painted.type() == CV_8UC1 && painted.size() == labels.size());
  png.clear();
  std::string digest = DigestText(LabelImageDigest(labels));
  std::vector<uchar> bits((painted.cols + 7) / 8);
  png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Silent, Silent);
  png_infop info = writer != nullptr ? png_create_info_struct(writer) : nullptr;
  volatile bool encoded = false;
  if (info != nullptr && setjmp(png_jmpbuf(writer)) == 0) {
    png_set_write_fn(writer, &png, AppendToBuffer, FlushNothing);
    png_set_compression_strategy(writer, Z_RLE);
    png_set_IHDR(writer, info, static_cast<png_uint_32>(painted.cols), static_cast<png_uint_32>(painted.rows), 1,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>(kDigestKey);
    text.text = digest.data();
    text.text_length = digest.size();
    png_set_text(writer, info, &text, 1);
    png_write_info(writer, info);
    for (int y = 0; y < painted.rows; ++y) {
      std::fill(bits.begin(), bits.end(), 0);
      const uchar* in = painted.ptr<uchar>(y);
      for (int x = 0; x < painted.cols; ++x) {
        if (in[x] != 0) bits[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
      }
      png_write_row(writer, bits.data());
    }
    png_write_end(writer, info);
    encoded = true;
  }
  png_destroy_write_struct(&writer, info != nullptr ? &info : nullptr);
  return encoded;
}

bool NeedsPaintedRecord(const cv::Mat& painted, const cv::Mat& labels) {
  for (int y = 0; y < labels.rows; ++y) {
    const cv::Vec3b* label = labels.ptr<cv::Vec3b>(y);
    const uchar* mark = painted.ptr<uchar>(y);
    for (int x = 0; x < labels.cols; ++x) {
      if ((mark[x] != 0) != (label[x] != cv::Vec3b(0, 0, 0))) return true;
    }
  }
  return false;
}

cv::Mat NonBlackPixels(const cv::Mat& labels) {
  cv::Mat painted(labels.size(), CV_8UC1);
  for (int y = 0; y < labels.rows; ++y) {
    const cv::Vec3b* label = labels.ptr<cv::Vec3b>(y);
    uchar* out = painted.ptr<uchar>(y);
    for (int x = 0; x < labels.cols; ++x) out[x] = label[x] != cv::Vec3b(0, 0, 0) ? 255 : 0;
  }
  return painted;
}

cv::Mat PaintedPixels(const std::string& labelDir, int frame, const cv::Mat& labels) {
  cv::Mat painted = MatchingRecord(labelDir, frame, labels);
  return painted.empty() ? NonBlackPixels(labels) : painted;
}

}  // namespace labeler
