#include "annotation/declared_size.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace labeler {
namespace {

// Reads `count` bytes at `offset`; empty when the file holds fewer.
std::vector<unsigned char> BytesAt(std::FILE* file, long offset, size_t count) {
  std::vector<unsigned char> bytes(count);
  if (std::fseek(file, offset, SEEK_SET) != 0 || std::fread(bytes.data(), 1, count, file) != count) return {};
  return bytes;
}

uint32_t Number(const unsigned char* p, int size, bool bigEndian) {
  uint32_t value = 0;
  for (int i = 0; i < size; ++i) {
    value |= static_cast<uint32_t>(p[bigEndian ? i : size - 1 - i]) << (8 * (size - 1 - i));
  }
  return value;
}

std::optional<cv::Size> SizeOf(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
  return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

std::optional<cv::Size> PngSize(std::FILE* file) {
  const std::vector<unsigned char> ihdr = BytesAt(file, 16, 8);
  if (ihdr.empty()) return std::nullopt;
  return SizeOf(Number(&ihdr[0], 4, true), Number(&ihdr[4], 4, true));
}

std::optional<cv::Size> BmpSize(std::FILE* file) {
  const std::vector<unsigned char> header = BytesAt(file, 14, 12);
  if (header.empty()) return std::nullopt;
  if (Number(&header[0], 4, false) == 12) {  // the old core header: 16-bit sizes
    return SizeOf(Number(&header[4], 2, false), Number(&header[6], 2, false));
  }
  const int32_t height = static_cast<int32_t>(Number(&header[8], 4, false));  // negative: stored top down
  return SizeOf(static_cast<int32_t>(Number(&header[4], 4, false)), std::llabs(static_cast<int64_t>(height)));
}

// The ImageWidth and ImageLength tags of the first picture's directory.
std::optional<cv::Size> TiffSize(std::FILE* file, bool bigEndian) {
  const std::vector<unsigned char> head = BytesAt(file, 4, 4);
  if (head.empty()) return std::nullopt;
  const long directory = static_cast<long>(Number(head.data(), 4, bigEndian));
  const std::vector<unsigned char> countBytes = BytesAt(file, directory, 2);
  if (countBytes.empty()) return std::nullopt;
  const uint32_t entries = Number(countBytes.data(), 2, bigEndian);
  const std::vector<unsigned char> table = BytesAt(file, directory + 2, 12 * static_cast<size_t>(entries));
  if (table.empty()) return std::nullopt;
  int64_t width = 0, height = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    const unsigned char* entry = &table[12 * i];
    const uint32_t tag = Number(entry, 2, bigEndian);
    const uint32_t type = Number(entry + 2, 2, bigEndian);
    const uint32_t value = type == 3 ? Number(entry + 8, 2, bigEndian) : Number(entry + 8, 4, bigEndian);
    if (tag == 256) width = value;
    if (tag == 257) height = value;
  }
  return SizeOf(width, height);
}

// The frame header (SOF0 to SOF15, but not the DHT, JPG and DAC markers that share the range) after the segments
// before it.
std::optional<cv::Size> JpegSize(std::FILE* file) {
  long position = 2;
  for (;;) {
    const std::vector<unsigned char> marker = BytesAt(file, position, 4);
    if (marker.empty() || marker[0] != 0xff) return std::nullopt;
    const int type = marker[1];
    if (type >= 0xc0 && type <= 0xcf && type != 0xc4 && type != 0xc8 && type != 0xcc) {
      const std::vector<unsigned char> frame = BytesAt(file, position + 5, 4);
      if (frame.empty()) return std::nullopt;
      return SizeOf(Number(&frame[2], 2, true), Number(&frame[0], 2, true));
    }
    position += 2 + static_cast<long>(Number(&marker[2], 2, true));
  }
}

// "P1" to "P6", then width and height as decimal numbers between blanks and comments.
std::optional<cv::Size> PnmSize(std::FILE* file) {
  if (std::fseek(file, 2, SEEK_SET) != 0) return std::nullopt;
  int64_t numbers[2] = {0, 0};
  for (int64_t& number : numbers) {
    int c = std::fgetc(file);
    while (c == '#' || std::isspace(c)) {
      if (c == '#') {
        while (c != '\n' && c != EOF) c = std::fgetc(file);
      }
      c = std::fgetc(file);
    }
    if (!std::isdigit(c)) return std::nullopt;
    for (; std::isdigit(c) && number <= INT32_MAX; c = std::fgetc(file)) number = number * 10 + (c - '0');
  }
  return SizeOf(numbers[0], numbers[1]);
}

}  // namespace

std::optional<cv::Size> DeclaredSize(std::FILE* file) {
  const std::vector<unsigned char> head = BytesAt(file, 0, 4);
  if (head.empty()) return std::nullopt;
  if (head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return PngSize(file);
  if (head[0] == 'B' && head[1] == 'M') return BmpSize(file);
  if (head[0] == 'I' && head[1] == 'I') return TiffSize(file, false);
  if (head[0] == 'M' && head[1] == 'M') return TiffSize(file, true);
  if (head[0] == 0xff && head[1] == 0xd8) return JpegSize(file);
  if (head[0] == 'P') return PnmSize(file);
  return std::nullopt;
}

}  // namespace labeler
