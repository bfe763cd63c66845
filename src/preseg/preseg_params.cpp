#include "preseg/preseg_params.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/fatal_error.h"

namespace labeler {

std::string FormatPresegParams(const PresegParams& params) {
  char line[200];
  switch (params.algorithm) {
    case kNoPreseg:
    case kMeanShiftPreseg0:
    case kMeanShiftPreseg1:
    case kMeanShiftPreseg2:
      std::snprintf(line, sizeof line, "%d ", params.algorithm);
      break;
    case kPyramidPreseg:
      std::snprintf(line, sizeof line, "%d %d %d", params.algorithm, params.pyrSeg1, params.pyrSeg2);
      break;
    case kGraphPreseg:
      std::snprintf(line, sizeof line, "%d %f %f %f", params.algorithm, params.sigma, params.k, params.minSize);
      break;
    default:
      throw FatalError("Unknown segmentation algorithm! Exiting!\n", FatalError::Stream::kStandardOutput);
  }
  return line;
}

void ParsePresegParams(PresegParams& params, const std::string& line) {
  char token[100] = "";
  std::sscanf(line.c_str(), "%99s", token);
  long algorithm = std::strtol(token, nullptr, 10);  // a token that is not a number gives 0
  if (algorithm < 0 || algorithm > kLastPresegSetting) {
    throw FatalError("Unrecognized segmentation algorithm! Exiting!\n", FatalError::Stream::kStandardOutput);
  }
  params.algorithm = static_cast<int>(algorithm);
  int ignored = 0;
  if (params.algorithm == kPyramidPreseg) {
    std::sscanf(line.c_str(), "%d %d %d", &ignored, &params.pyrSeg1, &params.pyrSeg2);
  } else if (params.algorithm == kGraphPreseg) {
    std::sscanf(line.c_str(), "%d %f %f %f", &ignored, &params.sigma, &params.k, &params.minSize);
  }
  params.slotTag = -1;
}

bool SamePresegParams(const PresegParams& slot, const PresegParams& requested) {
  if (slot.slotTag < 0 || slot.algorithm != requested.algorithm) return false;
  switch (requested.algorithm) {
    case kMeanShiftPreseg0:
    case kMeanShiftPreseg1:
    case kMeanShiftPreseg2:
      return true;
    case kPyramidPreseg:
      return slot.pyrSeg1 == requested.pyrSeg1 && slot.pyrSeg2 == requested.pyrSeg2;
    case kGraphPreseg: {
      constexpr float kTolerance = 5.9604645e-7f;
      return std::fabs(slot.sigma - requested.sigma) < kTolerance && std::fabs(slot.k - requested.k) < kTolerance &&
             std::fabs(slot.minSize - requested.minSize) < kTolerance;
    }
    default:
      return false;
  }
}

}  // namespace labeler
