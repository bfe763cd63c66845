#include "annotation/proposal_folder.h"

#include "annotation/label_file.h"

namespace labeler {
namespace {

MaskReader ReaderFor(const std::string& dir, const LabelSet& labels) {
  if (ClassesCsvIn(dir).empty()) return MaskReader(labels);
  return MaskReader(labels, NumberingOfMaskFolder(dir, labels));
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
    proposal.problem = "changed while it was read (is it still being written?)";
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
