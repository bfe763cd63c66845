#include "assist/lost_pieces.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace labeler {
namespace {

// A small object is a label that covers at most this share of the frame in all; a piece of it smaller than
// kSmallestPiece pixels has too little look to be matched.
constexpr double kSmallShare = 1.0 / 150;
constexpr int kSmallestPiece = 9;
// How far around its predicted place a piece is looked for: this many times its longer side, at least
// kSmallestReach pixels.
constexpr int kReachInSizes = 3;
constexpr int kSmallestReach = 16;
// The largest root-mean-square difference of grey or colour values, over the piece, of a match that counts; and
// how much better (in squared differences) than at the flow's place it must be, and how far from there, for the
// flow to have lost it.
constexpr double kLargestMismatch = 30.0;
constexpr double kClearlyBetter = 0.5;
constexpr int kFlowSlack = 2;  // pixels
// A piece that looks nearly as much like another place in reach (a lane dash among lane dashes) is not moved:
// its best match must be this much better than any match farther than half its size from it.
constexpr double kUniquelyBetter = 0.6;

struct Piece {
  cv::Vec3b label;
  cv::Rect box;
  cv::Mat mask;  // the box's size, 255 on the piece
  int area = 0;
};

std::vector<cv::Vec3b> LabelsIn(const cv::Mat& labels) {
  std::vector<cv::Vec3b> found;
  cv::Vec3b last(0, 0, 0);
  for (int y = 0; y < labels.rows; ++y) {
    const cv::Vec3b* row = labels.ptr<cv::Vec3b>(y);
    for (int x = 0; x < labels.cols; ++x) {
      if (row[x] == last) continue;
      last = row[x];
      if (last != cv::Vec3b(0, 0, 0) && std::find(found.begin(), found.end(), last) == found.end()) {
        found.push_back(last);
      }
    }
  }
  return found;
}

// The pieces of the small objects' labels, except those the frame's edge cuts: a piece leaving the frame has no
// whole look to match, and where the frame's edge runs the flow is at its least reliable anyway.
std::vector<Piece> SmallObjectPieces(const cv::Mat& labels) {
  const int largest = static_cast<int>(kSmallShare * static_cast<double>(labels.total()));
  const cv::Rect inside(1, 1, labels.cols - 2, labels.rows - 2);
  std::vector<Piece> pieces;
  for (const cv::Vec3b& label : LabelsIn(labels)) {
    cv::Mat ofLabel, components, stats, centroids;
    cv::inRange(labels, label, label, ofLabel);
    if (cv::countNonZero(ofLabel) > largest) continue;
    const int count = cv::connectedComponentsWithStats(ofLabel, components, stats, centroids, 8, CV_32S);
    for (int i = 1; i < count; ++i) {
      const int area = stats.at<int>(i, cv::CC_STAT_AREA);
      const cv::Rect box(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                         stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
      if (area >= kSmallestPiece && (box & inside) == box) pieces.push_back({label, box, components(box) == i, area});
    }
  }
  return pieces;
}

// Where the flow says the piece went: its box moved by the mean flow over it.
cv::Rect PredictedBox(const Piece& piece, const cv::Mat& fromNeighbour) {
  const cv::Scalar moved = cv::mean(fromNeighbour(piece.box), piece.mask);
  return piece.box + cv::Point(cvRound(moved[0]), cvRound(moved[1]));
}

// Whether the least of `mismatch`, `least` at `best`, is less than kUniquelyBetter of every value farther than
// half the piece's size from there.
bool Unique(cv::Mat& mismatch, double least, cv::Point best, cv::Size pieceSize) {
  const cv::Size half(pieceSize.width / 2 + 1, pieceSize.height / 2 + 1);
  const cv::Rect around(best - cv::Point(half.width, half.height), cv::Size(2 * half.width + 1, 2 * half.height + 1));
  double highest = 0;
  cv::minMaxLoc(mismatch, nullptr, &highest);
  mismatch(around & cv::Rect(cv::Point(0, 0), mismatch.size())).setTo(highest);
  double next = 0;
  cv::minMaxLoc(mismatch, &next);
  return next < highest && least < kUniquelyBetter * next;  // no place left to compare with: not unique
}

// The piece moves from where the flow put it, `carriedTo` (its part within the frame, may be empty), to `at`:
// what the flow carried of it there is no evidence any more.
void Move(const Piece& piece, const cv::Rect& carriedTo, cv::Point at, cv::Mat& all, cv::Mat& reliable) {
  if (!carriedTo.empty()) {
    cv::Mat carriedOfLabel;
    cv::inRange(reliable(carriedTo), piece.label, piece.label, carriedOfLabel);
    reliable(carriedTo).setTo(cv::Scalar::all(0), carriedOfLabel);
  }
  const cv::Rect placed(at, piece.box.size());
  all(placed).setTo(piece.label, piece.mask);
  reliable(placed).setTo(piece.label, piece.mask);
}

}  // namespace

int RefindLostPieces(const cv::Mat& look, const cv::Mat& neighbourLook, const cv::Mat& neighbourLabels,
                     const cv::Mat& fromNeighbour, cv::Mat& all, cv::Mat& reliable) {
  CV_Assert(look.type() == neighbourLook.type() && look.depth() == CV_8U);
  const cv::Rect frame(cv::Point(0, 0), look.size());
  const double values = look.channels();
  int found = 0;
  for (const Piece& piece : SmallObjectPieces(neighbourLabels)) {
    const int reach = std::max(kSmallestReach, kReachInSizes * std::max(piece.box.width, piece.box.height));
    const cv::Rect predicted = PredictedBox(piece, fromNeighbour);
    const cv::Rect window =
        cv::Rect(predicted.x - reach, predicted.y - reach, predicted.width + 2 * reach, predicted.height + 2 * reach) &
        frame;
    if (window.width <= piece.box.width || window.height <= piece.box.height) continue;
    cv::Mat mismatch;
    cv::matchTemplate(look(window), neighbourLook(piece.box), mismatch, cv::TM_SQDIFF, piece.mask);
    double least = 0;
    cv::Point best;
    cv::minMaxLoc(mismatch, &least, nullptr, &best);
    if (std::sqrt(std::max(least, 0.0) / (piece.area * values)) > kLargestMismatch) continue;
    const cv::Point flowPlace = predicted.tl() - window.tl();
    const cv::Point away = best - flowPlace;
    if (std::max(std::abs(away.x), std::abs(away.y)) <= kFlowSlack) continue;
    // A piece the flow puts partly beyond the frame has no match there to be clearly better than.
    const cv::Rect valid(cv::Point(0, 0), mismatch.size());
    if (!valid.contains(flowPlace) || least > kClearlyBetter * mismatch.at<float>(flowPlace)) continue;
    if (!Unique(mismatch, least, best, piece.box.size())) continue;
    Move(piece, predicted & frame, window.tl() + best, all, reliable);
    ++found;
  }
  return found;
}

}  // namespace labeler
