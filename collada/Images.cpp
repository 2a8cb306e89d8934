// Reading the images of a COLLADA document.
#include "collada/Images.h"

bool TLibraryImages::Load(IXMLNode library)
{
    // From the first image on, every element with an init_from counts, whatever its own name. A
    // missing name attribute gives the empty name.
    for (IXMLNode e = library.FindChild("image"); e; e = e.NextSibling()) {
        IXMLNode init = e.FindChild("init_from");
        if (!init)
            continue;
        names.push_back(e.Attribute("name"));
        files.push_back(init.Text());
    }
    return true;
}

int TLibraryImages::IndexOf(std::string_view name) const
{
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return static_cast<int>(i);
    return -1;
}
