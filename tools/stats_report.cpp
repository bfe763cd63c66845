// The page is built as text: every text taken from files (label, clip and file names) goes through Escaped, and
// every picture's path through UrlPath, so no name can break the page or point it elsewhere.
#include "tools/stats_report.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "annotation/label_file.h"
#include "common/files.h"
#include "tools/corpus.h"
#include "tools/report_pictures.h"

namespace labeler::tool {
namespace {

constexpr size_t kLeastLabelledShown = 6;
// Columns of a clip's chart at most: about half a kilobyte of page each.
constexpr size_t kMostColumns = 4000;
// Neutral, unlike the saturated colours labels usually have; frames without a label image stay white.
constexpr const char* kUnlabelledColour = "#a6a6a6";
constexpr const char* kUnknownColour = "#ff00ff";

constexpr const char* kStyle = R"(
body { font: 15px/1.45 "DejaVu Sans", Arial, sans-serif; color: #222; background: #f6f6f6; margin: 0; }
main { max-width: 1100px; margin: 0 auto; padding: 16px 24px 32px; }
h1 { font-size: 22px; margin: 8px 0 12px; }
section { background: #fff; border: 1px solid #ddd; border-radius: 6px; padding: 12px 20px 20px; margin-bottom: 20px; }
h2 { font-size: 19px; margin: 4px 0 2px; }
h2 small { font-weight: normal; color: #777; font-size: 13px; margin-left: 10px; }
h3 { font-size: 16px; margin: 22px 0 8px; }
.summary { font-size: 16px; margin: 2px 0 12px; }
.overview { margin: 0 0 16px; padding-left: 20px; }
.scroll { overflow-x: auto; }
svg.chart { display: block; width: 100%; height: 160px; background: #fff; border: 1px solid #888; }
.axis { display: flex; justify-content: space-between; font-size: 12px; color: #666; }
.note { font-size: 13px; color: #555; margin: 4px 0; }
table { border-collapse: collapse; margin-top: 14px; }
th, td { padding: 3px 14px; border-bottom: 1px solid #e6e6e6; text-align: right; }
th:first-child, td:first-child { text-align: left; }
th { font-weight: 600; border-bottom: 1px solid #aaa; }
.swatch { display: inline-block; width: 30px; height: 14px; border: 1px solid #777; vertical-align: middle; }
.pictures { display: flex; flex-wrap: wrap; gap: 14px; }
figure { margin: 0; font-size: 12px; color: #444; max-width: 240px; overflow-wrap: anywhere; }
figure img { display: block; border: 1px solid #999; }
.missing { width: 240px; height: 60px; border: 1px dashed #b00; color: #b00; display: flex; align-items: center;
           justify-content: center; }
)";

std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// A relative path as a URL path: every byte but letters, digits, "-._~" and "/" percent-encoded.
std::string UrlPath(const std::string& path) {
  std::string url;
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    char encoded[4];
    std::snprintf(encoded, sizeof encoded, "%%%02X", c);
    url += plain ? std::string(1, static_cast<char>(c)) : std::string(encoded);
  }
  return url;
}

std::string Percent(double share) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100 * share);
  return text;
}

std::string Counted(long long count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// 1234567 as "1,234,567".
std::string Grouped(long long number) {
  const std::string digits = std::to_string(number);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string HexColour(const LabelInfo& label) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", label.red & 255, label.green & 255, label.blue & 255);
  return text;
}

// A share of a frame's pixels (or of all pixels of the labelled frames), with its colour on the page.
struct PixelShare {
  std::string name;
  std::string colour;
  long long pixels;
};

// In the order the chart stacks them from its top: each label, pixels of unknown colours (when there are any),
// unlabelled pixels, so that the unlabelled shares of all frames stand on the same foot.
std::vector<PixelShare> SharesOf(const LabelSet& labels, const FrameStats& stats) {
  std::vector<PixelShare> parts;
  for (size_t l = 0; l < labels.size(); ++l) {
    parts.push_back({labels[l].name, HexColour(labels[l]), stats.counts.perLabel[l]});
  }
  if (stats.counts.unknown > 0) parts.push_back({"unknown colours", kUnknownColour, stats.counts.unknown});
  parts.push_back({"unlabelled", kUnlabelledColour, stats.counts.unlabelled});
  return parts;
}

// The column `x` of the chart, 100 units high, for the labelled frame of `row`, with a title that names the
// frames it stands for (`span`) and the frame's shares.
std::string FrameColumn(const StatsClip& clip, size_t row, size_t x, const std::string& span) {
  const FrameStats& stats = clip.rows[row];
  std::string shares;
  std::string rects;
  double top = 0;
  for (const PixelShare& part : SharesOf(clip.project.labels, stats)) {
    if (part.pixels == 0) continue;
    const double height = 100 * Share(part.pixels, stats.pixels);
    char rect[128];
    std::snprintf(rect, sizeof rect, R"(<rect x="%zu" y="%.3f" width="1" height="%.3f" fill="%s"/>)", x, top,
                  height, part.colour.c_str());
    rects += rect;
    top += height;
    shares += (shares.empty() ? "" : ", ") + Escaped(part.name) + " " + Percent(height / 100);
  }
  return "<g><title>" + span + "frame " + std::to_string(clip.frames[row]) + ": " + shares + "</title>" + rects +
         "</g>\n";
}

// Of the rows [begin, end), the one with the largest unlabelled share, or `end` when one has no label image (it
// is the least labelled of all).
size_t LeastLabelledRow(const StatsClip& clip, size_t begin, size_t end) {
  size_t least = begin;
  for (size_t r = begin; r < end; ++r) {
    const FrameStats& row = clip.rows[r];
    if (!row.labelled) return end;
    if (Share(row.counts.unlabelled, row.pixels) > Share(clip.rows[least].counts.unlabelled, clip.rows[least].pixels)) {
      least = r;
    }
  }
  return least;
}

// One column per frame of the clip, the shares of its labels stacked; a frame without a label image is a gap.
// A column is at least a pixel wide, so that no frame is lost: a long clip's chart scrolls sideways. Beyond
// kMostColumns frames a column stands for several, showing the least labelled of them, so that gaps still stand
// out and the page stays small however long the clip.
std::string Chart(const StatsClip& clip) {
  if (clip.rows.empty()) return "<p class=\"note\">The timeline has no frames.</p>\n";
  const size_t perColumn = (clip.rows.size() + kMostColumns - 1) / kMostColumns;
  const size_t columnCount = (clip.rows.size() + perColumn - 1) / perColumn;
  const std::string columns = std::to_string(columnCount);
  std::string svg = "<div class=\"scroll\"><div style=\"min-width:" + columns + "px\">\n" +
                    "<svg class=\"chart\" viewBox=\"0 0 " + columns +
                    " 100\" preserveAspectRatio=\"none\" shape-rendering=\"crispEdges\" role=\"img\">\n";
  for (size_t x = 0; x < columnCount; ++x) {
    const size_t begin = x * perColumn, end = std::min(begin + perColumn, clip.rows.size());
    const size_t row = LeastLabelledRow(clip, begin, end);
    if (row == end) continue;
    const std::string span = perColumn == 1 ? "" : "frames " + std::to_string(clip.frames[begin]) + " to " +
                                                       std::to_string(clip.frames[end - 1]) + ", the least labelled ";
    svg += FrameColumn(clip, row, x, span);
  }
  return svg + "</svg>\n<div class=\"axis\"><span>frame " + std::to_string(clip.frames.front()) +
         "</span><span>frame " + std::to_string(clip.frames.back()) + "</span></div>\n</div></div>\n" +
         "<p class=\"note\">" +
         (perColumn == 1 ? std::string("One column per frame")
                         : "One column per " + std::to_string(perColumn) + " frames, the least labelled of them") +
         ", each label's share of its pixels stacked; a white column " +
         (perColumn == 1 ? "is a frame" : "has a frame") + " without a label image. Point at a column for its "
         "shares.</p>\n";
}

std::string Summary(const StatsClip& clip) {
  const FrameStats& total = clip.total;
  const long long labelled = total.pixels - total.counts.unlabelled - total.counts.unknown;
  return Counted(static_cast<long long>(clip.rows.size()), "frame") + ", " + std::to_string(clip.labelledFrames) +
         " labelled (" + Percent(Share(clip.labelledFrames, static_cast<long long>(clip.rows.size()))) + "), " +
         Percent(Share(labelled, total.pixels)) + " of their pixels labelled, " +
         Counted(static_cast<long long>(clip.conflicts.size()), "conflict file");
}

std::string TotalsTable(const StatsClip& clip) {
  std::string html = "<table>\n<tr><th>label</th><th>colour</th><th>pixels</th><th>share</th></tr>\n";
  for (const PixelShare& part : SharesOf(clip.project.labels, clip.total)) {
    html += "<tr><td>" + Escaped(part.name) + "</td><td><span class=\"swatch\" style=\"background:" + part.colour +
            "\"></span></td><td>" + Grouped(part.pixels) + "</td><td>" +
            Percent(Share(part.pixels, clip.total.pixels)) + "</td></tr>\n";
  }
  return html + "</table>\n<p class=\"note\">Shares of all pixels of the labelled frames.</p>\n";
}

std::string PaintedLine(const StatsClip& clip) {
  return "<p>Of these pixels " + Percent(Share(clip.total.painted, clip.total.pixels)) +
         " were painted by hand and " + Percent(Share(clip.total.completed, clip.total.pixels)) +
         " completed by label assist (as the label folder's record of painted pixels says).</p>\n";
}

// The pictures of a clip's section: its least labelled frames, then each conflict file after the label image
// saved for its frame, when there is one.
struct ClipPictures {
  std::vector<ReportPicture> all;
  size_t leastLabelled = 0;  // how many of `all`, at its start, are least labelled frames
};

// The rows of the labelled frames with the largest unlabelled share, largest first; frames labelled in full are
// not among them.
std::vector<size_t> LeastLabelledRows(const StatsClip& clip) {
  std::vector<size_t> rows;
  for (size_t r = 0; r < clip.rows.size(); ++r) {
    if (clip.rows[r].labelled && clip.rows[r].counts.unlabelled > 0) rows.push_back(r);
  }
  auto unlabelled = [&clip](size_t r) { return Share(clip.rows[r].counts.unlabelled, clip.rows[r].pixels); };
  std::stable_sort(rows.begin(), rows.end(), [&](size_t a, size_t b) { return unlabelled(a) > unlabelled(b); });
  rows.resize(std::min(rows.size(), kLeastLabelledShown));
  return rows;
}

// The pictures go to `folder`, the clip's section id, never a name taken from a file: a meta file named
// "...meta" would otherwise put them beside the report folder.
ClipPictures ChoosePictures(const StatsClip& clip, const std::string& folder) {
  ClipPictures pictures;
  for (size_t r : LeastLabelledRows(clip)) {
    const int frame = clip.frames[r];
    pictures.all.push_back({frame, clip.fileOfFrame.at(frame), LabelImagePath(folder, frame),
                            "frame " + std::to_string(frame) + ", " +
                                Percent(Share(clip.rows[r].counts.unlabelled, clip.rows[r].pixels)) + " unlabelled"});
  }
  pictures.leastLabelled = pictures.all.size();
  for (const LabelImageFile& conflict : clip.conflicts) {
    const auto saved = clip.fileOfFrame.find(conflict.frame);
    if (saved != clip.fileOfFrame.end()) {
      pictures.all.push_back({conflict.frame, saved->second, LabelImagePath(folder, conflict.frame),
                              "frame " + std::to_string(conflict.frame) + " as saved"});
    }
    const std::string name = std::filesystem::path(conflict.path).filename().string();
    pictures.all.push_back({conflict.frame, conflict.path, folder + "/" + name, name});
  }
  return pictures;
}

std::string Figures(std::vector<ReportPicture>::const_iterator begin, std::vector<ReportPicture>::const_iterator end) {
  std::string html = "<div class=\"pictures\">\n";
  for (auto picture = begin; picture != end; ++picture) {
    const std::string caption = Escaped(picture->caption);
    html += "<figure>" +
            (picture->drawn ? "<img src=\"" + Escaped(UrlPath(picture->file)) + "\" alt=\"" + caption + "\">"
                            : std::string("<div class=\"missing\">not drawn</div>")) +
            "<figcaption>" + caption + "</figcaption></figure>\n";
  }
  return html + "</div>\n";
}

// `id` is the section's anchor for the overview.
std::string ClipSection(const StatsClip& clip, const ClipPictures& pictures, const std::string& id) {
  std::string html = "<section id=\"" + id + "\">\n<h2>" + Escaped(clip.name) + " <small>" + Escaped(clip.meta) +
                     "</small></h2>\n<p class=\"summary\">" + Summary(clip) + "</p>\n" + Chart(clip) +
                     TotalsTable(clip) + PaintedLine(clip);
  const auto leastEnd = pictures.all.begin() + static_cast<long>(pictures.leastLabelled);
  if (pictures.leastLabelled > 0) {
    html += "<h3>Least labelled frames</h3>\n<p class=\"note\">The labels over their frames; the bare frame shows "
            "where nothing is labelled.</p>\n" +
            Figures(pictures.all.begin(), leastEnd);
  }
  if (!clip.conflicts.empty()) {
    html += "<h3>Conflict files</h3>\n<p class=\"note\">In " + Escaped(*clip.project.config.DIR_LABEL_IMGS) +
            ", each after the label image saved for its frame: a labeller's version to reconcile with it.</p>\n" +
            Figures(leastEnd, pictures.all.end());
  }
  return html + "</section>\n";
}

// With several clips, their summaries come first, each a link to its clip's section.
std::string Overview(const std::vector<StatsClip>& clips) {
  if (clips.size() < 2) return "";
  std::string html = "<ul class=\"overview\">\n";
  for (size_t c = 0; c < clips.size(); ++c) {
    html += "<li><a href=\"#clip-" + std::to_string(c + 1) + "\">" + Escaped(clips[c].name) + "</a>: " +
            Summary(clips[c]) + "</li>\n";
  }
  return html + "</ul>\n";
}

std::string Page(const std::string& sections) {
  return std::string("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n") +
         "<title>How much is labelled</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<main>\n" +
         "<h1>How much is labelled</h1>\n" + sections + "</main>\n</body>\n</html>\n";
}

}  // namespace

bool WriteStatsReport(const std::string& dir, const std::vector<StatsClip>& clips, std::vector<Failure>& failures) {
  std::string sections = Overview(clips);
  for (size_t c = 0; c < clips.size(); ++c) {
    const StatsClip& clip = clips[c];
    const std::string id = "clip-" + std::to_string(c + 1);
    ClipPictures pictures = ChoosePictures(clip, id);
    if (!pictures.all.empty()) CreateOutputFolder((std::filesystem::path(dir) / id).string());
    for (Failure& failure : DrawReportPictures(*clip.project.config.FILE_TIMELINE, dir, pictures.all)) {
      failures.push_back(std::move(failure));
    }
    sections += ClipSection(clip, pictures, id);
  }
  const std::string page = Page(sections);
  const std::string path = StatsReportPage(dir);
  const std::string reason = WriteFileAtomically(path, std::vector<unsigned char>(page.begin(), page.end()));
  if (!reason.empty()) failures.push_back({path, "cannot be written: " + reason});
  return reason.empty();
}

std::string StatsReportPage(const std::string& dir) { return (std::filesystem::path(dir) / "index.html").string(); }

}  // namespace labeler::tool
