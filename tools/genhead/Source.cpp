#include "tools/genhead/Source.h"

#include <stdexcept>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

namespace {
Mesh Collect(const aiScene* scene, bool eyes, double unit) {
    std::vector<Vec3> pos;
    std::vector<Tri> tris;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        std::string name = mesh->mName.C_Str();
        bool isEyes = name.find("eye") != std::string::npos;
        if (isEyes != eyes) continue;
        int base = static_cast<int>(pos.size());
        for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
            const aiVector3D& v = mesh->mVertices[i];
            // MakeHuman: x to the figure's left, y up, z forward.
            pos.push_back(Vec3{v.x, -v.z, v.y} * (1.0 / unit));
        }
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices != 3) continue;
            tris.push_back({base + int(face.mIndices[0]), base + int(face.mIndices[1]), base + int(face.mIndices[2])});
        }
    }
    if (tris.empty()) throw std::runtime_error(eyes ? "no eye mesh in the source" : "no body mesh in the source");
    return Weld(pos, tris, 1e-7 / unit);
}
}  // namespace

SourceModel LoadSource(const std::string& path, double unit) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(
        path, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_PreTransformVertices);
    if (!scene || !scene->mRootNode) throw std::runtime_error("cannot read " + path + ": " + importer.GetErrorString());
    SourceModel model;
    model.body = Collect(scene, false, unit);
    model.eyes = Collect(scene, true, unit);
    return model;
}
