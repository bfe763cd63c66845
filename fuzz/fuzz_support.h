// Shared by the fuzz targets: the input as a file. (The targets' console lines are closed by the fuzzer's
// -close_fd_mask option, see scripts/run-fuzzers.)
#ifndef LABELER_FUZZ_FUZZ_SUPPORT_H_
#define LABELER_FUZZ_FUZZ_SUPPORT_H_

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace labeler::fuzz {

// Writes the input into one scratch file per process and returns its path (with `suffix`).
inline std::string InputFile(const uint8_t* data, size_t size, const std::string& suffix) {
  static const std::string path = "/tmp/labeler-fuzz-" + std::to_string(getpid()) + suffix;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return path;
}

}  // namespace labeler::fuzz

#endif  // LABELER_FUZZ_FUZZ_SUPPORT_H_
