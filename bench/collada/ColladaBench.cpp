// Speed of the COLLADA model on a large mesh: reading (parse, number lists, de-indexing), the
// tangent space and the section writers. Run: build/bin/collada_bench [grid size, default 300]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "bench/ShortRun.h"
#include "collada/Colladaasset.h"
#include "platform/base/Memory.h"

namespace {
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// A grid of n x n quads with shared corners, indexed the way exporters write it.
std::string GridDocument(int n)
{
    std::string positions;
    std::string normals;
    std::string uv;
    char buffer[96];
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            std::snprintf(buffer, sizeof buffer, "%g %g %g ", x * 0.01, y * 0.01, 0.1 * ((x * y) % 7));
            positions += buffer;
            normals += "0 0 1 ";
            std::snprintf(buffer, sizeof buffer, "%g %g ", double(x) / n, double(y) / n);
            uv += buffer;
        }
    std::string p;
    auto corner = [&](int x, int y) {
        std::string i = std::to_string(y * (n + 1) + x);
        p += i + ' ' + i + ' ' + i + ' ';
    };
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            corner(x, y), corner(x + 1, y), corner(x + 1, y + 1);
            corner(x, y), corner(x + 1, y + 1), corner(x, y + 1);
        }
    const int v = (n + 1) * (n + 1);
    return "<?xml version=\"1.0\"?>\n<COLLADA version=\"1.4.0\"><library_geometries>"
           "<geometry id=\"Grid\" name=\"Grid\"><mesh>"
           "<source id=\"Grid-Position\"><float_array count=\"" + std::to_string(3 * v) + "\">" + positions +
           "</float_array></source>"
           "<source id=\"Grid-Normals\"><float_array count=\"" + std::to_string(3 * v) + "\">" + normals +
           "</float_array></source>"
           "<source id=\"Grid-UV\"><float_array count=\"" + std::to_string(2 * v) + "\">" + uv +
           "</float_array></source>"
           "<triangles count=\"" + std::to_string(2 * n * n) + "\"><input offset=\"0\"/><input offset=\"1\"/>"
           "<input offset=\"2\"/><p>" + p + "</p></triangles></mesh></geometry></library_geometries>"
           "<library_visual_scenes><visual_scene><node name=\"Grid\"><translate>0 0 0</translate><scale>1 1 1</scale>"
           "<instance_geometry url=\"#Grid\"/></node></visual_scene></library_visual_scenes></COLLADA>\n";
}
}

int main(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : ShortRun() ? 60 : 300;
    const std::string text = GridDocument(n);
    const auto file = std::filesystem::temp_directory_path() / ("vultari-bench-" + std::to_string(::getpid()) + ".dae");
    std::ofstream(file, std::ios::binary) << text;

    TXMLDocument document;
    TColladaAsset asset(&document);
    auto start = Clock::now();
    bool ok = asset.Load(file.string());
    double load = Milliseconds(start);
    std::filesystem::remove(file);
    if (!ok || asset.geometries.geometries.empty()) {
        std::fprintf(stderr, "the bench document did not load\n");
        return 1;
    }
    TGeometry& g = *asset.geometries.geometries[0];

    start = Clock::now();
    g.ComputeTangentSpace();
    double tangents = Milliseconds(start);

    start = Clock::now();
    std::string written = asset.geometries.GeometriesXml(asset.visualScenes) + asset.visualScenes.NodesXml();
    double write = Milliseconds(start);

    const double corners = static_cast<double>(g.triangles.size());
    std::printf("grid %dx%d: %.0f triangles, %.0f corners, document %.1f MB\n", n, n, corners / 3, corners,
                text.size() / 1e6);
    std::printf("load (parse, number lists, de-index): %8.1f ms  %6.1f MB/s\n", load, text.size() / 1e3 / load);
    std::printf("tangent space:                        %8.1f ms  %6.1f M corners/s\n", tangents,
                corners / 1e3 / tangents);
    std::printf("geometry and node writers:            %8.1f ms  %6.1f MB/s (%.1f MB)\n", write,
                written.size() / 1e3 / write, written.size() / 1e6);
    return 0;
}
