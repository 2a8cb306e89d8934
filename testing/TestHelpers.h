#pragma once
// Small fixtures shared by the core tests: temporary program folders and point sets.
#include <filesystem>
#include <string>

#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"

// A fresh folder under the system's temporary folder, removed with the object; it becomes the
// program folder while the object lives.
class ScopedProgramFolder {
public:
    explicit ScopedProgramFolder(const std::string& tag);
    ~ScopedProgramFolder();
    ScopedProgramFolder(const ScopedProgramFolder&) = delete;
    ScopedProgramFolder& operator=(const ScopedProgramFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::string Folder() const { return path.string() + "/"; }
    void WriteFile(const std::string& relative, const std::string& content) const;

private:
    std::filesystem::path path;
};

// Sets every point of both sets (x, y) by index; the tables hold 27 and 14 pairs.
void SetPoints(THeadAttributes& attributes, const int front[27][2], const int profile[14][2]);

// A point set whose measures give the worked atlas: W = 300, H = 400, E = 200, P = 250, so
// O = 27, M = 60, S = 30, Q = 223 and an atlas of 766 x 520 (Ws = 300, Hs = 400).
void SetWorkedAtlasPoints(THeadAttributes& attributes);

// The tests' own small synthetic generic head, not the shipped one: where its features are built
// (tests/core/SyntheticHead.cpp makes its mesh and maps around these), in model units.
namespace synthetic {
inline constexpr TModelPoint kLeftEye{-1.023, -0.732, 0.502};
inline constexpr TModelPoint kRightEye{1.252, -0.732, 0.502};
inline constexpr TModelPoint kMouth{0.0, -0.894, -1.521};
inline constexpr TModelPoint kLeftEar{-2.622, 2.764, 0.656};
inline constexpr TModelPoint kRightEar{2.675, 2.764, 0.656};
inline constexpr double kNoseStretchY = -1.246;
}  // namespace synthetic

// The facts of that synthetic head: its anchors, the texture layout references the worked atlas
// is laid out for, the eyeballs' push-back and its own proportions. Its points span a head box of
// 6 x 8 units, enough to derive proportions from.
TGenericHead TestGenericHead();

// The path of a file unpacked by scripts/fetch-deps, or "" when it is not there.
std::string DepsFile(const std::string& relative);
