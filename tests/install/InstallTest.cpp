// The installed program: an install moved elsewhere still runs and archives; the desktop
// files validate; the manual page and the shell completion keep up with --help; and the
// Debian package holds exactly the installed files, runs, and passes lintian.

#include "settings/JobSettings.h"
#include "settings/SettingsFile.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace kelvane::test;

namespace {

// The output of a command that must succeed.
std::string Must(const std::string &command)
{
    std::string output;
    const int status = Shell(command, output);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    return output;
}

// Installs the build into dir/stage under the prefix /opt/kelvane, as `make install
// DESTDIR=...` does, and returns the installed tree.
std::string InstallInto(const TempDir &dir)
{
    Must("DESTDIR=" + ShellQuote(dir / "stage") + " " + ShellQuote(KELVANE_CMAKE) + " --install "
         + ShellQuote(KELVANE_BUILD_DIR) + " --prefix /opt/kelvane");
    return dir / "stage/opt/kelvane";
}

// The options a text names: every "-x" and "--word" at the start of an option line.
std::set<std::string> OptionsIn(const std::vector<std::string> &optionLines)
{
    std::set<std::string> options;
    const std::regex option("(^|[ ,])(--?[A-Za-z][A-Za-z-]*)");
    for (const std::string &line : optionLines)
        for (auto it = std::sregex_iterator(line.begin(), line.end(), option);
             it != std::sregex_iterator(); ++it)
            options.insert((*it)[2]);
    return options;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::uint32_t BigEndian(const std::string &bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return v;
}

} // namespace

TEST(InstalledTree, MovedElsewhereItFindsItsBackEndAndArchivesAFolder)
{
    TempDir dir;
    const std::string installed = InstallInto(dir);
    // The tree must not depend on where it was installed: move it before the first run.
    const std::string moved = dir / "elsewhere";
    fs::rename(installed, moved);
    const std::string batch = moved + "/bin/kelvane-batch";

    // The back end that loads is the one in the moved tree, not one in the build folder.
    const std::string ldd = Must("env -u LD_LIBRARY_PATH ldd " + ShellQuote(batch));
    EXPECT_NE(ldd.find("libtamsorel.so.1 => " + fs::canonical(moved).string() + "/"),
              std::string::npos)
        << ldd;

    MakeDirs(dir / "src");
    WriteFile(dir / "src/take1.avi", std::string(5000, 'a'));
    WriteFile(dir / "src/take1.txt", "notes on take 1\n");
    WriteFile(dir / "src/take2.avi", "take 2");
    kelvane::JobSettings job;
    job.sourceFolder = dir / "src";
    job.targetFolder = dir / "dst";
    job.createSubFolder = 0;
    job.storePathInZip = 0;
    WriteFile(dir / "job.ini", kelvane::FormatSettings(job));

    std::string output;
    const int status = Shell("env -u LD_LIBRARY_PATH " + ShellQuote(batch) + " --quiet --settings "
                                 + ShellQuote(dir / "job.ini"),
                             output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(ListDir(dir / "dst"), (std::vector<std::string> {"take1.zip", "take2.zip"}));
    ExpectReadersAgree(dir / "dst/take1.zip",
                       {{"take1.avi", std::string(5000, 'a')}, {"take1.txt", "notes on take 1\n"}});
    ExpectReadersAgree(dir / "dst/take2.zip", {{"take2.avi", "take 2"}});
}

#ifdef KELVANE_HAVE_GUI
TEST(InstalledTree, DesktopEntryMetainfoAndIconsValidate)
{
    if (!HaveTool("desktop-file-validate") || !HaveTool("appstreamcli"))
        GTEST_SKIP() << "desktop-file-validate or appstreamcli is not installed";
    TempDir dir;
    const std::string share = InstallInto(dir) + "/share";
    const std::vector<std::string> entries = ListDir(share + "/applications");
    ASSERT_EQ(entries.size(), 1u);
    const std::string entry = share + "/applications/" + entries[0];
    // Not even a hint: a category without its main category leaves the entry out of menus.
    EXPECT_EQ(Must("desktop-file-validate " + ShellQuote(entry)), "");
    const std::vector<std::string> metainfo = ListDir(share + "/metainfo");
    ASSERT_EQ(metainfo.size(), 1u);
    Must("appstreamcli validate --no-net " + ShellQuote(share + "/metainfo/" + metainfo[0]));
    EXPECT_NE(ReadFile(share + "/metainfo/" + metainfo[0]).find("<project_license>MIT<"),
              std::string::npos);

    // The icon the entry names is in the theme at the usual sizes, each a PNG as large as
    // its folder says.
    std::smatch icon;
    const std::string text = ReadFile(entry);
    ASSERT_TRUE(std::regex_search(text, icon, std::regex("\nIcon=([^\n]+)\n")));
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string side = std::to_string(size);
        const std::string png = ReadFile(share + "/icons/hicolor/" + side + "x" + side + "/apps/"
                                         + icon[1].str() + ".png");
        ASSERT_GE(png.size(), 24u) << side;
        EXPECT_EQ(png.substr(1, 3), "PNG");
        EXPECT_EQ(BigEndian(png, 16), static_cast<std::uint32_t>(size));
        EXPECT_EQ(BigEndian(png, 20), static_cast<std::uint32_t>(size));
    }
}
#endif

TEST(ManualPage, ListsTheOptionsOfHelpAsTheCompletionDoes)
{
    std::string help;
    ASSERT_EQ(Shell(ShellQuote(KELVANE_BATCH_BINARY) + " --help", help), 0);
    std::vector<std::string> helpLines;
    for (const std::string &line : Lines(help))
        if (std::regex_search(line, std::regex("^ +-")))
            helpLines.push_back(line);

    // The tagged paragraphs of the OPTIONS section, roff escapes of '-' undone.
    std::vector<std::string> manLines;
    bool inOptions = false;
    bool tagNext = false;
    for (std::string line : Lines(ReadFile(KELVANE_SOURCE_DIR "/packaging/man/kelvane-batch.1"))) {
        if (line.rfind(".SH", 0) == 0)
            inOptions = line == ".SH OPTIONS";
        else if (inOptions && line == ".TP")
            tagNext = true;
        else if (tagNext) {
            line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
            manLines.push_back(std::regex_replace(line, std::regex(R"(^\.[A-Z]+ )"), " "));
            tagNext = false;
        }
    }
    const std::set<std::string> helpOptions = OptionsIn(helpLines);
    EXPECT_GE(helpOptions.size(), 5u) << help;
    EXPECT_EQ(OptionsIn(manLines), helpOptions);

    // The completion offers every long option.
    std::smatch words;
    const std::string completion
        = ReadFile(KELVANE_SOURCE_DIR "/packaging/kelvane-batch.bash-completion");
    ASSERT_TRUE(std::regex_search(completion, words, std::regex("compgen -W '([^']*)'")));
    std::set<std::string> longOptions;
    for (const std::string &option : helpOptions)
        if (option.rfind("--", 0) == 0)
            longOptions.insert(option);
    EXPECT_EQ(OptionsIn({" " + words[1].str()}), longOptions);
}

TEST(DebianPackage, HoldsTheInstalledFilesRunsAndPassesLintian)
{
    for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps", "lintian", "file"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " is not installed (scripts/bootstrap package)";
    TempDir dir;
    Must(ShellQuote(KELVANE_CPACK) + " --config "
         + ShellQuote(KELVANE_BUILD_DIR "/CPackConfig.cmake") + " -G DEB -B "
         + ShellQuote(dir / "out"));
    std::vector<std::string> debs;
    for (const std::string &name : ListDir(dir / "out"))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0)
            debs.push_back(name);
    ASSERT_EQ(debs.size(), 1u);
    EXPECT_EQ(debs[0].rfind("kelvane_" KELVANE_VERSION "_", 0), 0u) << debs[0];
    const std::string deb = dir / ("out/" + debs[0]);

    // Exactly the programs, the private back end and the desktop and documentation files;
    // nothing of the tests or benchmarks.
    std::set<std::string> files;
    for (const std::string &line :
         Lines(Must("dpkg-deb --fsys-tarfile " + ShellQuote(deb) + " | tar -t")))
        if (line.back() != '/')
            files.insert(line);
    std::set<std::string> expected = {
        "./usr/bin/kelvane-batch",
        "./usr/lib/kelvane/libtamsorel.so.1",
        "./usr/lib/kelvane/libtamsorel.so." KELVANE_VERSION,
        "./usr/share/bash-completion/completions/kelvane-batch",
        "./usr/share/doc/kelvane/changelog.gz",
        "./usr/share/doc/kelvane/copyright",
        "./usr/share/man/man1/kelvane-batch.1.gz",
    };
#ifdef KELVANE_HAVE_GUI
    expected.insert({"./usr/bin/kelvane", "./usr/share/man/man1/kelvane.1.gz",
                     "./usr/share/applications/org.kelvane.Kelvane.desktop",
                     "./usr/share/metainfo/org.kelvane.Kelvane.metainfo.xml"});
    for (const char *size : {"16", "32", "48", "64", "128", "256"})
        expected.insert(std::string("./usr/share/icons/hicolor/") + size + "x" + size
                        + "/apps/kelvane.png");
#endif
    EXPECT_EQ(files, expected);

    // Its dependencies were worked out from the binaries.
    const std::string depends = Must("dpkg-deb -f " + ShellQuote(deb) + " Depends");
    EXPECT_NE(depends.find("libc6"), std::string::npos) << depends;
    EXPECT_NE(depends.find("zlib1g"), std::string::npos) << depends;

    // Unpacked anywhere, its batch program runs with its own back end.
    Must("dpkg-deb -x " + ShellQuote(deb) + " " + ShellQuote(dir / "root"));
    EXPECT_EQ(Must("env -u LD_LIBRARY_PATH " + ShellQuote(dir / "root/usr/bin/kelvane-batch")
                   + " --version"),
              "kelvane-batch " KELVANE_VERSION "\n");

    std::string lintian;
    const int status = Shell("lintian --fail-on error " + ShellQuote(deb), lintian);
    EXPECT_EQ(status, 0) << lintian;
    std::cout << lintian; // the warnings, for the log

    // The copyright file as a reader of the machine-readable form sees it (python3-debian):
    // every file under the MIT licence (Expat, in that form's names), with LICENSE's text.
    const std::string read
        = Must("/usr/bin/python3 -c "
               + ShellQuote("import sys\nfrom debian.copyright import Copyright\n"
                            "c = Copyright(open(sys.argv[1]), strict=True)\n"
                            "name = c.find_files_paragraph('kelvane').license.synopsis\n"
                            "print(name)\n"
                            "print(next(p.license.text for p in c.all_license_paragraphs()\n"
                            "           if p.license.synopsis == name))\n")
               + " " + ShellQuote(dir / "root/usr/share/doc/kelvane/copyright"));
    const std::string license = ReadFile(KELVANE_SOURCE_DIR "/LICENSE");
    EXPECT_EQ(read, "Expat\n" + license.substr(license.find("Permission is hereby")));
}
