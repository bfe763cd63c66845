// What a labeler-tool run over many files reports at its end: the files that failed, each with its reason, on
// standard error for people and in the --json summary for schedulers and scripts.
#ifndef LABELER_TOOLS_RUN_REPORT_H_
#define LABELER_TOOLS_RUN_REPORT_H_

#include <string>
#include <vector>

#include "tools/shard.h"

namespace labeler::tool {

struct Failure {
  std::string path;    // the file that failed; empty when the failure is not one file's
  std::string reason;  // a clause, without line end
};

// Writes "labeler-tool: error: PATH: REASON" for each failure on standard error.
void PrintFailures(const std::vector<Failure>& failures);

// The failures as a JSON array of {"path", "reason"} objects.
std::string FailuresJson(const std::vector<Failure>& failures);

// The shard as a JSON object {"index", "count"}.
std::string ShardJson(const Shard& shard);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_RUN_REPORT_H_
