// The still-list reader on arbitrary files.
#include "common/fatal_error.h"
#include "fuzz/fuzz_support.h"
#include "timeline/timeline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = labeler::fuzz::InputFile(data, size, ".txt");
  for (const std::string& name : labeler::ReadStillList(path)) {
    if (name.size() < 2 || name.size() > 499 || name.find('\n') != std::string::npos) __builtin_trap();
  }
  return 0;
}
