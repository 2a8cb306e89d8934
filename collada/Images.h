#pragma once
// The images of a COLLADA document: names and file paths.
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/Xmldocument.h"

// The folder prefix the export gives ImagesXml: its texture copies lie in "textures" beside the document.
inline constexpr const char* ExportTexturePrefix = "textures/";

class TLibraryImages {
public:
    // Parallel lists, always of equal length: entry i of both describes image i.
    std::vector<std::string> names;   // "name" attribute (empty when absent)
    std::vector<std::string> files;   // init_from text: the image file's path as the document gives it

    // Every element from the first "image" child on that has an "init_from" child. Always true.
    bool Load(IXMLNode library);
    // Index of the first entry of `names` equal to this name; -1 when none.
    int IndexOf(std::string_view name) const;
    // One "image" element per entry, its file given as `prefix` followed by the file's name part
    // (after its last backslash, "/" or ":").
    std::string ImagesXml(std::string_view prefix) const;
};
