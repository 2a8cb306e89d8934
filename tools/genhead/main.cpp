// genhead: builds the generic head, eyes, hair, weight maps and placeholder textures of the data
// tree from the MakeHuman base mesh. Usage: genhead <human.zae> <data folder> [<preview folder>]
#include <cstdio>
#include <exception>

#include "tools/genhead/Generic.h"
#include "tools/genhead/Output.h"
#include "tools/genhead/Previews.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: genhead <human.zae> <data folder> [<preview folder>]\n");
        return 2;
    }
    try {
        GenericData d = BuildGeneric(argv[1]);
        WriteDataTree(d, argv[2]);
        if (argc > 3) WritePreviews(d, argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "genhead: %s\n", e.what());
        return 1;
    }
    return 0;
}
