#pragma once
// The effects of a COLLADA document and the library that owns them.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/Xmldocument.h"

class TEffect {
public:
    TEffect() = default;
    TEffect(const TEffect&) = delete;
    TEffect& operator=(const TEffect&) = delete;

    std::string name;       // "name" attribute; written back as id and name
    std::string imageName;  // init_from of the first surface parameter of profile_COMMON
    int imageIndex = -1;    // into the asset's images (its names list); -1 = none (set by linking)
    int shaderIndex = -1;   // engine shader for nodes with this effect; -1 = the asset's shader

    // Reads an "effect" element (any element read as one). Always true.
    bool Load(IXMLNode effect);
    // The fixed 48-line Phong "effect" element sampling imageName.
    std::string EffectXml() const;
};

// The first "effect" child and every element after it, in document order; owns them.
class TLibraryEffects {
public:
    TLibraryEffects() = default;
    TLibraryEffects(const TLibraryEffects&) = delete;
    TLibraryEffects& operator=(const TLibraryEffects&) = delete;

    std::vector<std::unique_ptr<TEffect>> effects;

    bool Load(IXMLNode library);   // always true
    // Index of the first effect with exactly this name; -1 when none.
    int IndexOf(std::string_view name) const;
    std::string EffectsXml() const;
};
