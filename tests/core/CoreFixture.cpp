#include "tests/core/CoreFixture.h"

#include <filesystem>

#include "platform/base/Paths.h"
#include "platform/image/Graphics.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"

std::string BuildShaderFolder()
{
    // Beside the test program, whatever program folder a test has set.
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/data/shaders";
}

CoreFixture::CoreFixture(const std::string& tag) : folder(tag)
{
    WriteSyntheticDataTree(folder.Folder(), BuildShaderFolder());
    generic = MakeSyntheticHead({});
    core = std::make_unique<TVultari>(&document, 0, kCoreWidth, kCoreHeight);
}

CoreFixture::~CoreFixture() { core.reset(); }

void CoreFixture::LoadPhotos(const cv::Scalar& skin)
{
    core->recognizer->frontImage = SyntheticPhoto(1200, 1000, skin);
    // Wide enough that the back of every changed head (up to 1.2 times as deep) lies inside the
    // profile: a head border on the photo's edge only bounds the head's size.
    core->recognizer->profileImage = SyntheticPhoto(1400, 1000, skin);
    delete core->frontThumbnail;
    delete core->frontEditBitmap;
    delete core->profileThumbnail;
    delete core->profileEditBitmap;
    core->frontThumbnail = new TBitmap(200, 167);
    core->frontEditBitmap = new TBitmap(610, 508);
    core->profileThumbnail = new TBitmap(200, 143);
    core->profileEditBitmap = new TBitmap(610, 436);
    ProjectPoints(generic);
}

void CoreFixture::ProjectPoints(const TSyntheticHead& head)
{
    ProjectFeaturePoints(head, kPixelsPerUnit, *core->headAttributes);
}
