#pragma once
// The nodes of a COLLADA visual scene and the library that owns them.
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/Xmldocument.h"

// One node placing one geometry. translate, rotate and scale always hold three values; what the
// document does not give keeps the identity (translation 0, angles 0, scale 1).
class TNode {
public:
    TNode() = default;
    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;

    std::string name;                                // "name" attribute; written back as id and name
    std::array<float, 3> translate{0.0f, 0.0f, 0.0f}; // x, y, z in model units
    std::array<float, 3> rotate{0.0f, 0.0f, 0.0f};    // degrees: [0] about X, [1] about Y, [2] about Z
    std::array<float, 3> scale{1.0f, 1.0f, 1.0f};     // x, y, z factors
    std::string geometryName;   // url of instance_geometry without its first character ("#")
    std::string materialName;   // symbol of the first bound instance_material; empty when none
    int geometryIndex = -1;     // into the asset's geometries; -1 = none (set by linking)
    int effectIndex = -1;       // into the asset's effects, by materialName + "-fx"; -1 = none
    std::vector<int> textures;  // engine texture indices bound while the node is drawn

    // Reads a "node" element. False when it lacks "translate", "scale" or "instance_geometry".
    bool Load(IXMLNode node);
    // The sixteen-line "node" element of this node.
    std::string NodeXml() const;
};

// The direct "node" children of the first visual scene that instantiate a geometry, in document
// order, addressed by 0-based index; owns them.
class TLibraryVisualScenes {
public:
    TLibraryVisualScenes() = default;
    TLibraryVisualScenes(const TLibraryVisualScenes&) = delete;
    TLibraryVisualScenes& operator=(const TLibraryVisualScenes&) = delete;

    std::vector<std::unique_ptr<TNode>> nodes;

    // False when the library has no "visual_scene" child.
    bool Load(IXMLNode library);
    // Index of the first node with exactly this name; -1 when none.
    int IndexOf(std::string_view name) const;
    // The "node" elements of every node in order; empty for no nodes.
    std::string NodesXml() const;
};
