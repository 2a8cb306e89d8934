#include "core/Weightmanager.h"

#include <charconv>
#include <cmath>
#include <fstream>

#include "platform/base/Exception.h"
#include "platform/base/Paths.h"

namespace {
const char* const slotNames[TWeightManager::SlotCount] = {
    "tip_of_the_nose", "head_bottom", "left_eye", "left_eye_borders", "right_eye", "right_eye_borders",
    "nose", "nose_borders", "mouth", "mouth_borders", "left_ear", "left_ear_borders", "right_ear",
    "right_ear_borders", "face_borders"};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
}  // namespace

const int TWeightManager::LoadOrder[SlotCount] = {2, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};

const char* TWeightManager::SlotName(int slot)
{
    return slot >= 0 && slot < SlotCount ? slotNames[slot] : "";
}

TWeightManager::TWeightManager()
{
    const std::string folder = ProgramFolder();
    for (int slot : LoadOrder)
        LoadWeights(weights[slot], folder + "./data/weights/" + slotNames[slot] + ".wgh");
}

void TWeightManager::LoadWeights(std::vector<float>& target, const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw FileOpenError(path);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0)
        throw FileOpenError(path, "The file cannot be read");
    file.seekg(0, std::ios::beg);
    std::string text(static_cast<size_t>(size), '\0');
    if (size > 0 && !file.read(text.data(), size))
        throw FileOpenError(path, "The file cannot be read");
    // The text ends at its first zero byte, as a C string would.
    const size_t zero = text.find('\0');
    std::string_view view(text.data(), zero == std::string::npos ? text.size() : zero);
    ParseWeights(target, view, static_cast<size_t>(size) / 8);
}

void TWeightManager::ParseWeights(std::vector<float>& target, std::string_view text, size_t count)
{
    target.assign(count, 0.0f);
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
        // Formatted extraction accepts a leading '+', from_chars does not.
        size_t start = pos;
        if (start < text.size() && text[start] == '+' && start + 1 < text.size() && text[start + 1] != '-')
            ++start;
        float value = 0;
        const auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), value);
        if (ec != std::errc() || !std::isfinite(value))
            return;  // not a number: the rest keeps 0
        target[i] = value;
        pos = static_cast<size_t>(end - text.data());
    }
}
