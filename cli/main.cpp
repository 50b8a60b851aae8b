// kelvane-batch: one archiving job without a window, for scheduled and scripted runs.
#include "cli/Batch.h"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kelvane::batch::BatchMain(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1, true);
}
