#include "tools/run_report.h"

#include <cstdio>

#include "tools/json_object.h"

namespace labeler::tool {

void PrintFailures(const std::vector<Failure>& failures) {
  for (const Failure& failure : failures) {
    const std::string where = failure.path.empty() ? "" : failure.path + ": ";
    std::fprintf(stderr, "labeler-tool: error: %s%s\n", where.c_str(), failure.reason.c_str());
  }
}

std::string FailuresJson(const std::vector<Failure>& failures) {
  std::vector<std::string> objects;
  for (const Failure& failure : failures) {
    objects.push_back(JsonObject().Add("path", failure.path).Add("reason", failure.reason).Text());
  }
  return JsonArray(objects);
}

std::string ShardJson(const Shard& shard) {
  return JsonObject().Add("index", shard.index).Add("count", shard.count).Text();
}

}  // namespace labeler::tool
