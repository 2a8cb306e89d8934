#pragma once
// Software previews of the generic head (shaded, and with a checker in the atlas layout).
#include <string>

#include "tools/genhead/Generic.h"

void WritePreviews(const GenericData& d, const std::string& folder);
