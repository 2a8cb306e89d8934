#include "testing/TestHelpers.h"

#include <fstream>
#include <random>
#include <stdexcept>

#include "platform/base/Paths.h"
#include "recognition/Hierarchicaltree.h"

ScopedProgramFolder::ScopedProgramFolder(const std::string& tag)
{
    std::random_device random;
    path = std::filesystem::temp_directory_path() / ("vultari-core-" + tag + "-" + std::to_string(random()));
    std::filesystem::create_directories(path);
    SetProgramFolder(Folder());
}

ScopedProgramFolder::~ScopedProgramFolder()
{
    SetProgramFolder("");
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void ScopedProgramFolder::WriteFile(const std::string& relative, const std::string& content) const
{
    const std::filesystem::path file = path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void SetPoints(THeadAttributes& attributes, const int front[27][2], const int profile[14][2])
{
    for (int i = 0; i < 27; ++i)
        attributes.front[i]->SetPosition(front[i][0], front[i][1]);
    for (int i = 0; i < 14; ++i)
        attributes.profile[i]->SetPosition(profile[i][0], profile[i][1]);
}

void SetWorkedAtlasPoints(THeadAttributes& attributes)
{
    // Front: head borders x 350..650, y 100..500; eyes from x 400 to 600.
    static const int front[27][2] = {
        {500, 300},                                                  // 0 head centre
        {440, 280}, {400, 280}, {470, 280}, {440, 270}, {440, 290},  // left eye: centre, left, right, top, bottom
        {560, 280}, {530, 280}, {600, 280}, {560, 270}, {560, 290},  // right eye
        {500, 420}, {460, 420}, {540, 420}, {500, 405}, {500, 435},  // mouth
        {500, 360}, {480, 360}, {520, 360}, {500, 300}, {500, 380},  // nose: tip, left, right, top, bottom
        {340, 320}, {660, 320},                                      // ears
        {500, 500}, {500, 100}, {350, 300}, {650, 300}};             // bottom, top, left, right head border
    // Profile (left-facing): eye centre at x 300, back of the head at x 550, top 100, bottom 500.
    static const int profile[14][2] = {
        {450, 300}, {300, 280}, {290, 420}, {250, 360}, {280, 300},  // centre, eye, mouth, nose tip, nose root
        {480, 310}, {465, 310}, {495, 310}, {480, 280}, {480, 340},  // ear: centre, left, right, top, bottom
        {240, 300}, {550, 300}, {450, 100}, {450, 500}};             // left, right, top, bottom head border
    SetPoints(attributes, front, profile);
}

std::string DepsFile(const std::string& relative)
{
    const std::string file = std::string(VULTARI_DEPS_DIR) + "/" + relative;
    return std::filesystem::exists(file) ? file : std::string();
}

TGenericHead TestGenericHead()
{
    TGenericHead h;
    h.mouth = synthetic::kMouth;
    h.leftEye = synthetic::kLeftEye;
    h.rightEye = synthetic::kRightEye;
    h.leftEar = synthetic::kLeftEar;
    h.rightEar = synthetic::kRightEar;
    h.noseStretchY = synthetic::kNoseStretchY;
    const TLayoutPoint layout[LayoutRef::Count] = {
        {0.5151004, 0.42300156},  {0.4429995, 0.5326073},  {0.5828313, 0.52675647}, {0.5113153, 0.30832553},
        {0.46008787, 0.34982827}, {0.5643298, 0.30911008}, {0.20125, 0.5175644},    {0.1882756, 0.5692701},
        {0.21176706, 0.44178376}, {0.8056777, 0.5175644},  {0.8114232, 0.5698673},  {0.7936245, 0.4435129}};
    for (int i = 0; i < LayoutRef::Count; ++i)
        h.layout[size_t(i)] = layout[i];
    h.leftEyePushBack = 0.1;
    h.rightEyePushBack = 0.135;
    h.outlineShare = 0.784;
    h.crownAboveFaceCentre = 0.885;
    h.browOverTip = 0.27;
    h.profileMouthBehindTip = 0.11;
    h.profileMouthAboveChin = 0.19;
    using namespace FrontPoint;
    h.front[LeftEyeCenter] = h.leftEye;
    h.front[RightEyeCenter] = h.rightEye;
    h.front[MouthCenter] = h.mouth;
    h.front[LeftEar] = h.leftEar;
    h.front[RightEar] = h.rightEar;
    h.front[NoseTip] = {0, -1.7, -0.7};
    h.front[LeftHead] = {-3, 3, 1.3};
    h.front[RightHead] = {3, 3, 1.3};
    h.front[TopHead] = {0, 2.5, 5};
    h.front[BottomHead] = {0, 0, -3};
    h.profile[ProfilePoint::EyeCenter] = h.rightEye;
    h.profile[ProfilePoint::MouthCenter] = h.mouth;
    h.profile[ProfilePoint::NoseTip] = h.front[NoseTip];
    h.profile[ProfilePoint::NoseRoot] = {0, synthetic::kNoseStretchY, 0.456};
    h.profile[ProfilePoint::EarCenter] = h.rightEar;
    h.profile[ProfilePoint::TopHead] = h.front[TopHead];
    h.profile[ProfilePoint::BottomHead] = h.front[BottomHead];
    DeriveProportions(h);
    return h;
}
