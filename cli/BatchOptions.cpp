#include "cli/BatchOptions.h"

namespace kelvane::batch {

namespace {

BatchOptions Fail(std::string message)
{
    BatchOptions options;
    options.action = BatchOptions::Action::UsageError;
    options.error = std::move(message);
    return options;
}

} // namespace

BatchOptions ParseArguments(const std::vector<std::string> &args)
{
    BatchOptions options;
    bool sawHelp = false;
    bool sawVersion = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-")
            return Fail("unexpected argument '" + arg + "'");
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            sawHelp = true;
        } else if (arg == "--version" || arg == "-V") {
            sawVersion = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (arg == "--settings" || arg.rfind("--settings=", 0) == 0) {
            if (options.hasSettingsPath)
                return Fail("option '--settings' given more than once");
            std::string path;
            if (arg == "--settings") {
                // The next argument is the file, whatever it looks like: a file may be
                // named "-x". Only its absence is an error.
                if (i + 1 >= args.size())
                    return Fail("option '--settings' needs a FILE argument");
                path = args[++i];
            } else {
                path = arg.substr(sizeof("--settings=") - 1);
            }
            if (path.empty())
                return Fail("option '--settings' needs a FILE argument");
            options.hasSettingsPath = true;
            options.settingsPath = path;
        } else {
            return Fail("unknown option '" + arg + "'");
        }
    }
    if (options.quiet && options.verbose)
        return Fail("options '--quiet' and '--verbose' exclude each other");
    // Help and version win over everything else that parsed, as usual.
    if (sawHelp)
        options.action = BatchOptions::Action::Help;
    else if (sawVersion)
        options.action = BatchOptions::Action::Version;
    return options;
}

std::string UsageText()
{
    return "Usage: kelvane-batch [OPTION]...\n"
           "Runs one Kelvane archiving job without a window, with the settings of\n"
           "kelvane.ini in the current directory (the defaults when there is none).\n"
           "\n"
           "Options:\n"
           "      --settings FILE  read the job settings from FILE instead\n"
           "  -q, --quiet          no progress output; reports are still shown\n"
           "  -v, --verbose        one progress line per file instead of the bar\n"
           "      --verify         after the run, read every archive and copy it placed\n"
           "                       back from the storage and check it: each entry\n"
           "                       inflated, its CRC-32 and sizes compared, copies\n"
           "                       compared with their sources byte for byte\n"
           "  -h, --help           show this help and exit\n"
           "  -V, --version        show the version and exit\n"
           "\n"
           "Ctrl+C, SIGTERM or SIGHUP stop the run after the file in hand; archives\n"
           "written so far are complete.\n"
           "\n"
           "Exit status:\n"
           "  0    every matching file was placed\n"
           "  1    the run reported something (name conflicts, files not archived, a\n"
           "       folder that could not be made, an output that failed verification);\n"
           "       the reports are on standard error\n"
           "  2    bad command line, or the --settings file cannot be read\n"
           "  130  the run or its verification was stopped\n";
}

} // namespace kelvane::batch
