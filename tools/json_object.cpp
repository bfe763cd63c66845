#include "tools/json_object.h"

#include <cstdio>

namespace labeler::tool {

std::string JsonQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string JsonArray(const std::vector<std::string>& values) {
  std::string array = "[";
  for (size_t i = 0; i < values.size(); ++i) array += (i > 0 ? "," : "") + values[i];
  return array + "]";
}

JsonObject& JsonObject::Add(const std::string& key, long long number) {
  return AddJson(key, std::to_string(number));
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& text) { return AddJson(key, JsonQuoted(text)); }

JsonObject& JsonObject::AddJson(const std::string& key, const std::string& json) {
  if (!fields_.empty()) fields_ += ',';
  fields_ += JsonQuoted(key) + ":" + json;
  return *this;
}

}  // namespace labeler::tool
