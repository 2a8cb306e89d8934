// libFuzzer target for the weight-map reader: any file gives one finite value per eight bytes, and
// reading fewer values gives the same first values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/Weightmanager.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ScratchFile scratch(".wgh");
    const std::string& path = scratch.Write(data, size);
    std::vector<float> weights(3, 1.0f);  // a previous map must not show through
    TWeightManager::LoadWeights(weights, path);
    FUZZ_REQUIRE(weights.size() == size / 8);
    for (float w : weights)
        FUZZ_REQUIRE(std::isfinite(w));

    std::string_view text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    std::vector<float> fewer;
    const size_t count = weights.size() / 2;
    TWeightManager::ParseWeights(fewer, text, count);
    FUZZ_REQUIRE(fewer.size() == count);
    for (size_t i = 0; i < count; ++i)
        FUZZ_REQUIRE(fewer[i] == weights[i]);
    return 0;
}
