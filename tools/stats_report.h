// The report page of labeler-tool stats: DIR/index.html, one section per clip that opens with a one-line summary
// (frames, labelled frames, coverage, conflict files) and a chart of each label's share of every frame along
// the clip, then the totals per label, the share painted by hand against completed by label assist, and small
// pictures of the least labelled frames and of every conflict file. The page is self-contained: its pictures
// are PNG files beside it in DIR/clip-N/ (N counting the clips from 1), and it loads nothing else, so it can be copied or mailed as a
// folder and opened offline.
#ifndef LABELER_TOOLS_STATS_REPORT_H_
#define LABELER_TOOLS_STATS_REPORT_H_

#include <string>
#include <vector>

#include "tools/clip_stats.h"
#include "tools/run_report.h"

namespace labeler::tool {

// Writes the report of the counted `clips` (whole clips, not a shard's share) into the folder `dir`, which exists.
// Every file is written to a temporary name and renamed. Adds to `failures` the pictures not drawn as meant (the
// page says where one is missing) and the page itself when it can't be written; returns whether the page was.
// Throws FatalError when a clip's folder can't be made.
bool WriteStatsReport(const std::string& dir, const std::vector<StatsClip>& clips, std::vector<Failure>& failures);

// The path of the page WriteStatsReport writes into `dir`.
std::string StatsReportPage(const std::string& dir);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_STATS_REPORT_H_
