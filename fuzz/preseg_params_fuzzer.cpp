// Parameter lines: arbitrary text parses to a setting 0..5 or is refused; what parses formats and parses back
// to the same setting.
#include "common/fatal_error.h"
#include "preseg/preseg_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  labeler::PresegParams params;
  try {
    labeler::ParsePresegParams(params, line);
  } catch (const labeler::FatalError&) {
    return 0;
  }
  if (params.algorithm < 0 || params.algorithm > 5 || params.slotTag != -1) __builtin_trap();
  labeler::PresegParams again;
  labeler::ParsePresegParams(again, labeler::FormatPresegParams(params));
  if (again.algorithm != params.algorithm) __builtin_trap();
  if (params.algorithm == 1 && (again.pyrSeg1 != params.pyrSeg1 || again.pyrSeg2 != params.pyrSeg2)) __builtin_trap();
  return 0;
}
