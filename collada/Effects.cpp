// Reading the effects of a COLLADA document: only the name and the sampled image.
#include "collada/Effects.h"

bool TEffect::Load(IXMLNode effect)
{
    name = effect.Attribute("name");
    IXMLNode profile = effect.FindChild("profile_COMMON");
    if (!profile)
        return true;
    // The first newparam holding a surface decides, even when that surface has no init_from.
    for (IXMLNode param = profile.FindChild("newparam"); param; param = param.NextSibling()) {
        if (param.NodeName() != "newparam")
            continue;
        IXMLNode surface = param.FindChild("surface");
        if (!surface)
            continue;
        if (IXMLNode init = surface.FindChild("init_from"))
            imageName = init.Text();
        break;
    }
    return true;
}

bool TLibraryEffects::Load(IXMLNode library)
{
    // The first effect and every element after it, whatever its name.
    for (IXMLNode e = library.FindChild("effect"); e; e = e.NextSibling()) {
        auto effect = std::make_unique<TEffect>();
        effect->Load(e);
        effects.push_back(std::move(effect));
    }
    return true;
}

int TLibraryEffects::IndexOf(std::string_view name) const
{
    for (size_t i = 0; i < effects.size(); ++i)
        if (effects[i]->name == name)
            return static_cast<int>(i);
    return -1;
}
