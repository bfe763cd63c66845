// The small pictures of the stats report: a label image (or a conflict file) laid half-transparent over the
// frame it belongs to, so that what is left unlabelled shows as the bare frame; scaled to at most 240 pixels
// wide and high and written as PNG files beside the page.
#ifndef LABELER_TOOLS_REPORT_PICTURES_H_
#define LABELER_TOOLS_REPORT_PICTURES_H_

#include <string>
#include <vector>

#include "tools/run_report.h"

namespace labeler::tool {

struct ReportPicture {
  int frame;
  std::string labelImage;  // the label image or conflict file to draw
  std::string file;        // the PNG to write, relative to the report's folder
  std::string caption;     // the page's text under the picture
  bool drawn = false;      // set by DrawReportPictures once the PNG is written
};

// Draws the pictures of one clip into `dir`, reading their frames, in ascending order whatever the order of
// `pictures`, from the clip's timeline. A frame that can't be read, or is not of its label image's size, leaves
// the label image drawn alone; a label image that can't be read, or a PNG that can't be written, leaves its
// picture undrawn. Returns one failure for each.
std::vector<Failure> DrawReportPictures(const std::string& timelinePath, const std::string& dir,
                                        std::vector<ReportPicture>& pictures);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_REPORT_PICTURES_H_
