// The label set: the classes the annotator paints, read once from the label-names file.
//
// A label's colour is also its code in the label images, so a label image pixel is mapped back to its label by
// comparing colours. Lookups scan in file order and return the first match, or -1.
#ifndef LABELER_CONFIG_LABEL_SET_H_
#define LABELER_CONFIG_LABEL_SET_H_

#include <string>
#include <vector>

namespace labeler {

struct LabelInfo {
  int red = 0;
  int green = 0;
  int blue = 0;
  std::string name;  // one word, at most kMaxLabelNameLength characters
  int hotKey = -1;   // the digit 0..9 that selects the label, or -1
};

using LabelSet = std::vector<LabelInfo>;

inline constexpr int kMaxLabelNameLength = 99;

// Empties `labels`, then appends one label per label line of the file at `path`, in file order:
//   "= <hot key> <name> <red> <green> <blue>"   a label with a digit hot key (the first word begins with "=")
//   "// ..."                                     a comment
//   "<name> <red> <green> <blue>"                a label without hot key
// A malformed line is skipped with a warning on standard error naming the file and the line number; two labels
// of one colour draw a warning. Throws FatalError when the file can't be opened or holds no label.
void LoadLabelSet(const std::string& path, LabelSet& labels);

// Index of the first label whose hot key is `digit`, or -1.
int FindLabelByHotKey(int digit, const LabelSet& labels);

// Index of the first label of exactly this colour (components closer than 5 x 2^-23), or -1.
int FindLabelByColour(double red, double green, double blue, const LabelSet& labels);

}  // namespace labeler

#endif  // LABELER_CONFIG_LABEL_SET_H_
