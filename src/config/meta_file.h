// The meta file: the one configuration of a labelling run.
//
// A meta file is a stream of white-space-separated tokens. Eight keys are recognised, each followed by its
// value; "#" and "//" standing alone start a comment to the end of the line; every other token is skipped.
// ReadMetaFile fills a MetaConfig from it; RequireMetaKeys then checks that the keys the labeller uses are there.
#ifndef LABELER_CONFIG_META_FILE_H_
#define LABELER_CONFIG_META_FILE_H_

#include <optional>
#include <string>

namespace labeler {

// The values of the meta file, one field per key, named after the key. A key the file doesn't give leaves its
// field empty: there are no defaults.
struct MetaConfig {
  std::optional<std::string> FILE_IN;          // stored, not used
  std::optional<int> LABELER_VERSION;          // stored, not used
  std::optional<std::string> FILE_TIMELINE;    // a movie (".avi") or a still list (".txt")
  std::optional<int> FILE_TIMELINE_JUMPBY;     // frames moved by the "+" and "-" keys
  std::optional<int> MAX_WINDOW_DIM;           // largest dimension of the rescaled window
  std::optional<std::string> FILE_LABEL_NAMES; // the label-names file
  std::optional<std::string> DIR_LABEL_IMGS;   // folder of the label images, no trailing separator
  std::optional<std::string> DIR_PROPOSAL_IMGS;  // optional: folder of proposed label images (see ProposalFolder)
};

// Text values hold at most this many characters.
inline constexpr int kMaxMetaValueLength = 499;
// The largest MAX_WINDOW_DIM: a larger rescaled window would not fit any screen, and its picture could exhaust
// memory.
inline constexpr int kLargestWindowDim = 16384;

// Reads the meta file at `path` into `config`; a later occurrence of a key overwrites an earlier one.
// Throws FatalError when the file can't be opened, when a text value is longer than kMaxMetaValueLength or when
// an integer value doesn't fit an int.
void ReadMetaFile(MetaConfig& config, const std::string& path);

// Throws FatalError, in one line naming every offender, when a key the labeller uses is missing or when
// MAX_WINDOW_DIM is outside 1..kLargestWindowDim.
void RequireMetaKeys(const MetaConfig& config, const std::string& path);

}  // namespace labeler

#endif  // LABELER_CONFIG_META_FILE_H_
