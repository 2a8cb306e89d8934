#include "collada/Colladaasset.h"

#include <cmath>

#include "platform/base/Numbers.h"

TColladaAsset::TColladaAsset(TXMLDocument* document_) : document(document_) {}

TColladaAsset::~TColladaAsset() = default;

bool TColladaAsset::Load(const std::string& fileName)
{
    if (!document)
        return false;
    // A file that cannot be read throws here, before any library is touched.
    document->LoadFromFile(fileName);
    IXMLNode root = document->DocumentElement();
    if (!root)
        return false;
    if (IXMLNode unit = root.FindChild("asset").FindChild("unit")) {
        std::optional<double> meter = ParseDouble(unit.Attribute("meter"));
        if (meter && std::isfinite(*meter) && *meter > 0.0) {
            unitMeter = *meter;
            unitName = unit.Attribute("name");
        }
    }
    if (IXMLNode e = root.FindChild("library_effects"))
        effects.Load(e);
    if (IXMLNode e = root.FindChild("library_images"))
        images.Load(e);
    IXMLNode g = root.FindChild("library_geometries");
    if (!g)
        return false;
    geometries.Load(g);
    IXMLNode v = root.FindChild("library_visual_scenes");
    if (!v)
        return false;
    visualScenes.Load(v);
    LinkNodesToGeometries();
    LinkNodesToEffects();
    LinkEffectsToImages();
    return true;
}

bool TColladaAsset::LinkNodesToGeometries()
{
    for (auto& node : visualScenes.nodes)
        node->geometryIndex = node->geometryName.empty() ? -1 : geometries.IndexOf(node->geometryName);
    return true;
}

bool TColladaAsset::LinkNodesToEffects()
{
    for (auto& node : visualScenes.nodes)
        node->effectIndex = node->materialName.empty() ? -1 : effects.IndexOf(node->materialName + "-fx");
    return true;
}

bool TColladaAsset::LinkEffectsToImages()
{
    for (auto& effect : effects.effects)
        effect->imageIndex = effect->imageName.empty() ? -1 : images.IndexOf(effect->imageName);
    return true;
}
