// A corpus for the tests of labeler-tool's shards: clips whose masks tell the frames apart, every file an export
// wrote, and the JSON summaries the jobs print.
#ifndef LABELER_TESTS_SUPPORT_CORPUS_H_
#define LABELER_TESTS_SUPPORT_CORPUS_H_

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/tool_run.h"

namespace labeler::testing {

// Every file under `folder`, by path relative to it, with its bytes.
inline std::map<std::string, std::string> FilesUnder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[std::filesystem::relative(entry.path(), folder).string()] = ReadFile(entry.path().string());
    }
  }
  return files;
}

inline QJsonObject ParseJson(const std::string& text) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  EXPECT_TRUE(document.isObject()) << text;
  return document.object();
}

// A clip of 12 frames, `name`.meta, whose label images differ from frame to frame, so that a mask written for
// the wrong frame shows.
class Clip : public ExportProject {
 public:
  Clip(const std::string& name, const std::vector<int>& frames) : ExportProject("= 1 road 128 64 128\ncar 0 0 142\n", 12) {
    named = dir.Write(name + ".meta", ReadFile(meta));
    for (int frame : frames) WriteLabelImage(frame, cv::Vec3b(142, 0, 0), {6 + frame % 4, frame % 4});
  }
  std::string named;
};

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_CORPUS_H_
