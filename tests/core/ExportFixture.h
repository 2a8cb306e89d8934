#pragma once
// Three small models as a reconstruction leaves them: a head with one deformed triangle pair, two
// eyes and a hair mesh, each with its effect and image, their nodes turned and scaled. Every name
// starts with the model's key, so tests can find each model's part of a document. The head's
// document unit is the generic head's.
#include "collada/Colladaasset.h"
#include "platform/xml/Xmldocument.h"

#include <memory>
#include <string>
#include <vector>

struct ExportFixture {
    const std::string headKey = "Head";
    const std::string eyesKey = "Eyes";
    const std::string hairsKey = "Hairs";

    TXMLDocument document;
    // Owned until handed over (an engine takes them with release()).
    std::unique_ptr<TColladaAsset> head = Make(headKey, "data/textures/headtexture.bmp", {headKey + "-mesh"}, 0.0f);
    std::unique_ptr<TColladaAsset> eyes =
        Make(eyesKey, "data/textures/eye.bmp", {eyesKey + "-right", eyesKey + "-left"}, 1.0f);
    std::unique_ptr<TColladaAsset> hairs = Make(hairsKey, "data/textures/headtexture.bmp", {hairsKey + "-mesh"}, 2.0f);

    ExportFixture()
    {
        head->unitMeter = 0.028;
        head->unitName = "model_unit";
    }

private:
    std::unique_ptr<TColladaAsset> Make(const std::string& key, const std::string& imageFile,
                                        const std::vector<std::string>& meshes, float shift)
    {
        auto asset = std::make_unique<TColladaAsset>(&document);
        auto effect = std::make_unique<TEffect>();
        effect->name = key + "-fx";
        effect->imageName = key + "-image";
        effect->imageIndex = 0;
        asset->effects.effects.push_back(std::move(effect));
        asset->images.names.push_back(key + "-image");
        asset->images.files.push_back(imageFile);
        int index = 0;
        for (const std::string& mesh : meshes) {
            auto g = std::make_unique<TGeometry>();
            g->name = mesh;
            // Two de-indexed triangles; values chosen to exercise the number format.
            g->positions = {0.1f + shift, -2.5e-07f, 100000.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f / 3.0f,
                            -1.5f, 0.0f, 1000000.0f, 1.0f, 1.0f, 0.0f, 0.0f, 12.345678f, 0.0f};
            g->normals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, -1, 0, 0, -1, 0, 0, -1, 0};
            g->texCoords = {0, 0, 1, 0, 0, 1, 0.25f, 0.5f, 0.75f, 0.5f, 0.5f, 1};
            g->triangles = {0, 1, 2, 3, 4, 5};
            asset->geometries.geometries.push_back(std::move(g));
            auto node = std::make_unique<TNode>();
            node->name = mesh;  // named after its geometry, as in the generic models
            node->translate = {0.0f, shift, 0.0f};
            node->rotate = {-1.0f, 0.0f, 2.0f};  // a turned node: the Z angle is written first
            node->scale = {1.1f, 1.1f, 1.1f};    // a float that prints as 1.1
            node->geometryName = mesh;
            node->materialName = key;
            node->geometryIndex = index++;
            node->effectIndex = 0;
            asset->visualScenes.nodes.push_back(std::move(node));
        }
        return asset;
    }
};
