#include "annotation/declared_size.h"

#include <sys/stat.h>

#include <cctype>
#include <csetjmp>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which uses FILE without including it
#include <cstdlib>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace labeler {
namespace {

// Reads `count` bytes at `offset` into `bytes`; false when the file holds fewer.
bool ReadAt(std::FILE* file, long offset, unsigned char* bytes, size_t count) {
  return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(bytes, 1, count, file) == count;
}

uint32_t LittleEndian(const unsigned char* p, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

std::optional<cv::Size> SizeOf(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
  return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

// As OpenCV's reader: a header of 12 bytes is the old core header with 16-bit sizes, one of 36 bytes or more has
// 32-bit sizes, and the decoder refuses every other header size.
std::optional<cv::Size> BmpSize(std::FILE* file) {
  unsigned char header[12];
  if (!ReadAt(file, 14, header, sizeof header)) return std::nullopt;
  const int32_t headerSize = static_cast<int32_t>(LittleEndian(header, 4));
  if (headerSize == 12) return SizeOf(LittleEndian(header + 4, 2), LittleEndian(header + 6, 2));
  if (headerSize < 36) return std::nullopt;
  const int32_t height = static_cast<int32_t>(LittleEndian(header + 8, 4));  // negative: stored top down
  return SizeOf(static_cast<int32_t>(LittleEndian(header + 4, 4)), std::llabs(static_cast<int64_t>(height)));
}

// One number of a PBM/PGM/PPM header as OpenCV's reader takes it: after blanks and comments, where a comment
// ends at a carriage return as at a line feed, and the byte after the digits is used up with them.
std::optional<int64_t> PnmNumber(std::FILE* file) {
  int c = std::fgetc(file);
  while (!std::isdigit(c)) {
    if (c == '#') {
      do {
        c = std::fgetc(file);
      } while (c != '\n' && c != '\r' && c != EOF);
      c = std::fgetc(file);
    } else if (std::isspace(c)) {
      c = std::fgetc(file);
    } else {
      return std::nullopt;
    }
  }
  int64_t number = 0;
  for (; std::isdigit(c); c = std::fgetc(file)) {
    number = number * 10 + (c - '0');
    if (number > INT32_MAX) return std::nullopt;
  }
  return number;
}

// "P1" to "P6", then width and height.
std::optional<cv::Size> PnmSize(std::FILE* file) {
  if (std::fseek(file, 2, SEEK_SET) != 0) return std::nullopt;
  const std::optional<int64_t> width = PnmNumber(file);
  const std::optional<int64_t> height = width ? PnmNumber(file) : std::nullopt;
  return height ? SizeOf(*width, *height) : std::nullopt;
}

[[noreturn]] void PngJumpBack(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void PngIgnore(png_structp, png_const_charp) {}

// libpng's errors long-jump here, so no C++ object lives in this function.
bool ReadPngInfo(png_structp png, png_infop info, std::FILE* file) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_init_io(png, file);
  png_read_info(png, info);
  return true;
}

// libpng reads the chunks up to the first pixels, as the decoder does before it allocates the picture.
std::optional<cv::Size> PngSize(std::FILE* file) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngJumpBack, PngIgnore);
  if (png == nullptr) return std::nullopt;
  png_infop info = png_create_info_struct(png);
  const bool read = info != nullptr && ReadPngInfo(png, info, file);
  const std::optional<cv::Size> size =
      read ? SizeOf(png_get_image_width(png, info), png_get_image_height(png, info)) : std::nullopt;
  png_destroy_read_struct(&png, &info, nullptr);
  return size;
}

struct JpegErrors {
  jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it, which is then one to the whole
  std::jmp_buf failed;
};

[[noreturn]] void JpegJumpBack(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->failed, 1);
}

void JpegIgnore(j_common_ptr) {}

// libjpeg's errors long-jump here, so no C++ object lives in this function.
bool ReadJpegHeader(jpeg_decompress_struct& info, JpegErrors& errors, std::FILE* file) {
  if (setjmp(errors.failed) != 0) return false;
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
}

// libjpeg reads the markers up to the first scan, skipping fill bytes as the decoder does, and decompresses nothing.
std::optional<cv::Size> JpegSize(std::FILE* file) {
  jpeg_decompress_struct info{};
  JpegErrors errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegJumpBack;
  errors.manager.output_message = JpegIgnore;
  const bool read = ReadJpegHeader(info, errors, file);
  const std::optional<cv::Size> size = read ? SizeOf(info.image_width, info.image_height) : std::nullopt;
  jpeg_destroy_decompress(&info);
  return size;
}

tmsize_t ReadTiffBytes(thandle_t file, void* bytes, tmsize_t count) {
  return static_cast<tmsize_t>(std::fread(bytes, 1, static_cast<size_t>(count), static_cast<std::FILE*>(file)));
}

tmsize_t WriteNoTiffBytes(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekTiff(thandle_t handle, toff_t offset, int whence) {
  std::FILE* file = static_cast<std::FILE*>(handle);
  if (offset > static_cast<toff_t>(INT64_MAX) || fseeko(file, static_cast<off_t>(offset), whence) != 0) {
    return static_cast<toff_t>(-1);
  }
  return static_cast<toff_t>(ftello(file));
}

int LeaveTiffOpen(thandle_t) { return 0; }

toff_t TiffFileSize(thandle_t file) {
  struct stat status;
  return fstat(fileno(static_cast<std::FILE*>(file)), &status) == 0 ? static_cast<toff_t>(status.st_size) : 0;
}

int TiffIgnore(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Room for the first directory's tag arrays of any label image worth reading; libtiff refuses to allocate more.
constexpr tmsize_t kLargestTiffAllocation = tmsize_t{16} << 20;

// libtiff reads the first directory as the decoder does, which keeps the first of two ImageWidth tags; its
// messages go to handlers of this file alone, leaving libtiff's process-wide ones as they are.
std::optional<cv::Size> TiffSize(std::FILE* file) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return std::nullopt;
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffIgnore, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffIgnore, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kLargestTiffAllocation);
  TIFF* tiff = TIFFClientOpenExt("label image", "rm", file, ReadTiffBytes, WriteNoTiffBytes, SeekTiff,
                                 LeaveTiffOpen, TiffFileSize, nullptr, nullptr, options);
  TIFFOpenOptionsFree(options);
  if (tiff == nullptr) return std::nullopt;
  uint32_t width = 0, height = 0;
  const bool read = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) == 1 &&
                    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) == 1;
  TIFFClose(tiff);
  return read ? SizeOf(width, height) : std::nullopt;
}

}  // namespace

std::optional<cv::Size> DeclaredSize(std::FILE* file) {
  unsigned char head[4];
  if (!ReadAt(file, 0, head, sizeof head) || std::fseek(file, 0, SEEK_SET) != 0) return std::nullopt;
  if (head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return PngSize(file);
  if (head[0] == 'B' && head[1] == 'M') return BmpSize(file);
  if ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M')) return TiffSize(file);
  if (head[0] == 0xff && head[1] == 0xd8) return JpegSize(file);
  if (head[0] == 'P') return PnmSize(file);
  return std::nullopt;
}

}  // namespace labeler
