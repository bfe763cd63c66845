// labeler-tool stats --report as a reader sees it: the page opened in a real headless Chromium, which must load
// every picture and show every label's name, with no network and no script of the page's own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace labeler {
namespace {

using testing::ReadFile;
using testing::ReportProject;
using testing::RunTool;
using testing::TempDir;

constexpr size_t npos = std::string::npos;
constexpr const char* kChromium = "/usr/bin/chromium";

// A page that opens `report` in a frame and, once the report and its pictures have loaded (or failed to), writes
// into itself how many pictures the report has, how many loaded, and the report's text as a reader sees it.
// Chromium lets one file page read another only with --allow-file-access-from-files.
std::string OpeningPage(const std::string& report) {
  return "<!DOCTYPE html>\n<html><body>\n<iframe id=\"report\" src=\"file://" + report +
         "\" style=\"width:1200px;height:1600px\"></iframe>\n"
         "<script>\n"
         "window.addEventListener('load', () => {\n"
         "  const page = document.getElementById('report').contentDocument;\n"
         "  const images = Array.from(page.images);\n"
         "  const loaded = images.filter(image => image.complete && image.naturalWidth > 0).length;\n"
         "  const result = document.createElement('pre');\n"
         "  result.id = 'result';\n"
         "  result.textContent = 'images ' + images.length + ' loaded ' + loaded + '\\n' + page.body.innerText;\n"
         "  document.body.appendChild(result);\n"
         "});\n"
         "</script>\n</body></html>\n";
}

// Text of a dumped page as it was before the dump escaped it.
std::string Unescaped(std::string text) {
  for (const auto& [entity, character] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
    for (size_t at = text.find(entity); at != npos; at = text.find(entity, at + 1)) {
      text.replace(at, std::string(entity).size(), character);
    }
  }
  return text;
}

struct Shown {
  int images = -1;
  int loaded = -1;
  std::string text;
};

// Opens the page `report` in headless Chromium through OpeningPage and reads what it wrote.
Shown OpenInChromium(const std::string& report) {
  TempDir scratch;
  const std::string opener = scratch.Write("open.html", OpeningPage(report));
  const std::string command =
      std::string("timeout 120 ") + kChromium +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
      " --disable-component-update --disable-sync --disable-dev-shm-usage --allow-file-access-from-files"
      " --virtual-time-budget=5000" +
      " --user-data-dir=" + scratch.File("profile") + " --dump-dom file://" + opener + " >" + scratch.File("dom") +
      " 2>" + scratch.File("log");
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(scratch.File("log"));
  const std::string dom = ReadFile(scratch.File("dom"));
  const std::string start = "<pre id=\"result\">";
  const size_t from = dom.find(start);
  const size_t to = dom.find("</pre>", from);
  Shown shown;
  if (from == npos || to == npos ||
      std::sscanf(dom.c_str() + from + start.size(), "images %d loaded %d", &shown.images, &shown.loaded) != 2) {
    ADD_FAILURE() << "no result in the page Chromium dumped:\n" << dom << ReadFile(scratch.File("log"));
    return shown;
  }
  shown.text = Unescaped(dom.substr(from + start.size(), to - from - start.size()));
  return shown;
}

// The check sees a picture that is missing: with one deleted, one picture fewer loads.
TEST(LabelerToolStatsReportInChromium, EveryPictureLoadsAndTheTextNamesEveryLabel) {
  ASSERT_TRUE(std::filesystem::exists(kChromium)) << kChromium << " is missing; scripts/install-deps installs it";
  ReportProject project;
  ASSERT_EQ(RunTool("stats --meta " + project.meta + " --report " + project.Report()).status, 0);
  const std::string page = project.Report() + "/index.html";
  Shown shown = OpenInChromium(page);
  EXPECT_EQ(shown.images, 5);
  EXPECT_EQ(shown.loaded, 5);
  EXPECT_NE(shown.text.find("4 frames, 3 labelled (75.0%)"), npos) << shown.text;
  for (const char* row : {"\nroad\t", "\ncar\t", "\na<&>b\t", "\nunlabelled\t"}) {
    EXPECT_NE(shown.text.find(row), npos) << row << " in\n" << shown.text;
  }

  std::filesystem::remove(project.Report() + "/clip-1/frame-000003.png");
  shown = OpenInChromium(page);
  EXPECT_EQ(shown.images, 5);
  EXPECT_EQ(shown.loaded, 4);
}

}  // namespace
}  // namespace labeler
