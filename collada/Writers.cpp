// The text of the library sections the export writes. Fixed layouts, a single line feed as line
// end; names and paths are escaped so that text from a file can never break the document, and
// numbers are "%g" without the locale (non-finite values are written as 0).
#include <charconv>
#include <string>

#include "collada/Colladaasset.h"
#include "platform/base/Numbers.h"
#include "platform/xml/Xmlescape.h"

namespace {
// All ids of a document share one namespace, while names repeat across kinds (a hair mesh, its node
// and its material may all be "Hair"). Nodes and materials get an id of their own kind; a geometry
// keeps its name as id, since a node's url names the geometry it instantiates.
constexpr const char* kNodeIdSuffix = "-node";
constexpr const char* kMaterialIdSuffix = "-material";

void AppendInt(std::string& out, long long value)
{
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc() ? end : buffer);
}

std::string Int(long long value)
{
    std::string s;
    AppendInt(s, value);
    return s;
}

// Values separated by one blank, none before the first or after the last.
void AppendFloats(std::string& out, const std::vector<float>& values)
{
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ' ';
        out += FormatG(static_cast<double>(values[i]));
    }
}

std::string Float(float value) { return FormatG(static_cast<double>(value)); }

void AppendSource(std::string& out, const std::string& N, const char* suffix, const std::vector<float>& values,
                  int stride, std::initializer_list<const char*> params)
{
    const std::string id = N + suffix;
    out += "        <source id=\"" + id + "\">\n";
    out += "          <float_array count=\"" + Int(static_cast<long long>(values.size())) + "\" id=\"" + id +
           "-array\">";
    AppendFloats(out, values);
    out += "          </float_array>\n";
    out += "          <technique_common>\n";
    out += "            <accessor count=\"" + Int(static_cast<long long>(values.size()) / stride) + "\" source=\"#" +
           id + "-array\" stride=\"" + Int(stride) + "\">\n";
    for (const char* p : params)
        out += std::string("              <param type=\"float\" name=\"") + p + "\"></param>\n";
    out += "            </accessor>\n";
    out += "          </technique_common>\n";
    out += "        </source>\n";
}

// The file-name part of a stored path: after its last backslash, "/" or ":". The slash counts too,
// so that a path from any platform gives the file name a reader finds in the texture folder.
std::string_view FilePart(std::string_view path)
{
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}
}

std::string TGeometry::GeometryXml(const TLibraryVisualScenes& scenes) const
{
    const std::string N = XmlEscape(name);
    std::string out;
    // Roughly 13 characters a value; one reservation keeps long meshes from re-copying.
    out.reserve(2048 + 13 * (positions.size() + normals.size() + texCoords.size()) + 12 * triangles.size());
    out += "    <geometry id=\"" + N + "\" name=\"" + N + "\">\n";
    out += "      <mesh>\n";
    AppendSource(out, N, "-Position", positions, 3, {"X", "Y", "Z"});
    AppendSource(out, N, "-Normals", normals, 3, {"X", "Y", "Z"});
    AppendSource(out, N, "-UV", texCoords, 2, {"S", "T"});
    out += "        <vertices id=\"" + N + "-Vertex\">\n";
    out += "          <input semantic=\"POSITION\" source=\"#" + N + "-Position\"/>\n";
    out += "        </vertices>\n";
    if (!triangles.empty()) {
        // The last node that instantiates this geometry gives the material symbol.
        std::string material;
        for (const auto& node : scenes.nodes)
            if (node->geometryName == name)
                material = node->materialName;
        out += "        <triangles count=\"" + Int(static_cast<long long>(triangles.size()) / 3) + "\" material=\"" +
               XmlEscape(material) + "\">\n";
        out += "          <input offset=\"0\" semantic=\"VERTEX\" source=\"#" + N + "-Vertex\"/>\n";
        out += "          <input offset=\"1\" semantic=\"NORMAL\" source=\"#" + N + "-Normals\"/>\n";
        // Set 0: every node binds the effects' CHANNEL0 to it, and readers that take the set from
        // the digit in that name (assimp) find the same one.
        out += "          <input offset=\"2\" semantic=\"TEXCOORD\" source=\"#" + N + "-UV\" set=\"0\"/>\n";
        out += "          <p>";
        // De-indexed: position, normal and texture coordinate of a corner share one index.
        for (size_t i = 0; i < triangles.size(); ++i) {
            for (int copy = 0; copy < 3; ++copy) {
                if (i > 0 || copy > 0)
                    out += ' ';
                AppendInt(out, triangles[i]);
            }
        }
        out += "          </p>\n";
        out += "        </triangles>\n";
    }
    out += "      </mesh>\n";
    out += "    </geometry>\n";
    return out;
}

std::string TLibraryGeometries::GeometriesXml(const TLibraryVisualScenes& scenes) const
{
    std::string out;
    for (const auto& geometry : geometries)
        out += geometry->GeometryXml(scenes);
    return out;
}

std::string TLibraryImages::ImagesXml(std::string_view prefix) const
{
    std::string out;
    for (size_t i = 0; i < names.size() && i < files.size(); ++i) {
        const std::string N = XmlEscape(names[i]);
        out += "    <image id=\"" + N + "\" name=\"" + N + "\">\n";
        out += "    \t <init_from>" + XmlEscape(prefix) + XmlEscape(FilePart(files[i])) + "</init_from>\n";
        out += "    </image>\n";
    }
    return out;
}

std::string TColladaAsset::MaterialsXml() const
{
    std::string out;
    for (const auto& effect : effects.effects) {
        const std::string& E = effect->name;
        size_t dash = E.rfind('-');
        const std::string I = XmlEscape(dash == std::string::npos ? E : E.substr(0, dash));
        out += "  \t<material id=\"" + I + kMaterialIdSuffix + "\" name=\"" + I + "\">\n";
        out += "      <instance_effect url=\"#" + XmlEscape(E) + "\"/>\n";
        out += "    </material>\n";
    }
    return out;
}

std::string TNode::NodeXml() const
{
    const std::string N = XmlEscape(name);
    const std::string G = XmlEscape(geometryName);
    const std::string M = XmlEscape(materialName);
    std::string out;
    out += "      <node layer=\"L1\" id=\"" + N + kNodeIdSuffix + "\" name=\"" + N + "\">\n";
    out += "        <translate sid=\"translate\">" + Float(translate[0]) + " " + Float(translate[1]) + " " +
           Float(translate[2]) + "</translate>\n";
    // Z, Y, X: the order the node reader expects.
    out += "        <rotate sid=\"rotateZ\">0 0 1 " + Float(rotate[2]) + "</rotate>\n";
    out += "        <rotate sid=\"rotateY\">0 1 0 " + Float(rotate[1]) + "</rotate>\n";
    out += "        <rotate sid=\"rotateX\">1 0 0 " + Float(rotate[0]) + "</rotate>\n";
    out += "        <scale sid=\"scale\">" + Float(scale[0]) + " " + Float(scale[1]) + " " + Float(scale[2]) +
           "</scale>\n";
    out += "        <instance_geometry url=\"#" + G + "\">\n";
    out += "          <bind_material>\n";
    out += "            <technique_common>\n";
    out += "              <instance_material symbol=\"" + M + "\" target=\"#" + M + kMaterialIdSuffix + "\">\n";
    out += "                <bind_vertex_input input_semantic=\"TEXCOORD\" input_set=\"0\" semantic=\"CHANNEL0\"/> \n";
    out += "              </instance_material>\n";
    out += "            </technique_common>\n";
    out += "          </bind_material>\n";
    out += "        </instance_geometry>\n";
    out += "      </node>\n";
    return out;
}

std::string TLibraryVisualScenes::NodesXml() const
{
    std::string out;
    for (const auto& node : nodes)
        out += node->NodeXml();
    return out;
}

// Whatever the effect held when read, it is written as one fixed Phong description sampling its
// image; the irregular indentation is the document layout the export has always produced.
std::string TEffect::EffectXml() const
{
    const std::string N = XmlEscape(name);
    const std::string I = XmlEscape(imageName);
    std::string out;
    out += "    <effect id=\"" + N + "\" name=\"" + N + "\">\n";
    out += "      <profile_COMMON>\n";
    out += "      \t <newparam sid=\"" + I + "-surface\">\n";
    out += "      \t   <surface type=\"2D\">\n";
    out += "      \t \t\t <init_from>" + I + "</init_from>\n";
    out += "      \t \t\t \t<format>A8R8G8B8</format>\n";
    out += "      \t \t\t</surface>\n";
    out += "      \t \t</newparam>\n";
    out += "      \t \t<newparam sid=\"" + I + "-sampler\">\n";
    out += "      \t \t\t<sampler2D>\n";
    out += "      \t \t\t  <source>" + I + "-surface</source>\n";
    out += "      \t \t\t  <minfilter>LINEAR_MIPMAP_LINEAR</minfilter>\n";
    out += "      \t \t\t\t<magfilter>LINEAR</magfilter>\n";
    out += "      \t \t\t</sampler2D>\n";
    out += "      \t \t</newparam>\n";
    out += "      \t <technique sid=\"render\">\n";
    out += "      \t   <phong>\n";
    out += "      \t \t   <emission>\n";
    out += "      \t   \t   <color>0.00000 0.00000 0.00000 1</color>\n";
    out += "      \t \t   </emission>\n";
    out += "        \t \t <ambient>\n";
    out += "        \t \t   <color>0.50000 0.50000 0.50000 1</color>\n";
    out += "        \t \t </ambient>\n";
    out += "        \t \t <diffuse>\n";
    out += "      \t   \t   <texture texcoord=\"CHANNEL0\" texture=\"" + I + "-sampler\"/>\n";
    out += "      \t   \t </diffuse>\n";
    out += "      \t   \t <specular>\n";
    out += "      \t   \t   <color>0.10000 0.10000 0.10000 1</color>\n";
    out += "      \t   \t </specular>\n";
    out += "      \t   \t <shininess>\n";
    out += "      \t   \t   <float>8.0</float>\n";
    out += "      \t   \t </shininess>\n";
    out += "      \t   \t <reflective>\n";
    out += "      \t   \t   <color>1.00000 1.00000 1.00000 1</color>\n";
    out += "      \t  \t </reflective>\n";
    out += "      \t  \t <reflectivity>\n";
    out += "      \t  \t   <float>0.0</float>\n";
    out += "      \t  \t </reflectivity>\n";
    out += "      \t  \t <transparent>\n";
    out += "      \t  \t   <color>1 1 1 1</color>\n";
    out += "      \t  \t </transparent>\n";
    out += "      \t  \t <transparency>\n";
    // With the A_ONE default a transparency of 1 is fully opaque.
    out += "      \t  \t   <float>1.0</float>\n";
    out += "      \t  \t </transparency>\n";
    // Some readers (Blender) take a missing index of refraction for a negative one; 1.4 is about skin's.
    out += "      \t  \t <index_of_refraction>\n";
    out += "      \t  \t   <float>1.4</float>\n";
    out += "      \t  \t </index_of_refraction>\n";
    out += "      \t   </phong>\n";
    out += "      \t </technique>\n";
    out += "    \t </profile_COMMON>\n";
    out += "    </effect>\n";
    return out;
}

std::string TLibraryEffects::EffectsXml() const
{
    std::string out;
    for (const auto& effect : effects)
        out += effect->EffectXml();
    return out;
}
