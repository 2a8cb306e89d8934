#pragma once
// Writes the generated data tree: the three COLLADA models, the weight maps, the placeholder
// textures and the feature points. Every file is written to a temporary name and renamed.
#include <string>

#include "tools/genhead/Generic.h"

// Throws std::runtime_error naming the file when a write fails.
void WriteDataTree(const GenericData& d, const std::string& root);
