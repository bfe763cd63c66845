// The meta-file reader on arbitrary files.
#include "common/fatal_error.h"
#include "config/meta_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = labeler::fuzz::InputFile(data, size, ".meta");
  labeler::MetaConfig config;
  try {
    labeler::ReadMetaFile(config, path);
    labeler::RequireMetaKeys(config, path);
  } catch (const labeler::FatalError&) {
  }
  for (const auto* text : {&config.FILE_IN, &config.FILE_TIMELINE, &config.FILE_LABEL_NAMES, &config.DIR_LABEL_IMGS}) {
    if (*text && (*text)->size() > labeler::kMaxMetaValueLength) __builtin_trap();
  }
  return 0;
}
