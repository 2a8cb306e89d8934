// Reading the nodes of a COLLADA visual scene.
#include "collada/Nodes.h"

#include <vector>

#include "collada/Geometry.h"

namespace {
// The first three numbers of the element's text; entries the text does not give keep their value.
void ReadThree(IXMLNode element, std::array<float, 3>& target)
{
    std::vector<float> values;
    ParseFloatArray(values, element.Text(), 3);
    for (size_t i = 0; i < values.size() && i < target.size(); ++i)
        target[i] = values[i];
}
}

bool TNode::Load(IXMLNode node)
{
    name = node.Attribute("name");
    IXMLNode t = node.FindChild("translate");
    if (!t)
        return false;
    ReadThree(t, translate);

    // The rotations come as Z, Y, X: the k-th consecutive "rotate" element sets rotate[2 - k]. Only
    // the angle, the fourth number, is taken; the axis is implied by the position.
    rotate = {0.0f, 0.0f, 0.0f};
    IXMLNode r = node.FindChild("rotate");
    for (int k = 0; k < 3 && r && r.NodeName() == "rotate"; ++k, r = r.NextSibling()) {
        std::vector<float> values;
        ParseFloatArray(values, r.Text(), 4);
        if (values.size() == 4)
            rotate[2 - k] = values[3];
    }

    IXMLNode s = node.FindChild("scale");
    if (!s)
        return false;
    ReadThree(s, scale);

    IXMLNode instance = node.FindChild("instance_geometry");
    if (!instance)
        return false;
    std::string url = instance.Attribute("url");
    geometryName = url.empty() ? std::string() : url.substr(1);

    IXMLNode material =
        instance.FindChild("bind_material").FindChild("technique_common").FindChild("instance_material");
    if (material)
        materialName = material.Attribute("symbol");
    return true;
}

bool TLibraryVisualScenes::Load(IXMLNode library)
{
    IXMLNode scene = library.FindChild("visual_scene");
    if (!scene)
        return false;
    // Only the direct children of the first scene; lights, cameras and other elements have no
    // instance_geometry and are passed over.
    for (IXMLNode e = scene.FindChild("node"); e; e = e.NextSibling()) {
        if (!e.FindChild("instance_geometry"))
            continue;
        auto node = std::make_unique<TNode>();
        node->Load(e);
        nodes.push_back(std::move(node));
    }
    return true;
}

int TLibraryVisualScenes::IndexOf(std::string_view name) const
{
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i]->name == name)
            return static_cast<int>(i);
    return -1;
}
