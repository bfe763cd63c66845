#include "config/label_set.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>

#include "common/fatal_error.h"
#include "common/files.h"

namespace labeler {
namespace {

// Lines are read through a buffer of this size, as the file format has always been read: a longer line is
// continued as a further line.
constexpr int kLineBufferSize = 500;

std::vector<std::string> SplitWords(const char* line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  std::string word;
  while (stream >> word) words.push_back(word);
  return words;
}

std::optional<int> ParseWholeInt(const std::string& word) {
  int value = 0;
  const char* begin = word.data();
  const char* end = word.data() + word.size();
  if (begin != end && *begin == '+') ++begin;
  auto [stop, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || stop != end || begin == end) return std::nullopt;
  return value;
}

// A number as "%d" reads it: an optional sign and the digits that follow, the rest of the word left unread
// (its length goes to `unread`).
std::optional<int> ParseLeadingInt(const std::string& word, size_t& unread) {
  const size_t digitsFrom = !word.empty() && (word[0] == '+' || word[0] == '-') ? 1 : 0;
  size_t digitsTo = digitsFrom;
  while (digitsTo < word.size() && std::isdigit(static_cast<unsigned char>(word[digitsTo]))) ++digitsTo;
  unread = word.size() - digitsTo;
  if (digitsTo == digitsFrom) return std::nullopt;
  return ParseWholeInt(word.substr(0, digitsTo));
}

// Builds a label from the name and colour words, or returns the reason it can't. The colour is read as
// "%d %d %d" reads it: text glued to the blue component is ignored (and noted in `note`), while text glued to
// red or green stops the reading there, so the numbers after it are missing.
std::optional<LabelInfo> ParseLabel(const std::string& name, const std::string* colour, int hotKey,
                                    std::string& reason, std::string& note) {
  if (static_cast<int>(name.size()) > kMaxLabelNameLength) {
    reason = "name longer than " + std::to_string(kMaxLabelNameLength) + " characters";
    return std::nullopt;
  }
  int components[3];
  for (int i = 0; i < 3; ++i) {
    size_t unread = 0;
    std::optional<int> value = ParseLeadingInt(colour[i], unread);
    if (!value) {
      reason = "colour component '" + colour[i] + "' is not a number";
      return std::nullopt;
    }
    if (unread > 0 && i < 2) {
      reason = "colour component '" + colour[i] + "' runs into text, so the components after it are missing";
      return std::nullopt;
    }
    if (unread > 0) {
      note = "the text after " + std::to_string(*value) + " in '" + colour[i] + "' is ignored";
    }
    if (*value < 0 || *value > 255) {
      reason = "colour component " + colour[i] + " is outside 0 to 255";
      return std::nullopt;
    }
    components[i] = *value;
  }
  return LabelInfo{components[0], components[1], components[2], name, hotKey};
}

// Parses one label line (not a comment, not blank). Returns the label, or nothing with `reason` set.
std::optional<LabelInfo> ParseLabelLine(const std::vector<std::string>& words, std::string& reason,
                                        std::string& note) {
  if (words[0][0] == '=') {
    if (words.size() < 6) {
      reason = "expected '= <hot key> <name> <red> <green> <blue>'";
      return std::nullopt;
    }
    std::optional<int> hotKey = ParseWholeInt(words[1]);
    if (!hotKey) {
      reason = "hot key '" + words[1] + "' is not a number (it must stand apart from the '=')";
      return std::nullopt;
    }
    return ParseLabel(words[2], &words[3], *hotKey, reason, note);
  }
  if (words.size() < 4) {
    reason = "expected '<name> <red> <green> <blue>'";
    return std::nullopt;
  }
  return ParseLabel(words[0], &words[1], -1, reason, note);
}

void WarnAboutSharedColours(const std::string& path, const LabelSet& labels) {
  for (size_t i = 0; i < labels.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      const LabelInfo& a = labels[j];
      const LabelInfo& b = labels[i];
      if (a.red == b.red && a.green == b.green && a.blue == b.blue) {
        std::fprintf(stderr,
                     "%s: warning: %s: labels '%s' and '%s' share the colour %d %d %d; their pixels can't be "
                     "told apart in the label images\n",
                     ProgramName().c_str(), path.c_str(), a.name.c_str(), b.name.c_str(), a.red, a.green, a.blue);
        break;
      }
    }
  }
}

}  // namespace

void LoadLabelSet(const std::string& path, LabelSet& labels) {
  labels.clear();
  const std::string notAFile = NotARegularFile(path);
  if (!notAFile.empty()) throw FatalError(ErrorLine("cannot open label-names file " + path + ": it " + notAFile));
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    throw FatalError(ErrorLine("cannot open label-names file " + path + ": " + std::strerror(errno)));
  }
  SkipByteOrderMark(file);
  char line[kLineBufferSize];
  int lineNumber = 0;
  bool continuesLine = false;  // the previous buffer ended inside an over-long line
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (!continuesLine) ++lineNumber;
    size_t length = std::strlen(line);
    continuesLine = length > 0 && line[length - 1] != '\n' && !std::feof(file);
    std::vector<std::string> words = SplitWords(line);
    if (words.empty()) continue;
    if (words[0][0] != '=' && words[0].rfind("//", 0) == 0) continue;
    std::string reason;
    std::string note;
    std::optional<LabelInfo> label = ParseLabelLine(words, reason, note);
    if (label) {
      labels.push_back(*label);
      if (!note.empty()) {
        std::fprintf(stderr, "%s: warning: %s:%d: %s\n", ProgramName().c_str(), path.c_str(), lineNumber, note.c_str());
      }
    } else {
      std::fprintf(stderr, "%s: warning: %s:%d: label line skipped: %s\n", ProgramName().c_str(), path.c_str(),
                   lineNumber, reason.c_str());
    }
  }
  std::fclose(file);
  if (labels.empty()) throw FatalError(ErrorLine("label-names file " + path + " defines no label"));
  WarnAboutSharedColours(path, labels);
}

int FindLabelByHotKey(int digit, const LabelSet& labels) {
  if (digit < 0) return -1;  // -1 marks a label without hot key
  for (size_t i = 0; i < labels.size(); ++i) {
    if (labels[i].hotKey == digit) return static_cast<int>(i);
  }
  return -1;
}

int FindLabelByColour(double red, double green, double blue, const LabelSet& labels) {
  constexpr double kTolerance = 5.9604645e-7;
  for (size_t i = 0; i < labels.size(); ++i) {
    const LabelInfo& label = labels[i];
    if (std::fabs(label.red - red) < kTolerance && std::fabs(label.green - green) < kTolerance &&
        std::fabs(label.blue - blue) < kTolerance) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace labeler
