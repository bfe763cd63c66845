// The --json summaries of labeler-tool are JSON objects written field by field: counts, texts, and objects or
// arrays written before. Texts are escaped so that any file name comes through.
#ifndef LABELER_TOOLS_JSON_OBJECT_H_
#define LABELER_TOOLS_JSON_OBJECT_H_

#include <string>
#include <vector>

namespace labeler::tool {

// `text` as a JSON string, quoted and escaped.
std::string JsonQuoted(const std::string& text);

// A JSON array of values already written as JSON.
std::string JsonArray(const std::vector<std::string>& values);

class JsonObject {
 public:
  JsonObject& Add(const std::string& key, long long number);
  JsonObject& Add(const std::string& key, const std::string& text);
  // `json` is an object or array already written.
  JsonObject& AddJson(const std::string& key, const std::string& json);

  std::string Text() const { return "{" + fields_ + "}"; }

 private:
  std::string fields_;
};

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_JSON_OBJECT_H_
