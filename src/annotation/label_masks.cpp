#include "annotation/label_masks.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <opencv2/imgcodecs.hpp>

#include "annotation/declared_size.h"
#include "annotation/label_image_file.h"
#include "common/fatal_error.h"

namespace labeler {
namespace {

constexpr int kUnlabelledNumber = 255;

cv::Vec3b ColourOf(const LabelInfo& label) {
  return cv::Vec3b(cv::saturate_cast<uchar>(label.blue), cv::saturate_cast<uchar>(label.green),
                   cv::saturate_cast<uchar>(label.red));
}

// The fields of one CSV line; a quoted field may hold commas and doubled quotes.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else if (c != '\r' || quoted) {
      fields.back() += c;
    }
  }
  return fields;
}

std::optional<int> MaskNumber(const std::string& text) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const int number = std::stoi(text);
  return number < kUnlabelledNumber ? std::optional<int>(number) : std::nullopt;
}

std::optional<cv::Size> DeclaredSizeOf(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  const std::optional<cv::Size> size = DeclaredSize(file);
  std::fclose(file);
  return size;
}

// An index mask, 8-bit PNG only, with the guards of label images: its chunks must fit the file (the decoder
// allocates what a chunk declares first), and a decoder's exception fails this file alone. Empty when it can't
// be read.
cv::Mat ReadIndexMask(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return {};
  unsigned char head[8];
  const bool png = std::fread(head, 1, sizeof head, file) == sizeof head &&
                   std::memcmp(head, "\x89PNG\r\n\x1a\n", sizeof head) == 0;
  const bool fits = png && ChunksFitTheFile(file);
  std::fclose(file);
  if (!fits) return {};
  try {
    return cv::imread(path, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    return {};
  }
}

// The numbering of an export of `labels` without its classes.csv: number i is the i-th label.
MaskNumbering NumberingByPosition(const LabelSet& labels) {
  MaskNumbering numbering;
  for (size_t i = 0; i < labels.size() && i < kUnlabelledNumber; ++i) numbering.push_back(static_cast<int>(i));
  return numbering;
}

// The label of `name` that `number` stands for: the label at that position when it has the name (export numbers
// by position, and two labels may share a name), else the first of that name; -1 when no label has it.
int LabelNamed(const std::string& name, int number, const LabelSet& labels) {
  if (number < static_cast<int>(labels.size()) && labels[number].name == name) return number;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (labels[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

std::string SizeText(cv::Size size) { return std::to_string(size.width) + " x " + std::to_string(size.height); }

}  // namespace

MaskNumbering NumberingOfClassesCsv(const std::string& path, const LabelSet& labels) {
  std::ifstream in(path);
  if (!in) throw FatalError(ErrorLine("cannot read " + path));
  MaskNumbering numbering(kUnlabelledNumber, -1);
  std::string line;
  std::getline(in, line);  // the heading
  for (int lineNumber = 2; std::getline(in, line); ++lineNumber) {
    if (line.empty() || line == "\r") continue;
    const std::vector<std::string> fields = CsvFields(line);
    const std::optional<int> number = MaskNumber(fields[0]);
    if (fields.size() < 2 || !number) {
      throw FatalError(ErrorLine(path + ":" + std::to_string(lineNumber) +
                                 ": not \"index,name,...\" with an index from 0 to 254"));
    }
    numbering[*number] = LabelNamed(fields[1], *number, labels);
  }
  return numbering;
}

std::string ClassesCsvIn(const std::string& dir) {
  const std::string classes = (std::filesystem::path(dir) / "classes.csv").string();
  std::error_code error;
  return std::filesystem::exists(classes, error) ? classes : "";
}

MaskNumbering NumberingOfMaskFolder(const std::string& dir, const LabelSet& labels) {
  const std::string classes = ClassesCsvIn(dir);
  return classes.empty() ? NumberingByPosition(labels) : NumberingOfClassesCsv(classes, labels);
}

MaskReader::MaskReader(const LabelSet& labels) : colours_(labels) {}

MaskReader::MaskReader(const LabelSet& labels, MaskNumbering numbering)
    : index_(true), colourOfNumber_(256), numberKnown_(256, false), colours_(labels) {
  numbering.resize(kUnlabelledNumber, -1);
  for (int number = 0; number < kUnlabelledNumber; ++number) {
    const int label = numbering[number];
    if (label < 0 || label >= static_cast<int>(labels.size())) continue;
    colourOfNumber_[number] = ColourOf(labels[label]);
    numberKnown_[number] = true;
  }
  numberKnown_[kUnlabelledNumber] = true;
}

MaskRead MaskReader::Read(const std::string& path, int frame, cv::Size frameSize) const {
  MaskRead result;
  const std::optional<cv::Size> size = DeclaredSizeOf(path);
  if (!size) {
    result.problem = "can't be read as an image";
  } else if (*size != frameSize) {
    result.problem = "is " + SizeText(*size) + ", frame " + std::to_string(frame) + " is " + SizeText(frameSize);
  } else if (index_) {
    const cv::Mat mask = ReadIndexMask(path);
    if (mask.type() == CV_8UC1 && mask.size() == frameSize) {
      result.labels = FromIndices(mask, result.unknown);
    } else {
      result.problem = "is no 8-bit one-channel PNG index mask";
    }
  } else {
    const cv::Mat mask = ReadStoredLabelImage(path, frameSize);
    if (mask.size() == frameSize) {
      result.labels = FromColours(mask, result.unknown);
    } else {
      result.problem = "can't be decoded as an image";
    }
  }
  return result;
}

cv::Mat MaskReader::FromIndices(const cv::Mat& mask, long long& unknown) const {
  cv::Mat image(mask.size(), CV_8UC3);
  for (int y = 0; y < mask.rows; ++y) {
    const uchar* numbers = mask.ptr<uchar>(y);
    cv::Vec3b* out = image.ptr<cv::Vec3b>(y);
    for (int x = 0; x < mask.cols; ++x) {
      out[x] = colourOfNumber_[numbers[x]];
      unknown += !numberKnown_[numbers[x]];
    }
  }
  return image;
}

cv::Mat MaskReader::FromColours(const cv::Mat& mask, long long& unknown) const {
  cv::Mat image(mask.size(), CV_8UC3, cv::Scalar::all(0));
  for (int y = 0; y < mask.rows; ++y) {
    const cv::Vec3b* in = mask.ptr<cv::Vec3b>(y);
    cv::Vec3b* out = image.ptr<cv::Vec3b>(y);
    for (int x = 0; x < mask.cols; ++x) {
      if (in[x] == cv::Vec3b(0, 0, 0) || colours_.Find(in[x]) >= 0) {
        out[x] = in[x];
      } else {
        ++unknown;
      }
    }
  }
  return image;
}

}  // namespace labeler
