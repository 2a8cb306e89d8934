// genhead: builds the generic head, eyes, hair, weight maps and placeholder textures of the data
// tree from the MakeHuman base mesh.
// Usage: genhead [--wider S] [--nose-longer S] <human.zae> <data folder> [<preview folder>]
// The options make another head from the figure (S a share: 0.08 is 8 % more), for trying the
// program on a generic head it was not made with. The head's own front photo is measured with the
// front-face cascade and skin table of the program folder beside genhead (haarcascades/, data/).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tools/genhead/Generic.h"
#include "tools/genhead/Output.h"
#include "tools/genhead/Previews.h"

namespace {
// A share between -0.5 and 0.5, or false.
bool ParseShare(const char* text, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v > -0.5 && v < 0.5)) return false;
    *out = v;
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    HeadVariant variant;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        double* share = a == "--wider" ? &variant.wider : a == "--nose-longer" ? &variant.noseLonger : nullptr;
        if (share) {
            if (i + 1 >= argc || !ParseShare(argv[i + 1], share)) {
                std::fprintf(stderr, "genhead: %s wants a share between -0.5 and 0.5\n", a.c_str());
                return 2;
            }
            ++i;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() < 2 || paths.size() > 3) {
        std::fprintf(stderr, "usage: genhead [--wider S] [--nose-longer S] <human.zae> <data folder> [<preview folder>]\n");
        return 2;
    }
    try {
        GenericData d = BuildGeneric(paths[0], variant);
        WriteDataTree(d, paths[1]);
        if (paths.size() > 2) WritePreviews(d, paths[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "genhead: %s\n", e.what());
        return 1;
    }
    return 0;
}
