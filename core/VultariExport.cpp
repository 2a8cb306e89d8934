// COLLADA export of the reconstructed head: the three models in one document, their textures copied
// into a "textures" folder beside it under names of that document's own.
#include "core/VultariExport.h"

#include "collada/Colladaasset.h"
#include "core/Vultari.h"
#include "platform/base/Messages.h"
#include "platform/base/Numbers.h"
#include "platform/base/Paths.h"
#include "platform/xml/Xmlescape.h"
#include "render/Colladaengine.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
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

bool WriteAll(int fd, std::string_view text)
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

std::string PercentEncodedPath(const std::string& path)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (char c : path) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (std::isalnum(b) && b < 0x80)
            out += c;
        else if (c == '-' || c == '.' || c == '_' || c == '~' || c == '/')
            out += c;
        else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

std::string ColladaSourceUri(const std::string& documentPath)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(documentPath, ec);
    if (ec)
        absolute = documentPath;
    return "file://" + PercentEncodedPath(absolute.lexically_normal().string());
}

std::string ColladaTextureName(const std::string& documentPath, const std::string& file)
{
    std::string stem = documentPath.substr(documentPath.rfind('/') == std::string::npos ? 0 : documentPath.rfind('/') + 1);
    if (stem.size() > 4 && stem.ends_with(".dae"))
        stem.resize(stem.size() - 4);
    // A document read back and written again already names its own copies.
    if (file.starts_with(stem + "-"))
        return file;
    return stem + "-" + file;
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
    doc += "      <source_data>" + XmlEscape(ColladaSourceUri(documentPath)) + "</source_data>\n";
    doc += "    </contributor>\n";
    doc += "    <created>" + timeStamp + "</created>\n";
    doc += "    <modified>" + timeStamp + "</modified>\n";
    // The generic head's data says how long its unit is; the reconstruction keeps that unit.
    doc += "\t  <unit meter=\"" + FormatG(head.unitMeter) + "\"";
    if (!head.unitName.empty())
        doc += " name=\"" + XmlEscape(head.unitName) + "\"";
    doc += "/>\n";
    doc += "\t  <up_axis>Z_UP</up_axis>\n";
    doc += "  </asset>\n";
    doc += "  <library_effects>\n";
    for (const TColladaAsset* m : models)
        doc += m->effects.EffectsXml();
    doc += "  </library_effects>\n";
    doc += "  <library_images>\n";
    // The hair samples the head's texture under the head's image name; one image element serves both.
    // Each image names this document's own copy of its file, as a relative URI.
    TLibraryImages images;
    for (const TColladaAsset* m : models)
        for (size_t i = 0; i < m->images.names.size() && i < m->images.files.size(); ++i)
            if (images.IndexOf(m->images.names[i]) < 0) {
                const std::string& file = m->images.files[i];
                const size_t cut = file.find_last_of("\\/:");
                images.names.push_back(m->images.names[i]);
                images.files.push_back(
                    PercentEncodedPath(ColladaTextureName(documentPath, cut == std::string::npos ? file : file.substr(cut + 1))));
            }
    doc += images.ImagesXml(ExportTexturePrefix);
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

StagedFiles::~StagedFiles()
{
    Discard();
}

void StagedFiles::Discard()
{
    for (const Entry& e : entries)
        ::unlink(e.temp.c_str());
    entries.clear();
}

bool StagedFiles::Failed(const std::string& path, int error, bool reading)
{
    problem = ExportProblem{path, error, reading};
    return false;
}

bool StagedFiles::Stage(const std::string& path, const std::function<bool(int fd)>& fill)
{
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Failed(path, errno);
    // The first error is the one to report; a fill that failed has recorded its own.
    problem = ExportProblem{};
    int error = 0;
    if (!fill(fd))
        error = problem.error != 0 ? problem.error : errno;
    else if (::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    // mkstemp makes the file private; an export is a set of ordinary files for their readers.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (error == 0 && ::chmod(temp.c_str(), 0666 & ~mask) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return problem.reading ? false : Failed(path, error);
    }
    entries.push_back({path, temp});
    return true;
}

bool StagedFiles::Write(const std::string& path, const std::string& text)
{
    return Stage(path, [&](int fd) { return WriteAll(fd, text); });
}

bool StagedFiles::Copy(const std::string& from, const std::string& path)
{
    std::error_code ec;
    if (std::filesystem::equivalent(from, path, ec))
        return true;
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return Failed(from, errno, true);
    bool ok = Stage(path, [&](int out) {
        std::string buffer(1 << 16, '\0');
        for (;;) {
            ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Failed(from, errno, true);
            if (n == 0)
                return true;
            if (!WriteAll(out, std::string_view(buffer.data(), static_cast<size_t>(n))))
                return false;
        }
    });
    ::close(in);
    return ok;
}

bool StagedFiles::Commit()
{
    // Only files are replaced: a folder (or anything else) under a final name fails the whole set
    // before anything is renamed.
    for (const Entry& e : entries) {
        struct stat st{};
        if (::lstat(e.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            const std::string path = e.path;  // Discard drops the entries
            Discard();
            return Failed(path, S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
        }
    }
    // Each replaced file is kept under a spare name until all are in place, to be put back if a
    // later one fails. A hard link keeps the old file under its own name meanwhile; where the file
    // system has none, the old file is moved aside for the moment of the rename.
    struct Done {
        std::string path, kept;  // kept: the spare name of the replaced file; empty when there was none
    };
    std::vector<Done> done;
    auto putBack = [&] {
        Discard();
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            if (it->kept.empty()) {
                ::unlink(it->path.c_str());
                continue;
            }
            renameFile(it->kept.c_str(), it->path.c_str());
        }
    };
    for (const Entry& e : entries) {
        Done d{e.path, {}};
        struct stat st{};
        if (::lstat(e.path.c_str(), &st) == 0) {
            std::string kept = e.path + ".old-XXXXXX";
            int fd = ::mkstemp(kept.data());
            bool aside = fd >= 0;
            if (aside) {
                ::close(fd);
                ::unlink(kept.c_str());
                aside = ::link(e.path.c_str(), kept.c_str()) == 0 || renameFile(e.path.c_str(), kept.c_str()) == 0;
            }
            if (!aside) {
                Failed(e.path, errno);
                putBack();
                return false;
            }
            d.kept = kept;
        }
        if (renameFile(e.temp.c_str(), e.path.c_str()) != 0) {
            Failed(e.path, errno);
            if (!d.kept.empty()) {
                renameFile(d.kept.c_str(), e.path.c_str());
                ::unlink(d.kept.c_str());  // still there when it was a link to the file in place
            }
            putBack();
            return false;
        }
        done.push_back(d);
    }
    for (const Done& d : done)
        if (!d.kept.empty())
            ::unlink(d.kept.c_str());
    entries.clear();
    return true;
}

std::string ExportFailureMessage(const ExportProblem& problem, const std::string& folder)
{
    const std::string failed = "Error: the model was not exported: ";
    const std::string kept = " The files already there are kept.";
    const std::string reason = std::strerror(problem.error);
    if (problem.reading)
        return failed + "\"" + problem.path + "\" cannot be read (" + reason + ")." + kept;
    if (problem.error == ENOENT)
        return failed + "the folder \"" + (folder.empty() ? std::string(".") : folder) + "\" does not exist.";
    if (problem.error == ENOSPC || problem.error == EDQUOT)
        return failed + "the disk is full." + kept;
    return failed + "\"" + problem.path + "\" cannot be written (" + reason + ")." + kept;
}

bool WriteFileAtomically(const std::string& path, const std::string& text)
{
    StagedFiles files;
    return files.Write(path, text) && files.Commit();
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
    const bool madeTextures = fs::create_directory(textures, ec);
    if (ec || !fs::is_directory(textures)) {
        ShowMessage(ExportFailureMessage({textures.string(), ec ? ec.value() : ENOTDIR}, dir));
        return false;
    }
    // Nothing replaces a file of an earlier export until every file of this one is written in full.
    ExportProblem problem;
    bool ok = [&] {
        StagedFiles files;
        bool done = true;
        for (const char* file : kTextureFiles)
            if (done && !files.Copy(ProgramFolder() + "data/textures/" + file, (textures / ColladaTextureName(name, file)).string()))
                done = false;
        std::tm now = Clock() ? Clock()() : LocalNow();
        done = done && files.Write(name, ColladaDocumentText(*head, *eyes, *hairs, name, ColladaTimeStamp(now))) &&
               files.Commit();
        problem = files.Problem();
        return done;
    }();
    if (!ok) {
        if (madeTextures)
            fs::remove(textures, ec);  // only while empty: what it holds is not ours
        ShowMessage(ExportFailureMessage(problem, dir));
        return false;
    }
    return true;
}
