#include "assist/carried_evidence.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "assist/lost_pieces.h"

namespace labeler {
namespace {

constexpr float kLargestRoundTrip = 1.0f;  // pixels
constexpr int kBoundaryBand = 2;           // pixels on each side of a carried boundary
// Larger frames are carried with the flow of a copy scaled down to this many pixels (a quarter of 1920 x 1080):
// the evidence is thinned along boundaries anyway, and the flow would otherwise take most of the time of
// entering an HD frame.
constexpr double kLargestFlowArea = 960.0 * 540.0;

// Black where following `toSource` and then `fromSource` ends more than kLargestRoundTrip from the start.
void DropInconsistentFlow(cv::Mat& carried, const cv::Mat& toSource, const cv::Mat& fromSource) {
  for (int y = 0; y < carried.rows; ++y) {
    const cv::Vec2f* there = toSource.ptr<cv::Vec2f>(y);
    cv::Vec3b* labels = carried.ptr<cv::Vec3b>(y);
    for (int x = 0; x < carried.cols; ++x) {
      const int sx = static_cast<int>(std::lround(x + there[x][0]));
      const int sy = static_cast<int>(std::lround(y + there[x][1]));
      bool consistent = sx >= 0 && sy >= 0 && sx < carried.cols && sy < carried.rows;
      if (consistent) {
        const cv::Vec2f back = fromSource.ptr<cv::Vec2f>(sy)[sx];
        const float missX = there[x][0] + back[0];
        const float missY = there[x][1] + back[1];
        consistent = missX * missX + missY * missY <= kLargestRoundTrip * kLargestRoundTrip;
      }
      if (!consistent) labels[x] = cv::Vec3b(0, 0, 0);
    }
  }
}

// Black within kBoundaryBand pixels of a change of colour in `carried`.
cv::Mat WithoutBoundaryBand(const cv::Mat& carried) {
  const cv::Mat square = cv::getStructuringElement(cv::MORPH_RECT, {2 * kBoundaryBand + 1, 2 * kBoundaryBand + 1});
  cv::Mat highest, lowest;
  cv::dilate(carried, highest, square);
  cv::erode(carried, lowest, square);
  cv::Mat uniform;
  cv::compare(highest.reshape(1), lowest.reshape(1), uniform, cv::CMP_EQ);
  uniform = uniform.reshape(3);
  cv::Mat kept = cv::Mat::zeros(carried.size(), carried.type());
  for (int y = 0; y < carried.rows; ++y) {
    const cv::Vec3b* same = uniform.ptr<cv::Vec3b>(y);
    const cv::Vec3b* in = carried.ptr<cv::Vec3b>(y);
    cv::Vec3b* out = kept.ptr<cv::Vec3b>(y);
    for (int x = 0; x < carried.cols; ++x) {
      if (same[x][0] != 0 && same[x][1] != 0 && same[x][2] != 0) out[x] = in[x];
    }
  }
  return kept;
}

// Where `into` is black it takes `from`; where both hold different labels, `disagreement` is marked.
void Merge(cv::Mat& into, const cv::Mat& from, cv::Mat* disagreement) {
  const cv::Vec3b black(0, 0, 0);
  for (int y = 0; y < into.rows; ++y) {
    cv::Vec3b* out = into.ptr<cv::Vec3b>(y);
    const cv::Vec3b* in = from.ptr<cv::Vec3b>(y);
    for (int x = 0; x < into.cols; ++x) {
      if (out[x] == black) {
        out[x] = in[x];
      } else if (disagreement != nullptr && in[x] != black && in[x] != out[x]) {
        disagreement->ptr<uchar>(y)[x] = 255;
      }
    }
  }
}

}  // namespace

CarriedLabels CarryFromNeighbours(const cv::Mat& grey, const std::vector<LabelledNeighbour>& neighbours,
                                  LabelCarrier& carrier, const cv::Mat& picture) {
  CarriedLabels result{cv::Mat::zeros(grey.size(), CV_8UC3), cv::Mat::zeros(grey.size(), CV_8UC3)};
  cv::Mat disagreement = cv::Mat::zeros(grey.size(), CV_8U);
  for (const LabelledNeighbour& neighbour : neighbours) {
    const cv::Mat toSource = carrier.Flow(grey, neighbour.grey, kLargestFlowArea);
    const cv::Mat fromSource = carrier.Flow(neighbour.grey, grey, kLargestFlowArea);
    cv::Mat carried = CarryLabels(neighbour.labels, toSource);
    cv::Mat reliable = carried.clone();
    DropInconsistentFlow(reliable, toSource, fromSource);
    const bool inColour = !picture.empty() && !neighbour.picture.empty();
    RefindLostPieces(inColour ? picture : grey, inColour ? neighbour.picture : neighbour.grey, neighbour.labels,
                     fromSource, carried, reliable);
    Merge(result.all, carried, nullptr);
    Merge(result.reliable, WithoutBoundaryBand(reliable), &disagreement);
  }
  result.reliable.setTo(cv::Scalar::all(0), disagreement);
  return result;
}

void AddProposedLabels(CarriedLabels& carried, const cv::Mat& proposal) {
  if (carried.all.empty()) {
    carried.all = cv::Mat::zeros(proposal.size(), CV_8UC3);
    carried.reliable = cv::Mat::zeros(proposal.size(), CV_8UC3);
  }
  cv::Mat disagreement = cv::Mat::zeros(proposal.size(), CV_8U);
  Merge(carried.all, proposal, nullptr);
  Merge(carried.reliable, WithoutBoundaryBand(proposal), &disagreement);
  carried.reliable.setTo(cv::Scalar::all(0), disagreement);
}

}  // namespace labeler
