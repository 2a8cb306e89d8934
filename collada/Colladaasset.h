#pragma once
// The in-memory model of one COLLADA document: four libraries, linked by index after loading.
#include <array>
#include <string>

#include "collada/Effects.h"
#include "collada/Geometry.h"
#include "collada/Images.h"
#include "collada/Nodes.h"
#include "collada/Vectors.h"
#include "platform/xml/Xmldocument.h"

class TColladaAsset {
public:
    // `document` is not owned; every asset of the engine reads through the same one.
    explicit TColladaAsset(TXMLDocument* document);
    TColladaAsset(const TColladaAsset&) = delete;
    TColladaAsset& operator=(const TColladaAsset&) = delete;
    ~TColladaAsset();

    TXMLDocument* document;
    TLibraryEffects effects;
    TLibraryImages images;
    TLibraryGeometries geometries;
    TLibraryVisualScenes visualScenes;
    std::array<float, 3> translate{0.0f, 0.0f, 0.0f};  // model units
    std::array<float, 3> rotate{0.0f, 0.0f, 0.0f};     // degrees: [0] about X, [1] about Y, [2] about Z
    std::array<float, 3> scale{1.0f, 1.0f, 1.0f};
    int shaderIndex = -1;    // engine shader for the whole asset; -1 = fixed pipeline
    int polygonMode = -1;    // GL_LINE (6913) or GL_FILL (6914) for both faces; -1 = leave as is
    bool visible = true;
    // The document's length unit (asset/unit): metres per model unit, and its name as given (empty
    // when it has none). One metre, the format's default, when the document gives no usable unit.
    double unitMeter = 1.0;
    std::string unitName;

    // Reads the file and links node -> geometry, node -> effect, effect -> image. False without a
    // root element, "library_geometries" or "library_visual_scenes" (what was read stays). A file
    // that cannot be read or parsed throws Exception from the document, before anything is read.
    bool Load(const std::string& fileName);
    bool LinkNodesToGeometries();
    bool LinkNodesToEffects();   // materialName "M" links to the effect named "M-fx"
    bool LinkEffectsToImages();

    // One "material" element per effect, named after the effect's name up to its last "-".
    std::string MaterialsXml() const;
};
