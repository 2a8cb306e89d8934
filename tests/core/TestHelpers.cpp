#include "tests/core/TestHelpers.h"

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
