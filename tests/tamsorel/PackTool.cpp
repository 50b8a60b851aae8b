// A tiny command-line driver over the back end, for measuring time and memory on large
// files and for looking at archives by hand: tamsorel_pack ARCHIVE FILE...
// Each file is stored under the name derived from its path.

#include "tamsorel/tamsorel.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE FILE...\n", argv[0]);
        return 2;
    }
    ArchiveHandle archive = ArchiveOpen(argv[1], 0);
    if (!archive) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        if (!ArchiveAddFile(archive, argv[i], nullptr, 0, nullptr)) {
            std::fprintf(stderr, "not added: %s\n", argv[i]);
            ++failures;
        }
    }
    if (!ArchiveClose(&archive)) {
        std::fprintf(stderr, "cannot finish %s\n", argv[1]);
        return 1;
    }
    return failures ? 1 : 0;
}
