// PresegParams: a presegmentation setting with its parameters, and the parameter line, its text form.
//
// Every stroke carries the parameter line of the setting in force when it was begun, so that it is always
// rendered over the presegmentation it was painted on.
#ifndef LABELER_PRESEG_PRESEG_PARAMS_H_
#define LABELER_PRESEG_PRESEG_PARAMS_H_

#include <string>

namespace labeler {

// The settings, as chosen on the "N,P,Q,O,U,F" trackbar.
enum PresegSetting {
  kNoPreseg = 0,
  kPyramidPreseg = 1,
  kMeanShiftPreseg0 = 2,
  kMeanShiftPreseg1 = 3,
  kMeanShiftPreseg2 = 4,
  kGraphPreseg = 5,
};
inline constexpr int kLastPresegSetting = kGraphPreseg;
// The pyramid trackbars' positions at start-up.
inline constexpr int kStartPyrSeg1 = 24;
inline constexpr int kStartPyrSeg2 = 30;

struct PresegParams {
  int algorithm = kNoPreseg;  // the setting, 0..5
  int pyrSeg1 = 0;            // pyramid: trackbar position; the threshold used is pyrSeg1 + 1
  int pyrSeg2 = 0;            // pyramid: trackbar position; the threshold used is pyrSeg2 + 1
  float sigma = 0.0f;         // graph segmentation; -1 means its default
  float k = 0.0f;             // graph segmentation; -1 means its default
  float minSize = 0.0f;       // graph segmentation; -1 means its default
  int slotTag = -1;           // in a cache slot holding a result: the slot index; else -1
};

// The parameter line of `params`: "%d " for settings 0 and 2 to 4, "%d %d %d" with the pyramid thresholds
// for 1, "%d %f %f %f" with sigma, k and minSize for 5. Throws FatalError ("Unknown segmentation
// algorithm! Exiting!") for any other setting.
std::string FormatPresegParams(const PresegParams& params);

// Reads a parameter line into `params`. A first token that is not a number reads as setting 0; fields the
// line doesn't give keep their values; slotTag becomes -1. Throws FatalError ("Unrecognized segmentation
// algorithm! Exiting!") for a setting outside 0 to 5.
void ParsePresegParams(PresegParams& params, const std::string& line);

// True when a cache slot described by `slot` holds the result that `requested` asks for.
bool SamePresegParams(const PresegParams& slot, const PresegParams& requested);

}  // namespace labeler

#endif  // LABELER_PRESEG_PRESEG_PARAMS_H_
