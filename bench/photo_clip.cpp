// labeler_photo_clip: writes a clip built from real photographs, with its truth, in the layout labeler-demo
// writes (demo.avi, labels.txt, demo.meta, truth/), for labeler_assist_bench.
//
// Usage: labeler_photo_clip OUTPUT_DIR [--fast]
//
// The street clips of labeler-demo are drawn shapes; this one is made of photographs from OpenCV's sample data
// (Debian package opencv-doc): a building seen by a panning camera, and over it five objects cut from other
// photographs along their own outlines, moving and turning, six labels from the scene (about two thirds of the
// frame) down to a ball of about 170 pixels. With --fast, the camera and the objects move five times as far a
// frame (the ball 15 to 20 pixels) and the sensor is noisier.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* kPhotos = "/usr/share/doc/opencv-doc/examples/data/";
constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrames = 60;

cv::Mat ReadPhoto(const std::string& name) {
  const cv::Mat photo = cv::imread(std::string(kPhotos) + name, cv::IMREAD_COLOR);
  if (photo.empty()) throw std::runtime_error(std::string(kPhotos) + name + ": cannot be read (install opencv-doc)");
  return photo;
}

// A photograph cut along an outline: its pixels and where it is (8-bit, 255 inside).
struct Cutout {
  cv::Mat picture;
  cv::Mat mask;
  cv::Scalar label;  // BGR, as in labels.txt
};

// The middle of `photo` inside an ellipse filling `crop`, scaled to `size`.
Cutout EllipseCut(const cv::Mat& photo, cv::Rect crop, cv::Size size, cv::Scalar label) {
  Cutout cut{cv::Mat(), cv::Mat::zeros(size, CV_8U), label};
  cv::resize(photo(crop), cut.picture, size, 0, 0, cv::INTER_AREA);
  cv::ellipse(cut.mask, cv::Point(size.width / 2, size.height / 2), cv::Size(size.width / 2 - 1, size.height / 2 - 1),
              0, 0, 360, cv::Scalar(255), cv::FILLED);
  return cut;
}

// The largest thing in `photo` that its white paper surrounds, along its own outline, scaled by `scale`: what
// the white reaching in from the border does not cover, holes and all.
Cutout OutlineCut(const cv::Mat& photo, cv::Rect crop, double scale, cv::Scalar label) {
  cv::Mat white;
  cv::inRange(photo(crop), cv::Scalar(235, 235, 235), cv::Scalar(255, 255, 255), white);
  // The white padded by one, and floodFill's own border of one around that.
  cv::Mat outside = cv::Mat::zeros(crop.height + 4, crop.width + 4, CV_8U);
  cv::copyMakeBorder(white, white, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(255));
  cv::floodFill(white, outside, cv::Point(0, 0), cv::Scalar(128), nullptr, cv::Scalar(0), cv::Scalar(0),
                4 | cv::FLOODFILL_MASK_ONLY | (255 << 8));
  cv::Mat inside = outside(cv::Rect(2, 2, crop.width, crop.height)) == 0;
  cv::Mat components, stats, centroids;
  const int count = cv::connectedComponentsWithStats(inside, components, stats, centroids, 8);
  if (count < 2) throw std::runtime_error("nothing to cut out");
  int largest = 1;
  for (int i = 2; i < count; ++i) {
    if (stats.at<int>(i, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA)) largest = i;
  }
  const cv::Rect box(stats.at<int>(largest, cv::CC_STAT_LEFT), stats.at<int>(largest, cv::CC_STAT_TOP),
                     stats.at<int>(largest, cv::CC_STAT_WIDTH), stats.at<int>(largest, cv::CC_STAT_HEIGHT));
  Cutout cut{cv::Mat(), cv::Mat(), label};
  const cv::Size size(std::max(1, cvRound(box.width * scale)), std::max(1, cvRound(box.height * scale)));
  cv::resize(photo(crop)(box), cut.picture, size, 0, 0, cv::INTER_AREA);
  cv::resize(components(box) == largest, cut.mask, size, 0, 0, cv::INTER_AREA);
  return cut;
}

// One object's path: a start, a velocity bounced off the frame's edges, and a turn per frame.
struct Path {
  cv::Point2f start;
  cv::Point2f velocity;
  float degreesPerFrame;
};

// x moving at v from x0, bounced between lo and hi.
float Bounce(float x0, float v, int t, float lo, float hi) {
  const float span = hi - lo;
  float x = std::fmod(x0 - lo + v * static_cast<float>(t), 2 * span);
  if (x < 0) x += 2 * span;
  return lo + (x <= span ? x : 2 * span - x);
}

// Draws `cut` centred where `path` has it at frame t: blended along its edge into the frame, in its label's colour
// where at least half covers the pixel into the truth.
void Place(const Cutout& cut, const Path& path, int t, cv::Mat& frame, cv::Mat& truth) {
  const float margin = 0.5f * static_cast<float>(std::max(cut.picture.cols, cut.picture.rows));
  const cv::Point2f centre(Bounce(path.start.x, path.velocity.x, t, margin * 0.3f, kWidth - margin * 0.3f),
                           Bounce(path.start.y, path.velocity.y, t, margin * 0.3f, kHeight - margin * 0.3f));
  cv::Mat move = cv::getRotationMatrix2D(cv::Point2f(cut.picture.cols / 2.0f, cut.picture.rows / 2.0f),
                                         path.degreesPerFrame * static_cast<float>(t), 1.0);
  move.at<double>(0, 2) += centre.x - cut.picture.cols / 2.0;
  move.at<double>(1, 2) += centre.y - cut.picture.rows / 2.0;
  cv::Mat picture, cover;
  cv::warpAffine(cut.picture, picture, move, frame.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
  cv::warpAffine(cut.mask, cover, move, frame.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
  for (int y = 0; y < frame.rows; ++y) {
    const uchar* alpha = cover.ptr<uchar>(y);
    const cv::Vec3b* in = picture.ptr<cv::Vec3b>(y);
    cv::Vec3b* out = frame.ptr<cv::Vec3b>(y);
    for (int x = 0; x < frame.cols; ++x) {
      if (alpha[x] == 0) continue;
      for (int c = 0; c < 3; ++c) {
        out[x][c] = cv::saturate_cast<uchar>((in[x][c] * alpha[x] + out[x][c] * (255 - alpha[x])) / 255);
      }
    }
  }
  truth.setTo(cut.label, cover >= 128);
}

struct Scene {
  cv::Mat background;  // larger than the frame: the camera pans over it
  std::vector<Cutout> cuts;
  std::vector<Path> paths;
  cv::Point2f pan;  // pixels per frame
  double noise;     // standard deviation of the sensor noise
};

const cv::Scalar kSceneLabel(70, 70, 70), kOrangeLabel(0, 165, 255), kAppleLabel(0, 0, 200), kFaceLabel(200, 0, 0),
    kFishLabel(200, 200, 0), kBallLabel(255, 0, 255);

Scene BuildScene(bool fast) {
  Scene scene;
  cv::resize(ReadPhoto("building.jpg"), scene.background, cv::Size(960, 664), 0, 0, cv::INTER_CUBIC);
  scene.cuts.push_back(EllipseCut(ReadPhoto("orange.jpg"), cv::Rect(96, 40, 360, 400), cv::Size(120, 132),
                                  kOrangeLabel));
  scene.cuts.push_back(EllipseCut(ReadPhoto("apple.jpg"), cv::Rect(110, 60, 300, 380), cv::Size(96, 120),
                                  kAppleLabel));
  scene.cuts.push_back(EllipseCut(ReadPhoto("baboon.jpg"), cv::Rect(60, 40, 392, 460), cv::Size(130, 152),
                                  kFaceLabel));
  const cv::Mat fish = ReadPhoto("HappyFish.jpg");
  scene.cuts.push_back(OutlineCut(fish, cv::Rect(0, 0, fish.cols, fish.rows), 0.6, kFishLabel));
  scene.cuts.push_back(EllipseCut(ReadPhoto("orange.jpg"), cv::Rect(180, 120, 160, 160), cv::Size(16, 16),
                                  kBallLabel));
  const float speed = fast ? 5.0f : 1.0f;
  scene.paths = {{{150, 140}, {2.0f * speed, 0.6f * speed}, 0.4f},
                 {{470, 330}, {-1.6f * speed, -1.0f * speed}, -0.3f},
                 {{330, 250}, {1.0f * speed, -0.5f * speed}, 0.6f},
                 {{520, 120}, {-2.4f * speed, 0.8f * speed}, 0.0f},
                 {{100, 400}, {3.0f * speed, -2.2f * speed}, 0.0f}};
  scene.pan = cv::Point2f(1.0f * speed, 0.4f * speed);
  scene.noise = fast ? 6.0 : 3.0;
  return scene;
}

// Frame t and its truth.
void DrawFrame(const Scene& scene, int t, cv::RNG& noise, cv::Mat& frame, cv::Mat& truth) {
  const int maxX = scene.background.cols - kWidth;
  const int maxY = scene.background.rows - kHeight;
  const int x = cvRound(Bounce(0, scene.pan.x, t, 0, static_cast<float>(maxX)));
  const int y = cvRound(Bounce(0, scene.pan.y, t, 0, static_cast<float>(maxY)));
  frame = scene.background(cv::Rect(x, y, kWidth, kHeight)).clone();
  truth = cv::Mat(frame.size(), CV_8UC3, kSceneLabel);
  for (size_t i = 0; i < scene.cuts.size(); ++i) Place(scene.cuts[i], scene.paths[i], t, frame, truth);
  cv::Mat grain(frame.size(), CV_16SC3);
  noise.fill(grain, cv::RNG::NORMAL, 0, scene.noise);
  cv::Mat noisy;
  frame.convertTo(noisy, CV_16SC3);
  noisy += grain;
  noisy.convertTo(frame, CV_8UC3);
}

void WriteClip(const std::filesystem::path& dir, bool fast) {
  std::filesystem::create_directories(dir / "labels");
  std::filesystem::create_directories(dir / "truth");
  const Scene scene = BuildScene(fast);
  const std::string clip = (dir / "demo.avi").string();
  cv::VideoWriter writer(clip, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                         cv::Size(kWidth, kHeight));
  if (!writer.isOpened()) throw std::runtime_error(clip + ": cannot be written");
  writer.set(cv::VIDEOWRITER_PROP_QUALITY, 95);
  cv::RNG noise(20261208);
  for (int t = 0; t < kFrames; ++t) {
    cv::Mat frame, truth;
    DrawFrame(scene, t, noise, frame, truth);
    writer.write(frame);
    char name[32];
    std::snprintf(name, sizeof name, "frame-%.6d.png", t);
    if (!cv::imwrite((dir / "truth" / name).string(), truth)) throw std::runtime_error("cannot write the truth");
  }
  std::ofstream(dir / "labels.txt") << "= 1 scene 70 70 70\n= 2 orange 255 165 0\n= 3 apple 200 0 0\n"
                                       "= 4 face 0 0 200\n= 5 fish 0 200 200\n= 6 ball 255 0 255\n";
  std::ofstream(dir / "demo.meta") << "FILE_TIMELINE " << clip << "\nFILE_LABEL_NAMES " << (dir / "labels.txt").string()
                                   << "\nDIR_LABEL_IMGS " << (dir / "labels").string()
                                   << "\nFILE_TIMELINE_JUMPBY 10\nMAX_WINDOW_DIM 400\n";
}

}  // namespace

int main(int argc, char** argv) {
  const bool fast = argc == 3 && std::string(argv[2]) == "--fast";
  if (argc != 2 && !fast) {
    std::fprintf(stderr, "usage: labeler_photo_clip OUTPUT_DIR [--fast]\n");
    return 2;
  }
  try {
    WriteClip(argv[1], fast);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "labeler_photo_clip: error: %s\n", error.what());
    return 1;
  }
  return 0;
}
