#pragma once
// Pieces of the COLLADA export that work without a core object: the output name, the document
// text, the time stamp and the all-or-nothing file writer. TVultari::ExportCollada puts them together.
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class TColladaAsset;

// The document's name: the extension of the file name (not of a folder) becomes ".dae"; a name
// without one gets ".dae" appended. "/home/a.b/head" -> "/home/a.b/head.dae". Empty when the path
// names no file (empty, or ending in "/").
std::string ColladaExportName(const std::string& path);

// The folder part of a path up to and including its last "/"; empty when it has none.
std::string ColladaExportFolder(const std::string& path);

// A path as a URI path: every byte but letters, digits, "-", ".", "_", "~" and "/" as %XX.
std::string PercentEncodedPath(const std::string& path);

// The document's "file://" URI; a relative path is taken from the current folder.
std::string ColladaSourceUri(const std::string& documentPath);

// The name of one texture copy of a document in its "textures" folder: the document's file name
// without ".dae", "-", the texture's file name. "/out/head.dae", "eye.bmp" -> "head-eye.bmp"; so
// two documents exported into one folder keep their own textures. A texture name that already
// starts so is kept.
std::string ColladaTextureName(const std::string& documentPath, const std::string& file);

// "%Y-%m-%dT%H:%M:%S.000000" of a broken-down local time.
std::string ColladaTimeStamp(const std::tm& time);

// The whole document for the three models in the order head, eyes, hairs; `documentPath` is the
// ".dae" name: its URI is the source_data line, and each image names the document's own copy of its
// file in "textures" (ColladaTextureName, percent-encoded). Lines end in "\n"; no line end after
// the closing tag. The document's unit is the head model's own. An image that an earlier model
// already brought under the same name is written once: the models share it.
std::string ColladaDocumentText(const TColladaAsset& head, const TColladaAsset& eyes, const TColladaAsset& hairs,
                                const std::string& documentPath, const std::string& timeStamp);

// Why a file of an export could not be made: the file (or, for a missing folder, the path that
// needed it), the system's error number, and whether it was a source being read.
struct ExportProblem {
    std::string path;
    int error = 0;
    bool reading = false;
};

// The message for a failed export into `folder`: a missing folder, a full disk, an unreadable
// source and any other write error each say so. Nothing of an earlier export is lost in any case.
std::string ExportFailureMessage(const ExportProblem& problem, const std::string& folder);

// The files of one export, each first written in full under a temporary name beside its final
// name; Commit then renames them all into place. Until Commit succeeds the final names keep what
// they held: a failed write or copy removes its temporary file, a failed Commit puts back the files
// it had replaced, and the destructor removes whatever was staged but not committed.
class StagedFiles {
public:
    // `rename` moves a file into place (the C library's by default; tests make it fail).
    using RenameFunction = std::function<int(const char* from, const char* to)>;
    explicit StagedFiles(RenameFunction rename = ::rename) : renameFile(std::move(rename)) {}
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;
    ~StagedFiles();

    // Stages `text` as the new content of `path`. False when it cannot be written in full.
    bool Write(const std::string& path, const std::string& text);
    // Stages a copy of the file `from` as the new content of `path`. A `path` that already is the
    // file `from` (the same file under any name) needs no copy and stages nothing.
    bool Copy(const std::string& from, const std::string& path);
    // Renames every staged file to its final name, in staging order. False, with every final name
    // as it was before and the temporary files removed, when any of them cannot be replaced (a
    // folder in the way, for instance).
    bool Commit();
    // What made the last failed call fail.
    const ExportProblem& Problem() const { return problem; }

private:
    struct Entry {
        std::string path, temp;
    };
    bool Stage(const std::string& path, const std::function<bool(int fd)>& fill);
    void Discard();  // removes every temporary file
    bool Failed(const std::string& path, int error, bool reading = false);  // records it; false
    RenameFunction renameFile;
    std::vector<Entry> entries;
    ExportProblem problem;
};

// Writes `text` to a temporary file beside `path`, flushes and closes it, then renames it over
// `path`. On any failure the temporary file is removed, `path` is left as it was, and false is returned.
bool WriteFileAtomically(const std::string& path, const std::string& text);

// The clock of the export's created/modified stamp: local time by default. Tests install a fixed
// one; an empty function restores the default. Returns the previous clock.
using ExportClock = std::function<std::tm()>;
ExportClock SetExportClock(ExportClock clock);
