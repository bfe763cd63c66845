// The label-names reader on arbitrary files.

#include "common/fatal_error.h"
#include "config/label_set.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = labeler::fuzz::InputFile(data, size, ".txt");
  labeler::LabelSet labels;
  try {
    labeler::LoadLabelSet(path, labels);
  } catch (const labeler::FatalError&) {
    return 0;
  }
  for (const labeler::LabelInfo& label : labels) {
    const bool colourInRange = label.red >= 0 && label.red <= 255 && label.green >= 0 && label.green <= 255 &&
                               label.blue >= 0 && label.blue <= 255;
    if (!colourInRange || label.name.empty() || label.name.size() > labeler::kMaxLabelNameLength) __builtin_trap();
    if (labeler::FindLabelByColour(label.red, label.green, label.blue, labels) < 0) __builtin_trap();
  }
  return 0;
}
