// labeler-demo: writes the demo clip, its meta file and its label names into a folder.
// Usage: labeler-demo OUTPUT_DIR [--truth TRUTH_DIR] [--hard]
//        labeler-demo --help | --version
//
// The clip is a synthetic street scene worth labelling: sky, tree line, grass, a road with moving lane
// markings, two textured vehicles driving in opposite directions and a person walking along the verge. With
// --truth, the true label image of every frame is written too ("TRUTH_DIR/frame-NNNNNN.png", in the colours of
// the demo's label names), drawn from the same scene, so that label propagation can be measured against it.
// With --hard, the same street is filmed the way that makes carrying labels hard: vehicles 8 to 20 pixels a
// frame, the near one growing and tilting as it approaches and crossing an oncoming van and the walker, a
// shaking camera, stronger sensor noise and JPEG blocks. The default clip never changes: tests and the stored
// demo data rely on it byte for byte.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "common/program_options.h"

namespace {

const char* const kUsage =
    "usage: labeler-demo OUTPUT_DIR [--truth TRUTH_DIR] [--hard]\n"
    "       labeler-demo --help | --version\n"
    "\n"
    "Writes a synthetic street clip of 60 frames (OUTPUT_DIR/demo.avi), its label names (labels.txt) and a meta\n"
    "file (demo.meta) to open with \"labeler OUTPUT_DIR/demo.meta\"; label images go to OUTPUT_DIR/labels.\n"
    "  --truth TRUTH_DIR  also writes the true label image of every frame there\n"
    "  --hard             films the street the hard way: fast motion, camera shake, noise and JPEG blocks\n";

// The frame draws the scene with its colours, gradients and textures; the truth draws it flat, each thing in the
// colour of its label.
struct Look {
  bool truth = false;
  cv::Scalar Of(cv::Scalar real, cv::Scalar label) const { return truth ? label : real; }
};
const cv::Scalar kSkyLabel(180, 130, 70), kRoadLabel(128, 64, 128), kCarLabel(142, 0, 0), kTreeLabel(35, 142, 107),
    kPersonLabel(60, 20, 220), kGrassLabel(152, 251, 152), kLaneLabel(255, 255, 255);

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrames = 60;
constexpr int kHorizon = 190;

void DrawBackground(cv::Mat& frame, cv::RNG& rng, const Look& look) {
  for (int y = 0; y < kHorizon; ++y) {  // sky: a vertical gradient
    double t = static_cast<double>(y) / kHorizon;
    frame.row(y).setTo(look.Of(cv::Scalar(235 - 40 * t, 190 - 20 * t, 120 + 60 * t), kSkyLabel));
  }
  frame.rowRange(kHorizon, kHeight).setTo(look.Of(cv::Scalar(60, 150, 80), kGrassLabel));  // grass
  for (int x = -20; x < kWidth + 20; x += 38) {  // tree line: overlapping crowns on trunks
    int crown = 28 + (x * 7919 % 17);
    cv::rectangle(frame, cv::Rect(x - 4, kHorizon - 30, 8, 30), look.Of(cv::Scalar(30, 60, 90), kTreeLabel),
                  cv::FILLED);
    cv::circle(frame, cv::Point(x, kHorizon - 30 - crown / 2), crown,
               look.Of(cv::Scalar(40, 110 + x % 40, 50), kTreeLabel), cv::FILLED);
  }
  std::vector<cv::Point> road = {{270, kHorizon}, {370, kHorizon}, {kWidth, kHeight}, {0, kHeight}};
  if (look.truth) {
    cv::fillConvexPoly(frame, road, kRoadLabel);
    return;
  }
  for (int i = 0; i < 900; ++i) {  // leaves
    int x = rng.uniform(0, kWidth);
    int y = rng.uniform(kHorizon - 110, kHorizon - 25);
    cv::Vec3b& pixel = frame.at<cv::Vec3b>(y, x);
    if (pixel[1] > pixel[0] + 40) pixel = cv::Vec3b(30, static_cast<uchar>(rng.uniform(80, 170)), 40);
  }
  cv::fillConvexPoly(frame, road, cv::Scalar(95, 90, 90));
}

void DrawLaneMarkings(cv::Mat& frame, int t, const Look& look) {
  for (int k = 0; k < 8; ++k) {  // dashes move towards the viewer
    double d = std::fmod(k * 0.125 + t * 0.01, 1.0);
    double near = d * d;
    int y0 = kHorizon + static_cast<int>(near * (kHeight - kHorizon));
    int y1 = y0 + 4 + static_cast<int>(24 * near);
    int halfWidth = 1 + static_cast<int>(5 * near);
    cv::rectangle(frame, cv::Rect(kWidth / 2 - halfWidth, y0, 2 * halfWidth, y1 - y0),
                  look.Of(cv::Scalar(235, 235, 235), kLaneLabel), cv::FILLED);
  }
}

void DrawVehicle(cv::Mat& frame, cv::Point at, cv::Size size, cv::Scalar paint, cv::RNG& rng, const Look& look) {
  cv::Rect body(at.x, at.y, size.width, size.height);
  cv::rectangle(frame, body, look.Of(paint, kCarLabel), cv::FILLED);
  for (int i = 0; i < size.width * size.height / 20; ++i) {  // paint texture
    cv::Point p(at.x + rng.uniform(0, size.width), at.y + rng.uniform(0, size.height));
    const double shade = 0.8 + 0.4 * rng.uniform(0.0, 1.0);
    if (!look.truth) cv::circle(frame, p, 1, paint * shade, cv::FILLED);
  }
  cv::Rect cabin(at.x + size.width / 5, at.y - size.height / 2, size.width * 3 / 5, size.height / 2);
  cv::rectangle(frame, cabin, look.Of(paint * 0.85, kCarLabel), cv::FILLED);
  const cv::Scalar glass = look.Of(cv::Scalar(120, 90, 60), kCarLabel);
  cv::rectangle(frame, cv::Rect(cabin.x + 4, cabin.y + 4, cabin.width / 2 - 6, cabin.height - 6), glass, cv::FILLED);
  cv::rectangle(frame, cv::Rect(cabin.x + cabin.width / 2 + 2, cabin.y + 4, cabin.width / 2 - 6, cabin.height - 6),
                glass, cv::FILLED);
  int wheel = size.height / 3;
  const cv::Scalar tyre = look.Of(cv::Scalar(20, 20, 20), kCarLabel);
  cv::circle(frame, cv::Point(at.x + wheel + 4, at.y + size.height), wheel, tyre, cv::FILLED);
  cv::circle(frame, cv::Point(at.x + size.width - wheel - 4, at.y + size.height), wheel, tyre, cv::FILLED);
}

void DrawPerson(cv::Mat& frame, cv::Point feet, int t, const Look& look) {
  int swing = static_cast<int>(8 * std::sin(t * 0.6));
  const cv::Scalar skin = look.Of(cv::Scalar(140, 170, 220), kPersonLabel);
  const cv::Scalar shirt = look.Of(cv::Scalar(40, 40, 170), kPersonLabel);
  const cv::Scalar trousers = look.Of(cv::Scalar(90, 50, 30), kPersonLabel);
  cv::line(frame, feet + cv::Point(-swing, 0), feet + cv::Point(0, -38), trousers, 6);
  cv::line(frame, feet + cv::Point(swing, 0), feet + cv::Point(0, -38), trousers, 6);
  cv::rectangle(frame, cv::Rect(feet.x - 9, feet.y - 78, 18, 42), shirt, cv::FILLED);
  cv::line(frame, feet + cv::Point(-8, -74), feet + cv::Point(-12 + swing, -44), shirt, 5);
  cv::line(frame, feet + cv::Point(8, -74), feet + cv::Point(12 - swing, -44), shirt, 5);
  cv::circle(frame, feet + cv::Point(0, -88), 10, skin, cv::FILLED);
}

void AddSensorNoise(cv::Mat& frame, cv::RNG& rng, double sigma) {
  cv::Mat noise(frame.size(), CV_16SC3);
  rng.fill(noise, cv::RNG::NORMAL, 0, sigma);
  cv::Mat widened;
  frame.convertTo(widened, CV_16SC3);
  widened += noise;
  widened.convertTo(frame, CV_8UC3);
}

// Frame t of the scene, as seen or as labelled.
cv::Mat DrawScene(int t, const Look& look, cv::RNG& noise) {
  cv::RNG texture(7);  // the same leaves and paint texture in every frame
  cv::Mat frame(kHeight, kWidth, CV_8UC3);
  DrawBackground(frame, texture, look);
  DrawLaneMarkings(frame, t, look);
  DrawVehicle(frame, cv::Point(60 + t * 6, 330), cv::Size(150, 54), cv::Scalar(40, 40, 190), texture, look);
  DrawVehicle(frame, cv::Point(350 - t * 2, 245), cv::Size(90, 32), cv::Scalar(170, 120, 30), texture, look);
  DrawPerson(frame, cv::Point(40 + t * 2, 455), t, look);
  if (!look.truth) AddSensorNoise(frame, noise, 4);
  return frame;
}

// A vehicle drawn upright on a canvas of its own, then scaled by `scale` and turned by `degrees` about its middle,
// which lands on `centre`. The canvas's vehicle pixels, found from its flat drawing, are all that is copied, so
// the frame and the truth cover exactly the same pixels.
void DrawTurnedVehicle(cv::Mat& frame, cv::Point2f centre, double scale, double degrees, cv::Size size,
                       cv::Scalar paint, cv::RNG& rng, const Look& look) {
  const int margin = size.height;
  const cv::Size canvasSize(size.width + 2 * margin, 2 * size.height + 2 * margin);
  const cv::Point at(margin, margin + size.height / 2);  // room for the cabin above and the wheels below
  cv::Mat canvas = cv::Mat::zeros(canvasSize, CV_8UC3);
  cv::Mat flat = cv::Mat::zeros(canvasSize, CV_8UC3);
  cv::RNG sameTexture = rng;  // the flat drawing must not move the texture of what is drawn after it
  DrawVehicle(canvas, at, size, paint, rng, look);
  DrawVehicle(flat, at, size, paint, sameTexture, Look{true});
  cv::Mat body;
  cv::cvtColor(flat, body, cv::COLOR_BGR2GRAY);
  const cv::Point2f middle(canvasSize.width / 2.0f, canvasSize.height / 2.0f);
  cv::Mat move = cv::getRotationMatrix2D(middle, degrees, scale);
  move.at<double>(0, 2) += centre.x - middle.x;
  move.at<double>(1, 2) += centre.y - middle.y;
  cv::Mat turned, turnedBody;
  cv::warpAffine(canvas, turned, move, frame.size(), look.truth ? cv::INTER_NEAREST : cv::INTER_LINEAR);
  cv::warpAffine(body, turnedBody, move, frame.size(), cv::INTER_NEAREST);
  turned.copyTo(frame, turnedBody);
}

// A hand-held camera: every frame is shifted and turned a little. The shake of frame t comes from a seed of its
// own, so that the frame and its truth are moved alike and the truth stays exact.
cv::Mat ShakeCamera(const cv::Mat& frame, int t, const Look& look) {
  cv::RNG shake(9000 + t);
  const double degrees = shake.uniform(-1.5, 1.5);
  const double dx = shake.uniform(-6.0, 6.0);
  const double dy = shake.uniform(-6.0, 6.0);
  cv::Mat move = cv::getRotationMatrix2D(cv::Point2f(kWidth / 2.0f, kHeight / 2.0f), degrees, 1.0);
  move.at<double>(0, 2) += dx;
  move.at<double>(1, 2) += dy;
  cv::Mat shaken;
  cv::warpAffine(frame, shaken, move, frame.size(), look.truth ? cv::INTER_NEAREST : cv::INTER_LINEAR,
                 cv::BORDER_REPLICATE);
  return shaken;
}

// The blocks and ringing of a cheap camera's compression, which the truth never has.
cv::Mat CompressLikeACheapCamera(const cv::Mat& frame) {
  std::vector<uchar> jpeg;
  cv::imencode(".jpg", frame, jpeg, {cv::IMWRITE_JPEG_QUALITY, 60});
  return cv::imdecode(jpeg, cv::IMREAD_COLOR);
}

// The near car of the hard scene: one pass across the frame every 48 frames, growing and rocking as it comes
// nearer, over the walker and across the path of the oncoming van.
void DrawApproachingCar(cv::Mat& frame, int t, cv::RNG& texture, const Look& look) {
  const int pass = t % 48;
  const double scale = 0.8 + 0.02 * pass;
  const cv::Point2f centre(-40.0f + 14.0f * pass, 345.0f + 1.5f * pass);
  const double degrees = 6.0 * std::sin(0.35 * t);
  DrawTurnedVehicle(frame, centre, scale, degrees, cv::Size(150, 54), cv::Scalar(40, 40, 190), texture, look);
}

// Frame t of the hard scene, as seen or as labelled: the same street, filmed badly.
cv::Mat DrawHardScene(int t, const Look& look, cv::RNG& noise) {
  cv::RNG texture(7);
  cv::Mat frame(kHeight, kWidth, CV_8UC3);
  DrawBackground(frame, texture, look);
  DrawLaneMarkings(frame, 3 * t, look);
  DrawVehicle(frame, cv::Point(560 - t * 8, 245), cv::Size(90, 32), cv::Scalar(170, 120, 30), texture, look);
  const int vanPass = (t + 17) % 48;  // in step with the near car, so that they cross in every pass
  DrawVehicle(frame, cv::Point(kWidth + 100 - 20 * vanPass, 300), cv::Size(120, 44), cv::Scalar(60, 150, 150),
              texture, look);
  DrawPerson(frame, cv::Point(120 + t * 2, 430), t, look);
  DrawApproachingCar(frame, t, texture, look);
  frame = ShakeCamera(frame, t, look);
  if (look.truth) return frame;
  AddSensorNoise(frame, noise, 10);
  return CompressLikeACheapCamera(frame);
}

using SceneDrawer = cv::Mat (*)(int t, const Look& look, cv::RNG& noise);

bool WriteClip(const std::string& path, const std::string& truthDir, SceneDrawer drawScene) {
  cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                         cv::Size(kWidth, kHeight));
  if (!writer.isOpened()) return false;
  writer.set(cv::VIDEOWRITER_PROP_QUALITY, 95);  // few compression blocks for the segmentations to follow
  cv::RNG noise(20261207);
  for (int t = 0; t < kFrames; ++t) {
    writer.write(drawScene(t, Look{false}, noise));
    if (truthDir.empty()) continue;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%.6d.png", t);
    if (!cv::imwrite(truthDir + name, drawScene(t, Look{true}, noise))) return false;
  }
  return true;
}

struct Options {
  std::filesystem::path dir;
  std::string truthDir;  // empty: no truth
  bool hard = false;
};

// The options after OUTPUT_DIR come in any order. False for anything else.
bool ParseOptions(int argc, char** argv, Options& options) {
  if (argc < 2) return false;
  options.dir = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--hard") {
      options.hard = true;
    } else if (option == "--truth" && i + 1 < argc) {
      options.truthDir = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (labeler::AnswerHelpOrVersion(argc, argv, "labeler-demo", kUsage)) return 0;
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: labeler-demo OUTPUT_DIR [--truth TRUTH_DIR] [--hard]\n");
    return 2;
  }
  const std::filesystem::path& dir = options.dir;
  std::filesystem::create_directories(dir / "labels");
  if (!options.truthDir.empty()) std::filesystem::create_directories(options.truthDir);
  const std::string clip = (dir / "demo.avi").string();
  if (!WriteClip(clip, options.truthDir, options.hard ? DrawHardScene : DrawScene)) {
    std::fprintf(stderr, "labeler-demo: error: cannot write %s\n", clip.c_str());
    return 1;
  }
  std::ofstream labels(dir / "labels.txt");
  labels << "// Demo label names. '= <hot key> <name> <red> <green> <blue>', or '<name> <red> <green> <blue>'.\n"
            "= 1 sky 70 130 180\n"
            "= 2 road 128 64 128\n"
            "= 3 car 0 0 142\n"
            "= 4 tree 107 142 35\n"
            "= 5 person 220 20 60\n"
            "= 6 grass 152 251 152\n"
            "lane_marking 255 255 255\n";
  std::ofstream meta(dir / "demo.meta");
  meta << "# Demo meta file: the clip, the label names and where label images go.\n"
          "LABELER_VERSION 1\n"
          "FILE_TIMELINE " << clip << "\n"
          "FILE_LABEL_NAMES " << (dir / "labels.txt").string() << "\n"
          "DIR_LABEL_IMGS " << (dir / "labels").string() << "\n"
          "FILE_TIMELINE_JUMPBY 10\n"
          "MAX_WINDOW_DIM 400\n";
  std::printf("Wrote %s, %s and %s\n", clip.c_str(), (dir / "labels.txt").c_str(), (dir / "demo.meta").c_str());
  return labels && meta ? 0 : 1;
}
