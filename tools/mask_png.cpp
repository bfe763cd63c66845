#include "tools/mask_png.h"

#include <png.h>
#include <zlib.h>

#include <opencv2/imgcodecs.hpp>

#include "common/files.h"

namespace labeler::tool {
namespace {

void AppendToBuffer(png_structp png, png_bytep data, png_size_t length) {
  auto* buffer = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  buffer->insert(buffer->end(), data, data + length);
}

void FlushNothing(png_structp) {}

}  // namespace

bool EncodeMaskPng(const cv::Mat& mask, std::vector<unsigned char>& png, const std::vector<PaletteColour>& palette) {
  CV_Assert(mask.type() == CV_8UC1 && (palette.empty() || palette.size() == 256));
  png.clear();
  png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = writer != nullptr ? png_create_info_struct(writer) : nullptr;
  volatile bool encoded = false;  // volatile: libpng reports errors by longjmp back to the setjmp below
  if (info != nullptr && setjmp(png_jmpbuf(writer)) == 0) {
    png_set_write_fn(writer, &png, AppendToBuffer, FlushNothing);
    png_set_filter(writer, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(writer, 1);
    png_set_compression_strategy(writer, Z_RLE);
    png_set_IHDR(writer, info, static_cast<png_uint_32>(mask.cols), static_cast<png_uint_32>(mask.rows), 8,
                 palette.empty() ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colours;
    for (const PaletteColour& colour : palette) colours.push_back({colour[0], colour[1], colour[2]});
    if (!colours.empty()) png_set_PLTE(writer, info, colours.data(), static_cast<int>(colours.size()));
    png_write_info(writer, info);
    for (int y = 0; y < mask.rows; ++y) png_write_row(writer, const_cast<png_bytep>(mask.ptr<uchar>(y)));
    png_write_end(writer, info);
    encoded = true;
  }
  png_destroy_write_struct(&writer, info != nullptr ? &info : nullptr);
  return encoded;
}

std::string WritePngAtomically(const std::string& path, const cv::Mat& image) {
  std::vector<unsigned char> png;
  bool encoded = false;
  try {
    encoded = cv::imencode(".png", image, png);
  } catch (const cv::Exception&) {
  }
  if (!encoded) return "PNG encoding failed";
  const std::string reason = WriteFileAtomically(path, png);
  return reason.empty() ? "" : "cannot be written: " + reason;
}

}  // namespace labeler::tool
