#pragma once
// TWeightManager: the fifteen region weight maps of the generic head. Element v of a map is the
// weight of vertex v of the head model's first geometry (position floats 3v, 3v+1, 3v+2); a weight
// above 0 puts the vertex in the region and is the factor with which it follows the region's move.
// The maps are read once, at construction, and never change afterwards. Users index them by vertex,
// so the reconstruction checks their length against the head mesh before it reads them.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TWeightManager {
public:
    // Slots, addressed by number everywhere; the names are the file stems.
    enum Slot {
        tip_of_the_nose = 0,
        head_bottom = 1,
        left_eye = 2,
        left_eye_borders = 3,
        right_eye = 4,
        right_eye_borders = 5,
        nose = 6,
        nose_borders = 7,
        mouth = 8,
        mouth_borders = 9,
        left_ear = 10,
        left_ear_borders = 11,
        right_ear = 12,
        right_ear_borders = 13,
        face_borders = 14,
        SlotCount = 15
    };

    // Loads every map from ProgramFolder() + "./data/weights/<stem>.wgh", slot 2 first, then 0, 1,
    // then 3 to 14. A file that cannot be opened throws the file-open Exception naming it.
    TWeightManager();
    // Fifteen empty maps, nothing read: for code that fills the maps itself.
    struct NoFiles {};
    explicit TWeightManager(NoFiles) {}

    // Reads one ".wgh" file: its size S in bytes gives S div 8 values, parsed from its text.
    static void LoadWeights(std::vector<float>& target, const std::string& path);
    // Parses `count` whitespace-separated decimal floats from `text` into `target` (sized to count
    // once). Numbers after the count-th are ignored; a token that is not a finite number stops the
    // parse and the remaining elements stay 0.
    static void ParseWeights(std::vector<float>& target, std::string_view text, size_t count);

    // The file stem of a slot ("tip_of_the_nose" ...).
    static const char* SlotName(int slot);
    // The order in which the constructor reads the slots.
    static const int LoadOrder[SlotCount];

    std::vector<float> weights[SlotCount];

    const std::vector<float>& operator[](int slot) const { return weights[slot]; }
};
