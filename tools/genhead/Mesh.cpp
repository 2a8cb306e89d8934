#include "tools/genhead/Mesh.h"

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>
#include <tuple>

std::vector<Vec3> Mesh::VertexNormals() const {
    std::vector<Vec3> n(pos.size());
    for (const Tri& t : tris) {
        Vec3 f = Cross(pos[t[1]] - pos[t[0]], pos[t[2]] - pos[t[0]]);
        for (int c : t) n[c] = n[c] + f;
    }
    for (Vec3& v : n) v = Unit(v);
    return n;
}

std::vector<std::vector<int>> Mesh::Neighbours() const {
    std::vector<std::vector<int>> nb(pos.size());
    for (const Tri& t : tris)
        for (int i = 0; i < 3; ++i) {
            nb[t[i]].push_back(t[(i + 1) % 3]);
            nb[t[i]].push_back(t[(i + 2) % 3]);
        }
    for (auto& l : nb) {
        std::sort(l.begin(), l.end());
        l.erase(std::unique(l.begin(), l.end()), l.end());
    }
    return nb;
}

std::vector<std::array<int, 2>> Mesh::BoundaryEdges() const {
    std::map<std::pair<int, int>, int> count;
    for (const Tri& t : tris)
        for (int i = 0; i < 3; ++i) {
            int a = t[i], b = t[(i + 1) % 3];
            ++count[{std::min(a, b), std::max(a, b)}];
        }
    std::vector<std::array<int, 2>> out;
    for (const Tri& t : tris)
        for (int i = 0; i < 3; ++i) {
            int a = t[i], b = t[(i + 1) % 3];
            if (count[{std::min(a, b), std::max(a, b)}] == 1) out.push_back({a, b});
        }
    return out;
}

std::vector<int> Mesh::Compact() {
    std::vector<int> map(pos.size(), -1);
    std::vector<Vec3> kept;
    for (Tri& t : tris)
        for (int& c : t) {
            if (map[c] < 0) {
                map[c] = static_cast<int>(kept.size());
                kept.push_back(pos[c]);
            }
            c = map[c];
        }
    pos = std::move(kept);
    return map;
}

Mesh Weld(const std::vector<Vec3>& positions, const std::vector<Tri>& tris, double tolerance) {
    // Quantise to a grid of the tolerance; the MakeHuman mesh repeats positions exactly at UV seams.
    std::map<std::tuple<long long, long long, long long>, int> cell;
    std::vector<int> map(positions.size());
    Mesh out;
    for (size_t i = 0; i < positions.size(); ++i) {
        const Vec3& p = positions[i];
        auto key = std::make_tuple(std::llround(p.x / tolerance), std::llround(p.y / tolerance),
                                   std::llround(p.z / tolerance));
        auto it = cell.find(key);
        if (it == cell.end()) {
            it = cell.emplace(key, static_cast<int>(out.pos.size())).first;
            out.pos.push_back(p);
        }
        map[i] = it->second;
    }
    for (const Tri& t : tris) {
        Tri w{map[t[0]], map[t[1]], map[t[2]]};
        if (w[0] != w[1] && w[1] != w[2] && w[0] != w[2]) out.tris.push_back(w);
    }
    return out;
}

std::vector<int> TriangleComponents(const Mesh& mesh, int* count) {
    std::vector<int> parent(mesh.pos.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](int a) {
        while (parent[a] != a) a = parent[a] = parent[parent[a]];
        return a;
    };
    for (const Tri& t : mesh.tris) {
        parent[find(t[1])] = find(t[0]);
        parent[find(t[2])] = find(t[0]);
    }
    std::map<int, int> ids;
    std::vector<int> comp(mesh.tris.size());
    for (size_t t = 0; t < mesh.tris.size(); ++t) {
        int r = find(mesh.tris[t][0]);
        auto it = ids.emplace(r, static_cast<int>(ids.size())).first;
        comp[t] = it->second;
    }
    if (count) *count = static_cast<int>(ids.size());
    return comp;
}

bool RayHit(const Mesh& mesh, Vec3 origin, Vec3 dir, double* tOut, int* triangle) {
    double best = std::numeric_limits<double>::infinity();
    int bestTri = -1;
    for (size_t i = 0; i < mesh.tris.size(); ++i) {
        const Tri& tr = mesh.tris[i];
        Vec3 a = mesh.pos[tr[0]], e1 = mesh.pos[tr[1]] - a, e2 = mesh.pos[tr[2]] - a;
        Vec3 p = Cross(dir, e2);
        double det = Dot(e1, p);
        if (std::abs(det) < 1e-14) continue;
        Vec3 s = origin - a;
        double u = Dot(s, p) / det;
        if (u < 0 || u > 1) continue;
        Vec3 q = Cross(s, e1);
        double v = Dot(dir, q) / det;
        if (v < 0 || u + v > 1) continue;
        double t = Dot(e2, q) / det;
        if (t > 1e-9 && t < best) {
            best = t;
            bestTri = static_cast<int>(i);
        }
    }
    if (bestTri < 0) return false;
    *tOut = best;
    if (triangle) *triangle = bestTri;
    return true;
}
