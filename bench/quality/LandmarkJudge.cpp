// An independent judge of the automatic front points: dlib's 68-point face-landmark model (trained
// on the iBUG 300-W faces, nothing of this program) placed on the same photos. Per photo and point
// group, the normalised mean error (NME): the median over the group's points of the distance
// between the recognizer's point and the judge's, in % of the judge's outer-eye-corner distance.
// On the quality benchmark's known heads the same groups against the truth, and the judge itself
// against the truth (how far the judge can be trusted on rendered heads).
//
//   vultari_landmark_judge [quality folder] [deps folder]
// The quality folder is vultari_quality_bench's (its heads' front.png and truth-left.json); without
// it only the real photos are judged. With it, judged-<photo>.png and <head>/judged.png show both
// point sets (ours green, the judge's red). Only this benchmark links dlib; the program never does.
#include "testing/KnownHeads.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"
#include "testing/DriverSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace {

const char* const kModel = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

// Our 27 front points against the 68 iBUG points (0-based). Left and right are the image's: our
// "left eye" is the eye on the image's left, iBUG 36-41. A point the 68 do not hold is the mean
// of the ones around it. The nose wings are the 68's alar points (31, 35): they lie at the nostrils'
// base, a little below the widest wing that our wing points mark at the tip's height.
struct Mapped {
    int ours;
    std::vector<int> theirs;
};
const std::vector<Mapped> kMap = {
    {FrontPoint::LeftEyeCenter, {36, 37, 38, 39, 40, 41}},
    {FrontPoint::LeftEyeLeft, {36}},
    {FrontPoint::LeftEyeRight, {39}},
    {FrontPoint::LeftEyeTop, {37, 38}},
    {FrontPoint::LeftEyeBottom, {40, 41}},
    {FrontPoint::RightEyeCenter, {42, 43, 44, 45, 46, 47}},
    {FrontPoint::RightEyeLeft, {42}},
    {FrontPoint::RightEyeRight, {45}},
    {FrontPoint::RightEyeTop, {43, 44}},
    {FrontPoint::RightEyeBottom, {46, 47}},
    {FrontPoint::MouthCenter, {62, 66}},  // the middle of the line between the lips
    {FrontPoint::MouthLeft, {48}},
    {FrontPoint::MouthRight, {54}},
    {FrontPoint::MouthTop, {51}},     // the upper lip's top edge
    {FrontPoint::MouthBottom, {57}},  // the lower lip's bottom edge
    {FrontPoint::NoseTip, {30}},
    {FrontPoint::NoseLeft, {31}},
    {FrontPoint::NoseRight, {35}},
    {FrontPoint::NoseTop, {27}},     // the root, between the eyes
    {FrontPoint::NoseBottom, {33}},  // the base under the tip
    {FrontPoint::BottomHead, {8}},   // the chin
};

struct Group {
    const char* name;
    std::vector<int> points;
};
const std::vector<Group> kGroups = {
    {"eye centres", {FrontPoint::LeftEyeCenter, FrontPoint::RightEyeCenter}},
    {"eye corners", {FrontPoint::LeftEyeLeft, FrontPoint::LeftEyeRight, FrontPoint::RightEyeLeft, FrontPoint::RightEyeRight}},
    {"eye lids", {FrontPoint::LeftEyeTop, FrontPoint::LeftEyeBottom, FrontPoint::RightEyeTop, FrontPoint::RightEyeBottom}},
    {"mouth (centre, corners, lips)",
     {FrontPoint::MouthCenter, FrontPoint::MouthLeft, FrontPoint::MouthRight, FrontPoint::MouthTop, FrontPoint::MouthBottom}},
    {"nose (tip, wings, root, base)",
     {FrontPoint::NoseTip, FrontPoint::NoseLeft, FrontPoint::NoseRight, FrontPoint::NoseTop, FrontPoint::NoseBottom}},
    {"chin (Bottom head boreder)", {FrontPoint::BottomHead}},
};

using Points = std::map<int, cv::Point2d>;  // front point index -> pixel

double Median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The judge's points on a photo, mapped to ours; `unit` the outer-eye-corner distance. Empty when
// it finds no face (the largest face counts when it finds several).
Points Judge(dlib::frontal_face_detector& detector, dlib::shape_predictor& predictor, const cv::Mat& photo, double& unit)
{
    dlib::array2d<dlib::rgb_pixel> image(photo.rows, photo.cols);
    for (int y = 0; y < photo.rows; ++y)
        for (int x = 0; x < photo.cols; ++x) {
            const cv::Vec3b c = photo.at<cv::Vec3b>(y, x);
            image[y][x] = dlib::rgb_pixel(c[2], c[1], c[0]);
        }
    std::vector<dlib::rectangle> faces = detector(image);
    if (faces.empty())
        faces = detector(image, 1);  // small faces: once more on the photo doubled
    if (faces.empty())
        return {};
    const dlib::rectangle face = *std::max_element(faces.begin(), faces.end(), [](const auto& a, const auto& b) { return a.area() < b.area(); });
    const dlib::full_object_detection shape = predictor(image, face);
    if (shape.num_parts() != 68)
        return {};
    auto at = [&](int i) { return cv::Point2d(double(shape.part(unsigned(i)).x()), double(shape.part(unsigned(i)).y())); };
    unit = cv::norm(at(36) - at(45));
    Points out;
    for (const Mapped& m : kMap) {
        cv::Point2d sum;
        for (int i : m.theirs)
            sum += at(i);
        out[m.ours] = sum * (1.0 / double(m.theirs.size()));
    }
    return out;
}

Points FromAttributes(const THeadAttributes& a)
{
    Points out;
    for (int i = 0; i < FrontPoint::Count; ++i)
        out[i] = cv::Point2d(a.front[i]->x, a.front[i]->y);
    return out;
}

// NME of each group, % of `unit`; -1 where a side lacks the points.
std::vector<double> GroupErrors(const Points& a, const Points& b, double unit)
{
    std::vector<double> out;
    for (const Group& g : kGroups) {
        std::vector<double> d;
        for (int i : g.points)
            if (a.count(i) && b.count(i))
                d.push_back(100.0 * cv::norm(a.at(i) - b.at(i)) / unit);
        out.push_back(unit > 0 ? Median(d) : -1);
    }
    return out;
}

// The photo with the recognizer's points (green) joined to the judge's (red), for looking at.
void WriteJudged(const fs::path& path, const cv::Mat& photo, const Points& ours, const Points& judged)
{
    cv::Mat shown = photo.clone();
    for (const auto& [i, p] : judged) {
        if (ours.count(i))
            cv::line(shown, ours.at(i), p, cv::Scalar(0, 255, 255), 1, cv::LINE_AA);
        cv::circle(shown, p, 2, cv::Scalar(0, 0, 255), cv::FILLED, cv::LINE_AA);
    }
    for (const auto& [i, p] : ours)
        cv::circle(shown, p, 2, cv::Scalar(0, 255, 0), cv::FILLED, cv::LINE_AA);
    if (!cv::imwrite(path.string(), shown))
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

struct Row {
    std::string photo;
    std::vector<double> errors;  // per group
    Points offsets;              // per point: ours minus the reference, % of the unit
};

// Where each point lies from its reference (x right, y down), % of `unit`: the direction a group's
// error has, which its NME does not tell.
Points Offsets(const Points& a, const Points& b, double unit)
{
    Points out;
    if (unit > 0)
        for (const auto& [i, p] : a)
            if (b.count(i))
                out[i] = (p - b.at(i)) * (100.0 / unit);
    return out;
}

void PrintTable(const char* title, const std::vector<Row>& rows)
{
    std::printf("\n%s: NME, %% of the outer-eye-corner distance (median of the group's points)\n", title);
    std::printf("%-31s", "group");
    for (const Row& r : rows)
        std::printf(" %13.13s", r.photo.c_str());
    std::printf(" %8s %15s\n", "median", "range");
    for (size_t g = 0; g < kGroups.size(); ++g) {
        std::printf("%-31s", kGroups[g].name);
        std::vector<double> values;
        for (const Row& r : rows) {
            const double v = r.errors.empty() ? -1 : r.errors[g];
            if (v < 0)
                std::printf(" %13s", "--");
            else {
                std::printf(" %13.1f", v);
                values.push_back(v);
            }
        }
        if (values.empty())
            std::printf(" %8s %15s\n", "--", "--");
        else
            std::printf(" %8.1f %6.1f - %6.1f\n", Median(values), *std::min_element(values.begin(), values.end()),
                        *std::max_element(values.begin(), values.end()));
    }
}

// The median offset of the eye centres, nose and mouth points over the rows, as "dx, dy".
void PrintOffsets(const char* title, const std::vector<Row>& rows)
{
    static const std::vector<std::pair<int, const char*>> points = {
        {FrontPoint::LeftEyeCenter, "left eye centre"}, {FrontPoint::RightEyeCenter, "right eye centre"},
        {FrontPoint::NoseTip, "nose tip"},              {FrontPoint::NoseLeft, "nose left wing"},
        {FrontPoint::NoseRight, "nose right wing"},     {FrontPoint::NoseTop, "nose root"},
        {FrontPoint::NoseBottom, "nose base"},          {FrontPoint::MouthCenter, "mouth centre"},
        {FrontPoint::MouthLeft, "mouth left corner"},   {FrontPoint::MouthRight, "mouth right corner"},
        {FrontPoint::MouthTop, "upper lip top"},        {FrontPoint::MouthBottom, "lower lip bottom"}};
    std::printf("\n%s: median offset (x right, y down), %% of the outer-eye-corner distance\n", title);
    for (const auto& [i, name] : points) {
        std::vector<double> dx, dy;
        for (const Row& r : rows)
            if (r.offsets.count(i)) {
                dx.push_back(r.offsets.at(i).x);
                dy.push_back(r.offsets.at(i).y);
            }
        if (dx.empty())
            std::printf("%-31s %15s\n", name, "--");
        else
            std::printf("%-31s %6.1f, %6.1f\n", name, Median(dx), Median(dy));
    }
}

// The recognizer's automatic front points on a photo, in the photo's stored pixels.
bool Recognize(TRecognizer& recognizer, const std::string& path, THeadAttributes& points)
{
    if (!recognizer.LoadFrontImage(path))
        return false;
    return recognizer.RecognizeFront(&points);
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path quality = argc > 1 ? fs::path(argv[1]) : fs::path();
    const std::string deps = argc > 2 ? argv[2] : VULTARI_DEPS_DIR;
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    dlib::shape_predictor predictor;
    try {
        dlib::deserialize(kModel) >> predictor;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "landmark judge: cannot read %s (libdlib-data, scripts/setup): %s\n", kModel, e.what());
        return 1;
    }
    TRecognizer recognizer;

    // Every real frontal photo the project has.
    const std::vector<std::pair<std::string, std::string>> photos = {
        {"astronaut", deps + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png"},
        {"grace hopper", deps + "/facedetect/usr/share/doc/facedetect/examples/grace_hopper_512x512.jpg"},
        {"mona", deps + "/node-opencv/usr/share/doc/node-opencv/examples/files/mona.png"},
    };
    std::vector<Row> real;
    for (const auto& [name, path] : photos) {
        THeadAttributes points;
        Row row{name, {}};
        if (!Recognize(recognizer, path, points)) {
            std::printf("%s: the recognizer placed no points (%s)\n", name.c_str(), path.c_str());
        } else {
            double unit = 0;
            const Points judged = Judge(detector, predictor, recognizer.frontImage, unit);
            if (judged.empty()) {
                std::printf("%s: the judge finds no face\n", name.c_str());
            } else {
                row.errors = GroupErrors(FromAttributes(points), judged, unit);
                row.offsets = Offsets(FromAttributes(points), judged, unit);
            }
            if (!quality.empty() && fs::is_directory(quality))
                WriteJudged(quality / ("judged-" + name + ".png"), recognizer.frontImage, FromAttributes(points), judged);
        }
        real.push_back(row);
    }
    PrintTable("real photos, automatic points against the judge", real);
    PrintOffsets("real photos, automatic points against the judge", real);

    if (quality.empty() || !fs::is_directory(quality))
        return 0;
    // The known heads in the quality benchmark's order; VULTARI_BENCH_SHORT: its first two, as it draws.
    std::vector<fs::path> heads;
    const char* flag = std::getenv("VULTARI_BENCH_SHORT");
    const size_t most = flag && *flag && std::string(flag) != "0" ? 2 : KnownHeads().size();
    for (const KnownHead& h : KnownHeads())
        if (heads.size() < most && fs::exists(quality / h.name / "front.png") && fs::exists(quality / h.name / "truth-left.json"))
            heads.push_back(quality / h.name);
    std::vector<Row> againstJudge, againstTruth, judgeAgainstTruth;
    for (const fs::path& head : heads) {
        const std::string name = head.filename().string();
        THeadAttributes points, truth;
        const cv::Mat loaded = cv::imread((head / "front.png").string());
        Row byJudge{name, {}}, byTruth{name, {}}, judgeTruth{name, {}};
        if (Recognize(recognizer, (head / "front.png").string(), points) &&
            ApplyPointsJson(ReadWholeFile((head / "truth-left.json").string()), truth, recognizer.frontImage.size(),
                            loaded.size(), loaded.size(), loaded.size())) {
            const Points ours = FromAttributes(points), trueAt = FromAttributes(truth);
            // The truth's own outer-eye-corner distance measures against the truth.
            const double truthUnit = cv::norm(trueAt.at(FrontPoint::LeftEyeLeft) - trueAt.at(FrontPoint::RightEyeRight));
            byTruth.errors = GroupErrors(ours, trueAt, truthUnit);
            byTruth.offsets = Offsets(ours, trueAt, truthUnit);
            double unit = 0;
            const Points judged = Judge(detector, predictor, recognizer.frontImage, unit);
            if (!judged.empty()) {
                byJudge.errors = GroupErrors(ours, judged, unit);
                byJudge.offsets = Offsets(ours, judged, unit);
                judgeTruth.errors = GroupErrors(judged, trueAt, truthUnit);
                judgeTruth.offsets = Offsets(judged, trueAt, truthUnit);
            } else {
                std::printf("%s: the judge finds no face\n", name.c_str());
            }
            WriteJudged(head / "judged.png", recognizer.frontImage, ours, judged);
        }
        againstJudge.push_back(byJudge);
        againstTruth.push_back(byTruth);
        judgeAgainstTruth.push_back(judgeTruth);
    }
    PrintTable("known heads, automatic points against the judge", againstJudge);
    PrintTable("known heads, automatic points against the truth", againstTruth);
    PrintTable("known heads, the judge against the truth", judgeAgainstTruth);
    PrintOffsets("known heads, automatic points against the judge", againstJudge);
    PrintOffsets("known heads, automatic points against the truth", againstTruth);
    PrintOffsets("known heads, the judge against the truth", judgeAgainstTruth);
    return 0;
}
