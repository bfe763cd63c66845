#include "tools/mask_png.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>

namespace labeler::tool {

bool WriteMaskPng(const std::string& path, const cv::Mat& mask) {
  CV_Assert(mask.type() == CV_8UC1);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  volatile bool written = false;  // volatile: libpng reports errors by longjmp back to the setjmp below
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(mask.cols), static_cast<png_uint_32>(mask.rows), 8,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < mask.rows; ++y) png_write_row(png, const_cast<png_bytep>(mask.ptr<uchar>(y)));
    png_write_end(png, info);
    written = true;
  }
  png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  const bool closed = std::fclose(file) == 0;
  if (!closed || !written) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace labeler::tool
