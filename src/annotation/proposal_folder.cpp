#include "annotation/proposal_folder.h"

#include <filesystem>

#include "annotation/label_file.h"

namespace labeler {
namespace {

MaskReader ReaderFor(const std::string& dir, const LabelSet& labels) {
  const std::string classes = (std::filesystem::path(dir) / "classes.csv").string();
  std::error_code error;
  if (!std::filesystem::exists(classes, error)) return MaskReader(labels);
  return MaskReader(labels, NumberingOfClassesCsv(classes, labels));
}

}  // namespace

ProposalFolder::ProposalFolder(std::string dir, const LabelSet& labels)
    : dir_(std::move(dir)), reader_(ReaderFor(dir_, labels)) {}

// A mask that changes while it is read (a model still writing it) gives no proposal yet, and a stamp no file has,
// so that it is read again next time.
Proposal ProposalFolder::Read(int frame, cv::Size frameSize) const {
  Proposal proposal;
  const std::string path = LabelImagePath(dir_, frame);
  proposal.stamp = StampOf(path);
  if (!proposal.stamp.exists) return proposal;
  MaskRead read = reader_.Read(path, frame, frameSize);
  if (!(StampOf(path) == proposal.stamp)) {
    proposal.stamp = FileStamp{true};
    return proposal;
  }
  proposal.labels = std::move(read.labels);
  proposal.unknown = read.unknown;
  proposal.problem = std::move(read.problem);
  return proposal;
}

bool ProposalFolder::StillTheSame(const Proposal& used, int frame) const {
  return used.stamp == StampOf(LabelImagePath(dir_, frame));
}

}  // namespace labeler
