// COLLADA export of the reconstructed head: the three models in one document, their textures copied
// into a "textures" folder beside it.
#include "core/VultariExport.h"

#include "collada/Colladaasset.h"
#include "core/Vultari.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "platform/xml/Xmlescape.h"
#include "render/Colladaengine.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kWriteError = "Writing file error, please try it again.";
// Where the authoring-tool line says the program comes from.
const char* const kMakerAddress = "https://example.org/vultari";
const char* const kTextureFiles[] = {"headtexture.bmp", "normalmap.bmp", "eye.bmp"};

std::tm LocalNow()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

ExportClock& Clock()
{
    static ExportClock clock;
    return clock;
}

bool WriteAll(int fd, const std::string& text)
{
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

const TColladaAsset* ModelAt(const TColladaEngine& engine, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= engine.models.size())
        return nullptr;
    return engine.models[static_cast<size_t>(index)];
}

} // namespace

std::string ColladaExportName(const std::string& path)
{
    size_t slash = path.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (nameStart >= path.size())
        return std::string();
    size_t dot = path.rfind('.');
    // A leading dot belongs to a hidden file's name, not to an extension.
    if (dot == std::string::npos || dot <= nameStart)
        return path + ".dae";
    return path.substr(0, dot) + ".dae";
}

std::string ColladaExportFolder(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ColladaTimeStamp(const std::tm& time)
{
    char text[80];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000", &time);
    return std::string(text, n);
}

std::string ColladaDocumentText(const TColladaAsset& head, const TColladaAsset& eyes, const TColladaAsset& hairs,
                                const std::string& documentPath, const std::string& timeStamp)
{
    const TColladaAsset* models[] = {&head, &eyes, &hairs};
    std::string doc;
    doc += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    doc += "<COLLADA version=\"1.4.0\" xmlns=\"http://www.collada.org/2005/11/COLLADASchema\">\n";
    doc += "  <asset>\n";
    doc += "    <contributor>\n";
    doc += "      <author></author>\n";
    doc += std::string("      <authoring_tool>Vultari from ") + kMakerAddress + "</authoring_tool>\n";
    doc += "      <comments/>\n";
    doc += "      <copyright/>\n";
    doc += "      <source_data>file://" + XmlEscape(documentPath) + "</source_data>\n";
    doc += "    </contributor>\n";
    doc += "    <created>" + timeStamp + "    </created>\n";
    doc += "    <modified>" + timeStamp + "    </modified>\n";
    doc += "\t  <unit meter=\"0.01\" name=\"centimeter\"/>\n";
    doc += "\t  <up_axis>Z_UP</up_axis>\n";
    doc += "  </asset>\n";
    doc += "  <library_effects>\n";
    for (const TColladaAsset* m : models)
        doc += m->effects.EffectsXml();
    doc += "  </library_effects>\n";
    doc += "  <library_images>\n";
    for (const TColladaAsset* m : models)
        doc += m->images.ImagesXml(ExportTexturePrefix);
    doc += "  </library_images>\n";
    doc += "  <library_materials>\n";
    for (const TColladaAsset* m : models)
        doc += m->MaterialsXml();
    doc += "  </library_materials>\n";
    doc += "<library_geometries>\n";
    for (const TColladaAsset* m : models)
        doc += m->geometries.GeometriesXml(m->visualScenes);
    doc += "  </library_geometries>\n";
    doc += "  <library_visual_scenes>\n";
    doc += "    <visual_scene id=\"Scene\" name=\"Scene\">\n";
    for (const TColladaAsset* m : models)
        doc += m->visualScenes.NodesXml();
    doc += "    </visual_scene>\n";
    doc += "  </library_visual_scenes>\n";
    doc += "  <scene>\n";
    doc += "  \t<instance_visual_scene url=\"#Scene\"/>\n";
    doc += "  </scene>\n";
    doc += "</COLLADA>";
    return doc;
}

bool WriteFileAtomically(const std::string& path, const std::string& text)
{
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    // mkstemp makes the file private; a document is an ordinary file for its reader.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ok && ::chmod(temp.c_str(), 0666 & ~mask) == 0;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

ExportClock SetExportClock(ExportClock clock)
{
    return std::exchange(Clock(), std::move(clock));
}

bool TVultari::ExportCollada(const std::string& path)
{
    if (!reconstructed || engine == nullptr)
        return false;
    const TColladaAsset* head = ModelAt(*engine, headModel);
    const TColladaAsset* eyes = ModelAt(*engine, eyesModel);
    const TColladaAsset* hairs = ModelAt(*engine, hairsModel);
    std::string name = ColladaExportName(path);
    if (head == nullptr || eyes == nullptr || hairs == nullptr || name.empty()) {
        ShowMessage(kWriteError);
        return false;
    }
    std::string dir = ColladaExportFolder(name);

    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path textures = fs::path(dir.empty() ? "." : dir) / "textures";
    fs::create_directory(textures, ec);
    if (ec || !fs::is_directory(textures, ec)) {
        ShowMessage(kWriteError);
        return false;
    }
    for (const char* file : kTextureFiles) {
        fs::copy_file(ProgramFolder() + "data/textures/" + file, textures / file, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            ShowMessage(kWriteError);
            return false;
        }
    }

    std::tm now = Clock() ? Clock()() : LocalNow();
    std::string text = ColladaDocumentText(*head, *eyes, *hairs, name, ColladaTimeStamp(now));
    if (!WriteFileAtomically(name, text)) {
        ShowMessage(kWriteError);
        return false;
    }
    return true;
}
