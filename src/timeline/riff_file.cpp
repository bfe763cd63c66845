#include "timeline/riff_file.h"

#include <cstdio>
#include <cstring>

namespace labeler {

bool RiffChunksFit(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return true;
  bool fits = std::fseek(file, 0, SEEK_END) == 0;
  const long long size = std::ftell(file);
  long long at = 0;
  unsigned char header[12];  // "RIFF", the chunk's little-endian length, its form type
  while (fits && at + 12 <= size && std::fseek(file, at, SEEK_SET) == 0 && std::fread(header, 1, 12, file) == 12 &&
         std::memcmp(header, "RIFF", 4) == 0) {
    long long length = 0;
    for (int i = 7; i >= 4; --i) length = (length << 8) | header[i];
    const long long end = at + 8 + length;
    // A chunk of odd length is followed by a pad byte, which the very last chunk of a file may lack.
    fits = length > 4 && (end + (length & 1) <= size || (end == size && (length & 1) != 0));
    at = end + (length & 1);
  }
  std::fclose(file);
  return fits;
}

}  // namespace labeler
