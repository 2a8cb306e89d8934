#include "bench/quality/Likeness.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <opencv2/imgproc.hpp>

#include "core/Texturecreator.h"
#include "recognition/Headattributes.h"
#include "testing/DriverSupport.h"

namespace {

constexpr double kPerUnit = kPhotoHeight / 12.0;  // the photo cameras: 6 units above and below the centre

cv::Vec3d Corner(const std::vector<float>& c, int i)
{
    const size_t k = static_cast<size_t>(i) * 3;
    return i >= 0 && k + 2 < c.size() ? cv::Vec3d(c[k], c[k + 1], c[k + 2]) : cv::Vec3d();
}

cv::Vec3d Centre(const std::vector<float>& c)
{
    cv::Vec3d sum;
    for (size_t i = 0; i + 2 < c.size(); i += 3)
        sum += cv::Vec3d(c[i], c[i + 1], c[i + 2]);
    return c.empty() ? sum : sum * (3.0 / double(c.size()));
}

cv::Vec3d V(Vec3 p) { return {p.x, p.y, p.z}; }

// Pixel (sub-pixel) of a model point in a photo camera: front (x, -z), profile (y, -z).
cv::Point2d Project(const cv::Vec3d& p, bool side)
{
    const double across = side ? p[1] : p[0];
    return {kPhotoWidth / 2.0 + across * kPerUnit - 0.5, kPhotoHeight / 2.0 - p[2] * kPerUnit - 0.5};
}

int NearestCorner(const std::vector<float>& corners, const cv::Vec3d& p)
{
    int best = -1;
    double bestD = 1e30;
    for (size_t i = 0; i + 2 < corners.size(); i += 3) {
        const double d = cv::norm(cv::Vec3d(corners[i], corners[i + 1], corners[i + 2]) - p);
        if (d < bestD) {
            bestD = d;
            best = int(i / 3);
        }
    }
    return best;
}

cv::Mat ToLab(const cv::Mat& bgr)
{
    cv::Mat f, lab;
    bgr.convertTo(f, CV_32FC3, 1.0 / 255.0);
    cv::cvtColor(f, lab, cv::COLOR_BGR2Lab);
    return lab;
}

double MeanDeltaE(const cv::Mat& labA, const cv::Mat& labB, const cv::Mat& mask)
{
    double sum = 0;
    long n = 0;
    for (int y = 0; y < mask.rows; ++y)
        for (int x = 0; x < mask.cols; ++x) {
            if (!mask.at<uchar>(y, x))
                continue;
            sum += cv::norm(cv::Vec3d(labA.at<cv::Vec3f>(y, x)) - cv::Vec3d(labB.at<cv::Vec3f>(y, x)));
            ++n;
        }
    return n > 0 ? sum / double(n) : -1;
}

// The box around some true front points in a camera, at least `minWidth` pixels wide and `minHeight` high.
cv::Rect Box(const std::vector<Vec3>& points, std::initializer_list<int> which, bool side, double padding, double minWidth,
             double minHeight)
{
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (int i : which) {
        const cv::Point2d q = Project(V(points[size_t(i)]), side);
        x0 = std::min(x0, q.x), x1 = std::max(x1, q.x), y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
    }
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const double w = std::max(minWidth, (x1 - x0) * (1 + 2 * padding)), h = std::max(minHeight, (y1 - y0) * (1 + 2 * padding));
    return cv::Rect(cv::Point(int(std::lround(cx - w / 2)), int(std::lround(cy - h / 2))),
                    cv::Size(int(std::lround(w)), int(std::lround(h)))) &
           cv::Rect(0, 0, kPhotoWidth, kPhotoHeight);
}

double EyeWidthPx(const std::vector<Vec3>& front)
{
    return std::abs(front[size_t(FrontPoint::LeftEyeLeft)].x - front[size_t(FrontPoint::LeftEyeRight)].x) * kPerUnit;
}

double EyeDistance(const std::vector<Vec3>& front)
{
    const Vec3 d = front[size_t(FrontPoint::LeftEyeCenter)] - front[size_t(FrontPoint::RightEyeCenter)];
    return std::hypot(d.x, d.z) * kPerUnit;
}

cv::Mat CloseUp(const cv::Mat& image, cv::Point2d centre, double halfWidth, double halfHeight, int height)
{
    const cv::Rect want(int(std::lround(centre.x - halfWidth)), int(std::lround(centre.y - halfHeight)),
                        int(std::lround(2 * halfWidth)), int(std::lround(2 * halfHeight)));
    cv::Mat out(want.size(), CV_8UC3, cv::Scalar(40, 40, 40));
    if (!image.empty()) {
        const cv::Rect have = want & cv::Rect(0, 0, image.cols, image.rows);
        if (have.area() > 0)
            image(have).copyTo(out(cv::Rect(have.tl() - want.tl(), have.size())));
    }
    cv::Mat scaled;
    cv::resize(out, scaled, {std::max(1, int(std::lround(out.cols * double(height) / out.rows))), height}, 0, 0,
               cv::INTER_CUBIC);
    return scaled;
}

} // namespace

LikenessAnchors FindAnchors(const KnownHeadMaker& maker, const GenericData& generic, const HeadCorners& undeformed)
{
    LikenessAnchors a;
    a.noseTip = maker.noseTipCorner;
    a.chin = maker.chinCorner;
    a.mouth = maker.mouthCorner;
    a.mouthCorners = {NearestCorner(undeformed.head, V(generic.front[FrontPoint::MouthLeft].p)),
                      NearestCorner(undeformed.head, V(generic.front[FrontPoint::MouthRight].p))};
    a.ears = {NearestCorner(undeformed.head, V(generic.front[FrontPoint::LeftEar].p)),
              NearestCorner(undeformed.head, V(generic.front[FrontPoint::RightEar].p))};
    // Which eyeball mesh the front's "left eye" is: the one on the same side.
    const bool leftMeshIsLeftPoint =
        (Centre(undeformed.leftEye)[0] < 0) == (generic.front[FrontPoint::LeftEyeCenter].p.x < 0);
    a.frontEye = leftMeshIsLeftPoint ? std::array<int, 2>{FrontPoint::LeftEyeCenter, FrontPoint::RightEyeCenter}
                                     : std::array<int, 2>{FrontPoint::RightEyeCenter, FrontPoint::LeftEyeCenter};
    return a;
}

PhotoLikeness ComparePhoto(const cv::Mat& photo, const cv::Mat& result, const HeadCorners& truth,
                           const LikenessAnchors& anchors, const std::vector<Vec3>& truthFront, bool side,
                           double faceRadius, cv::Mat* shown)
{
    PhotoLikeness out;
    if (photo.empty() || result.empty() || photo.size() != result.size() || photo.type() != CV_8UC3 ||
        result.type() != CV_8UC3 || truthFront.size() < size_t(FrontPoint::Count))
        return out;
    // The true face: its triangles near the nose tip, as the camera sees them (a union, so no depth test).
    cv::Mat face(photo.size(), CV_8U, cv::Scalar(0));
    const cv::Vec3d tip = Corner(truth.head, anchors.noseTip);
    for (size_t t = 0; t + 8 < truth.head.size(); t += 9) {
        cv::Point q[3];
        bool near = true;
        for (int k = 0; k < 3; ++k) {
            const cv::Vec3d p = Corner(truth.head, int(t / 3) + k);
            near = near && cv::norm(p - tip) <= faceRadius;
            const cv::Point2d d = Project(p, side);
            q[k] = {int(std::lround(d.x)), int(std::lround(d.y))};
        }
        if (near)
            cv::fillConvexPoly(face, q, 3, cv::Scalar(255));
    }
    const cv::Mat a = ToLab(photo), b = ToLab(result);
    out.all = MeanDeltaE(a, b, face);
    const double eyeW = EyeWidthPx(truthFront);
    cv::Mat eyes(photo.size(), CV_8U, cv::Scalar(0)), mouth(photo.size(), CV_8U, cv::Scalar(0));
    for (std::initializer_list<int> eye : {std::initializer_list<int>{FrontPoint::LeftEyeLeft, FrontPoint::LeftEyeRight,
                                                                      FrontPoint::LeftEyeTop, FrontPoint::LeftEyeBottom},
                                           std::initializer_list<int>{FrontPoint::RightEyeLeft, FrontPoint::RightEyeRight,
                                                                      FrontPoint::RightEyeTop, FrontPoint::RightEyeBottom}})
        eyes(Box(truthFront, eye, side, 0.2, side ? 0.8 * eyeW : 0, 0.6 * eyeW)).setTo(255);
    mouth(Box(truthFront, {FrontPoint::MouthLeft, FrontPoint::MouthRight, FrontPoint::MouthTop, FrontPoint::MouthBottom},
              side, 0.15, side ? 1.2 * eyeW : 0, 0.6 * eyeW))
        .setTo(255);
    out.eyes = MeanDeltaE(a, b, eyes & face);
    out.mouth = MeanDeltaE(a, b, mouth & face);
    if (shown) {
        *shown = result.clone();
        for (const auto& [mask, colour] : {std::pair<cv::Mat, cv::Scalar>{face, {0, 255, 0}}, {eyes & face, {0, 255, 255}},
                                          {mouth & face, {0, 0, 255}}}) {
            std::vector<std::vector<cv::Point>> outline;
            cv::findContours(mask.clone(), outline, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            cv::drawContours(*shown, outline, -1, colour, 1);
        }
    }
    return out;
}

Registration CompareRegistration(const HeadCorners& truth, const HeadCorners& result, const LikenessAnchors& anchors,
                                 bool side)
{
    Registration r;
    if (truth.head.size() != result.head.size() || truth.leftEye.empty() || result.leftEye.empty())
        return r;
    const cv::Point2d eyeL = Project(Centre(truth.leftEye), false), eyeR = Project(Centre(truth.rightEye), false);
    const double unit = cv::norm(eyeL - eyeR);
    if (unit <= 0)
        return r;
    auto off = [&](const cv::Vec3d& want, const cv::Vec3d& got) {
        return 100.0 * cv::norm(Project(want, side) - Project(got, side)) / unit;
    };
    auto corner = [&](int i) { return off(Corner(truth.head, i), Corner(result.head, i)); };
    r.eyes = std::max(off(Centre(truth.leftEye), Centre(result.leftEye)), off(Centre(truth.rightEye), Centre(result.rightEye)));
    r.mouth = std::max(corner(anchors.mouthCorners[0]), corner(anchors.mouthCorners[1]));
    r.nose = corner(anchors.noseTip);
    r.chin = corner(anchors.chin);
    return r;
}

RegionReach MeasureReach(const GenericData& generic, const HeadCorners& undeformed, const HeadCorners& result,
                         const LikenessAnchors& anchors, const THeadAttributes& points, bool profileMirrored)
{
    RegionReach r;
    if (undeformed.head.size() != result.head.size() || result.leftEye.empty())
        return r;
    auto across = [](double px) { return (px + 0.5 - kPhotoWidth / 2.0) / kPerUnit; };
    auto up = [](double py) { return (kPhotoHeight / 2.0 - py - 0.5) / kPerUnit; };
    // The run reconstructs at the generic head's width: its unit is the photo's head width over the
    // model's. The result is brought to the photo's size by that factor before its moves are taken,
    // else a head wider than the generic one asks every feature for a move no run makes.
    double minX = 1e30, maxX = -1e30;
    for (size_t i = 0; i + 2 < undeformed.head.size(); i += 3) {
        minX = std::min(minX, double(undeformed.head[i]));
        maxX = std::max(maxX, double(undeformed.head[i]));
    }
    const double photoWidth = std::abs(points.front[FrontPoint::RightHead]->x - points.front[FrontPoint::LeftHead]->x) / kPerUnit;
    if (!(maxX > minX) || !(photoWidth > 0))
        return r;
    const double size = photoWidth / (maxX - minX);
    // Where the points put a feature: across and up from the front point, depth from the profile point.
    auto target = [&](int frontIndex, int profileIndex) {
        const THPoint* f = points.front[frontIndex];
        const THPoint* p = points.profile[profileIndex];
        const double px = profileMirrored ? kPhotoWidth - p->x : p->x;
        return cv::Vec3d(across(f->x), across(px), up(f->y));
    };
    auto onGeneric = [&](int frontIndex, int profileIndex) {
        const Vec3 f = generic.front[size_t(frontIndex)].p, p = generic.profile[size_t(profileIndex)].p;
        return cv::Vec3d(f.x, p.y, f.z);
    };
    // Pooled over the region's anchors: the made move along the asked one, over the asked one's length.
    auto reach = [&](std::initializer_list<std::array<cv::Vec3d, 3>> parts) {
        double made = 0, asked = 0;
        for (const auto& [want, from, moved] : parts) {
            const cv::Vec3d ask = want - from;
            made += ask.dot(moved);
            asked += ask.dot(ask);
        }
        constexpr double kLeast = 0.07 * 0.07;  // 2 mm: below it the ratio is the points' noise
        return asked > kLeast ? 100.0 * made / asked : std::nan("");
    };
    // The nose tip is where the reconstruction measures every other feature from, and the head's
    // place before the camera is no photo's measure: the regions' moves are taken from the tip on
    // both sides of the request.
    const cv::Vec3d tipWant = target(FrontPoint::NoseTip, ProfilePoint::NoseTip);
    const cv::Vec3d tipFrom = onGeneric(FrontPoint::NoseTip, ProfilePoint::NoseTip);
    const cv::Vec3d tipResult = Corner(result.head, anchors.noseTip), tipUndeformed = Corner(undeformed.head, anchors.noseTip);
    auto fromTip = [&](int frontIndex, int profileIndex, const cv::Vec3d& got, const cv::Vec3d& had) {
        return std::array<cv::Vec3d, 3>{target(frontIndex, profileIndex) - tipWant, onGeneric(frontIndex, profileIndex) - tipFrom,
                                        (got - tipResult) * size - (had - tipUndeformed)};
    };
    auto corner = [&](int frontIndex, int profileIndex, int c) {
        return fromTip(frontIndex, profileIndex, Corner(result.head, c), Corner(undeformed.head, c));
    };
    const std::array<cv::Vec3d, 3> leftEye =
        fromTip(anchors.frontEye[0], ProfilePoint::EyeCenter, Centre(result.leftEye), Centre(undeformed.leftEye));
    const std::array<cv::Vec3d, 3> rightEye =
        fromTip(anchors.frontEye[1], ProfilePoint::EyeCenter, Centre(result.rightEye), Centre(undeformed.rightEye));
    r.eyes = reach({leftEye, rightEye});
    // The nose's own move is its depth, which the nose's stretch gives: the tip in front of the eyes.
    auto depth = [](const cv::Vec3d& a, const cv::Vec3d& b) { return cv::Vec3d(0, -0.5 * (a[1] + b[1]), 0); };
    r.nose = reach({std::array<cv::Vec3d, 3>{depth(leftEye[0], rightEye[0]), depth(leftEye[1], rightEye[1]),
                                             depth(leftEye[2], rightEye[2])}});
    r.mouth = reach({corner(FrontPoint::MouthCenter, ProfilePoint::MouthCenter, anchors.mouth)});
    r.ears = reach({corner(FrontPoint::LeftEar, ProfilePoint::EarCenter, anchors.ears[0]),
                    corner(FrontPoint::RightEar, ProfilePoint::EarCenter, anchors.ears[1])});
    return r;
}

SeamStep MeasureSeam(const cv::Mat& atlas, const THeadAttributes& points, cv::Mat* shown)
{
    SeamStep out;
    if (atlas.empty() || atlas.type() != CV_8UC3)
        return out;
    // The atlas is laid out on the points after the photo with the smaller face was enlarged.
    const int hf = std::abs(points.front[FrontPoint::BottomHead]->y - points.front[FrontPoint::TopHead]->y);
    const int hp = std::abs(points.profile[ProfilePoint::BottomHead]->y - points.profile[ProfilePoint::TopHead]->y);
    if (hf == 0 || hp == 0)
        return out;
    const std::unique_ptr<THeadAttributes> scaled(hf < hp ? points.CloneScaledFront(float(hp) / float(hf))
                                                          : points.CloneScaledProfile(float(hf) / float(hp)));
    const TAtlasLayout a = TTextureCreator::MeasureAtlas(scaled.get());
    if (!a.valid || std::abs(a.Wa - atlas.cols) > 2 || std::abs(a.Ha - atlas.rows) > 2 || a.S < 1)
        return out;
    const int f24 = scaled->front[FrontPoint::TopHead]->y;
    const int rowTop = std::max(0, scaled->front[FrontPoint::LeftEyeCenter]->y - f24 + a.M);
    const int rowBottom = std::min(atlas.rows - 1, scaled->front[FrontPoint::MouthCenter]->y - f24 + a.M);
    const int w = std::max(2, a.S / 4);
    // Mean colour of columns [x0, x0 + w) of a row, as Lab; false where the strip holds unfilled texels.
    auto strip = [&](int y, int x0, cv::Vec3d& lab) {
        if (x0 < 0 || x0 + w > atlas.cols)
            return false;
        cv::Vec3d sum;
        for (int x = x0; x < x0 + w; ++x) {
            const cv::Vec3b c = atlas.at<cv::Vec3b>(y, x);
            if (c[0] + c[1] + c[2] < 30)
                return false;
            sum += cv::Vec3d(c[0], c[1], c[2]);
        }
        sum *= 1.0 / w;
        cv::Mat one(1, 1, CV_8UC3, cv::Scalar(sum[0], sum[1], sum[2]));
        lab = cv::Vec3d(ToLab(one).at<cv::Vec3f>(0, 0));
        return true;
    };
    auto step = [&](int y, int before, int after, std::vector<double>& into) {
        cv::Vec3d p, q;
        if (strip(y, before, p) && strip(y, after, q))
            into.push_back(cv::norm(p - q));
    };
    const int leftFadeStart = a.Q + a.M - a.S, leftFadeEnd = a.Q + a.M;
    const int rightFadeStart = a.Q + a.M + a.E, rightFadeEnd = rightFadeStart + a.S;
    std::vector<double> across, inside;
    for (int y = rowTop; y <= rowBottom; ++y) {
        step(y, leftFadeStart - w, leftFadeEnd, across);
        step(y, rightFadeStart - w, rightFadeEnd, across);
        step(y, leftFadeEnd, leftFadeEnd + w + a.S, inside);
        step(y, rightFadeStart - 2 * w - a.S, rightFadeStart - w, inside);
    }
    auto median = [](std::vector<double>& v) {
        if (v.empty())
            return -1.0;
        std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    out.step = median(across);
    out.inside = median(inside);
    if (shown) {
        *shown = atlas.clone();
        for (int x : {leftFadeStart, leftFadeEnd, rightFadeStart, rightFadeEnd})
            cv::line(*shown, {x, 0}, {x, atlas.rows - 1}, cv::Scalar(0, 255, 255), 1);
        for (int y : {rowTop, rowBottom})
            cv::line(*shown, {0, y}, {atlas.cols - 1, y}, cv::Scalar(0, 0, 255), 1);
    }
    return out;
}

cv::Mat EyesCloseUp(const cv::Mat& image, const std::vector<Vec3>& truthFront, int height)
{
    const Vec3 l = truthFront[size_t(FrontPoint::LeftEyeCenter)], r = truthFront[size_t(FrontPoint::RightEyeCenter)];
    const double d = EyeDistance(truthFront);
    return CloseUp(image, Project(V((l + r) * 0.5), false), 1.0 * d, 0.4 * d, height);
}

cv::Mat MouthCloseUp(const cv::Mat& image, const std::vector<Vec3>& truthFront, int height)
{
    const double d = EyeDistance(truthFront);
    const cv::Point2d nose = Project(V(truthFront[size_t(FrontPoint::NoseTip)]), false);
    const cv::Point2d mouth = Project(V(truthFront[size_t(FrontPoint::MouthCenter)]), false);
    // From under the nose to below the lips: the crease from the nose to the mouth corner shows.
    return CloseUp(image, {mouth.x, (nose.y + mouth.y) / 2 + 0.1 * d}, 0.8 * d, 0.4 * d, height);
}
