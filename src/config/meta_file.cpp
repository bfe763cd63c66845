#include "config/meta_file.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/fatal_error.h"
#include "common/files.h"

namespace labeler {
namespace {

// A character stream with the end-of-file indicator and unbounded push-back that formatted input needs: a failed
// number read gives back everything it consumed, so the text is read again as the next token.
class MetaStream {
 public:
  explicit MetaStream(std::FILE* file) : file_(file) {}

  int Get() {
    if (!pushedBack_.empty()) {
      int c = pushedBack_.back();
      pushedBack_.pop_back();
      return c;
    }
    int c = std::getc(file_);
    if (c == EOF) atEnd_ = true;
    return c;
  }
  void Unget(int c) {
    if (c != EOF) pushedBack_.push_back(c);
  }
  bool atEnd() const { return atEnd_ && pushedBack_.empty(); }

  void SkipWhiteSpace() {
    int c;
    do {
      c = Get();
    } while (c != EOF && std::isspace(c));
    Unget(c);
  }

  // "%s": skips white space, then takes characters up to the next white space. Characters beyond `maxLength`
  // are consumed but not kept, and reported through `tooLong`. Returns false when no character was read.
  bool ReadWord(std::string& word, bool& tooLong) {
    word.clear();
    tooLong = false;
    SkipWhiteSpace();
    int c;
    while ((c = Get()) != EOF && !std::isspace(c)) {
      if (static_cast<int>(word.size()) < kMaxMetaValueLength) {
        word.push_back(static_cast<char>(c));
      } else {
        tooLong = true;
      }
    }
    Unget(c);
    return !word.empty();
  }

  enum class IntResult { kRead, kNoNumber, kOutOfRange };

  // "%d": skips white space, then an optional sign and decimal digits. Without digits nothing is consumed.
  IntResult ReadInt(int& value) {
    SkipWhiteSpace();
    std::string text;
    int c = Get();
    if (c == '+' || c == '-') {
      text.push_back(static_cast<char>(c));
      c = Get();
    }
    while (c != EOF && std::isdigit(c)) {
      text.push_back(static_cast<char>(c));
      c = Get();
    }
    Unget(c);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.back()))) {
      for (auto it = text.rbegin(); it != text.rend(); ++it) Unget(*it);
      return IntResult::kNoNumber;
    }
    errno = 0;
    long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return IntResult::kOutOfRange;
    value = static_cast<int>(parsed);
    return IntResult::kRead;
  }

  void SkipRestOfLine() {
    int c;
    do {
      c = Get();
    } while (c != EOF && c != '\n');
  }

 private:
  std::FILE* file_;
  std::vector<int> pushedBack_;
  bool atEnd_ = false;
};

void ReadTextValue(MetaStream& in, const char* key, std::optional<std::string>& field, const std::string& path) {
  std::string value;
  bool tooLong = false;
  if (!in.ReadWord(value, tooLong)) return;
  if (tooLong) {
    throw FatalError(ErrorLine("meta file " + path + ": the value of " + key + " is longer than " +
                               std::to_string(kMaxMetaValueLength) + " characters"));
  }
  field = value;
}

void ReadIntValue(MetaStream& in, const char* key, std::optional<int>& field, const std::string& path) {
  int value = 0;
  switch (in.ReadInt(value)) {
    case MetaStream::IntResult::kRead:
      field = value;
      break;
    case MetaStream::IntResult::kNoNumber:
      break;
    case MetaStream::IntResult::kOutOfRange:
      throw FatalError(ErrorLine("meta file " + path + ": the value of " + std::string(key) +
                                 " does not fit a 32-bit integer"));
  }
}

}  // namespace

void ReadMetaFile(MetaConfig& config, const std::string& path) {
  const std::string notAFile = NotARegularFile(path);
  if (!notAFile.empty()) throw FatalError(ErrorLine("cannot open meta file " + path + ": it " + notAFile));
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    throw FatalError(ErrorLine("cannot open meta file " + path + ": " + std::strerror(errno)));
  }
  SkipByteOrderMark(file);
  MetaStream in(file);
  std::string token;
  bool tooLong = false;
  try {
    for (;;) {
      in.ReadWord(token, tooLong);
      if (in.atEnd()) break;  // a token that runs into the end of the file is not interpreted
      if (tooLong) continue;  // longer than any keyword: unrecognised
      if (token == "#" || token == "//") {
        in.SkipRestOfLine();
      } else if (token == "FILE_IN") {
        ReadTextValue(in, "FILE_IN", config.FILE_IN, path);
      } else if (token == "LABELER_VERSION") {
        ReadIntValue(in, "LABELER_VERSION", config.LABELER_VERSION, path);
      } else if (token == "DIR_LABEL_IMGS") {
        ReadTextValue(in, "DIR_LABEL_IMGS", config.DIR_LABEL_IMGS, path);
      } else if (token == "DIR_PROPOSAL_IMGS") {
        ReadTextValue(in, "DIR_PROPOSAL_IMGS", config.DIR_PROPOSAL_IMGS, path);
      } else if (token == "FILE_TIMELINE") {
        ReadTextValue(in, "FILE_TIMELINE", config.FILE_TIMELINE, path);
      } else if (token == "FILE_TIMELINE_JUMPBY") {
        ReadIntValue(in, "FILE_TIMELINE_JUMPBY", config.FILE_TIMELINE_JUMPBY, path);
      } else if (token == "MAX_WINDOW_DIM") {
        ReadIntValue(in, "MAX_WINDOW_DIM", config.MAX_WINDOW_DIM, path);
      } else if (token == "FILE_LABEL_NAMES") {
        ReadTextValue(in, "FILE_LABEL_NAMES", config.FILE_LABEL_NAMES, path);
      }
    }
  } catch (...) {
    std::fclose(file);
    throw;
  }
  std::fclose(file);
}

void RequireMetaKeys(const MetaConfig& config, const std::string& path) {
  std::string problems;
  auto add = [&problems](const std::string& problem) {
    problems += problems.empty() ? problem : ", " + problem;
  };
  if (!config.FILE_TIMELINE) add("FILE_TIMELINE is missing");
  if (!config.FILE_LABEL_NAMES) add("FILE_LABEL_NAMES is missing");
  if (!config.DIR_LABEL_IMGS) add("DIR_LABEL_IMGS is missing");
  if (!config.FILE_TIMELINE_JUMPBY) add("FILE_TIMELINE_JUMPBY is missing");
  if (!config.MAX_WINDOW_DIM) {
    add("MAX_WINDOW_DIM is missing");
  } else if (*config.MAX_WINDOW_DIM < 1 || *config.MAX_WINDOW_DIM > kLargestWindowDim) {
    add("MAX_WINDOW_DIM is " + std::to_string(*config.MAX_WINDOW_DIM) + " but must be 1 to " +
        std::to_string(kLargestWindowDim));
  }
  if (!problems.empty()) throw FatalError(ErrorLine("meta file " + path + ": " + problems));
}

}  // namespace labeler
