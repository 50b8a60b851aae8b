// What Windows reads from the three binaries without running them: the version resource
// (Explorer's Properties, installers), the programs' manifest and the batch program's icon.

#include "resources/Version.h"

#include "io/Win32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Binary
{
    const char *path;
    const char *fileName;
    bool program;
};

const Binary kBinaries[] = {
    {KELVANE_WINDOW_BINARY, "kelvane.exe", true},
    {KELVANE_BATCH_BINARY, "kelvane-batch.exe", true},
    {KELVANE_BACK_END_BINARY, "Tamsorel.dll", false},
};

// A string of the version resource's US English block, as Explorer reads it.
std::string VersionString(const std::string &info, const char *name)
{
    wchar_t *value = nullptr;
    UINT length = 0;
    const std::wstring key = L"\\StringFileInfo\\040904B0\\" + kelvane::io::Wide(name);
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void **>(&value), &length)
        || value == nullptr)
        return "(none)";
    return kelvane::io::Utf8(value);
}

// A resource of a binary loaded as data, or empty.
std::string Resource(HMODULE module, LPCWSTR type, int id)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char *bytes = loaded ? static_cast<const char *>(LockResource(loaded)) : nullptr;
    return bytes ? std::string(bytes, SizeofResource(module, found)) : std::string();
}

HMODULE LoadAsData(const std::string &path)
{
    return LoadLibraryExW(kelvane::io::Wide(path).c_str(), nullptr,
                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

TEST(WindowsBinaries, EachCarriesTheProjectVersionNameAndLicence)
{
    for (const Binary &binary : kBinaries) {
        SCOPED_TRACE(binary.fileName);
        const std::wstring path = kelvane::io::Wide(binary.path);
        std::string info(GetFileVersionInfoSizeW(path.c_str(), nullptr), '\0');
        ASSERT_FALSE(info.empty());
        ASSERT_TRUE(
            GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
        VS_FIXEDFILEINFO *fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
        const DWORD major = KELVANE_VERSION_MAJOR, minor = KELVANE_VERSION_MINOR;
        EXPECT_EQ(fixed->dwFileVersionMS, major << 16 | minor);
        EXPECT_EQ(fixed->dwProductVersionMS, major << 16 | minor);
        EXPECT_EQ(fixed->dwFileType, binary.program ? DWORD(VFT_APP) : DWORD(VFT_DLL));

        EXPECT_EQ(VersionString(info, "FileVersion"), KELVANE_VERSION);
        EXPECT_EQ(VersionString(info, "ProductVersion"), KELVANE_VERSION);
        EXPECT_EQ(VersionString(info, "ProductName"), "Kelvane");
        EXPECT_EQ(VersionString(info, "OriginalFilename"), binary.fileName);
        EXPECT_EQ(VersionString(info, "LegalCopyright"),
                  "Copyright (c) The Kelvane developers, MIT licence");
        EXPECT_NE(VersionString(info, "FileDescription").find("Kelvane"), std::string::npos);
    }
}

TEST(WindowsBinaries, ProgramsDeclareWindows10DpiAndLongPathsWithTheClassicControls)
{
    for (const Binary &binary : kBinaries) {
        if (!binary.program)
            continue;
        SCOPED_TRACE(binary.fileName);
        HMODULE module = LoadAsData(binary.path);
        ASSERT_NE(module, nullptr);
        // Resource 1 is the one Windows reads when it starts the process.
        const std::string manifest = Resource(module, MAKEINTRESOURCEW(24), 1);
        FreeLibrary(module);
        for (const char *part :
             {"<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
              "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true<",
              "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
              "WindowsSettings\">true<"})
            EXPECT_NE(manifest.find(part), std::string::npos) << part << "\n" << manifest;
        EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos) << manifest;
    }
}

TEST(WindowsBinaries, TheBatchProgramCarriesTheWindowIcon)
{
    HMODULE window = LoadAsData(KELVANE_WINDOW_BINARY);
    HMODULE batch = LoadAsData(KELVANE_BATCH_BINARY);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(batch, nullptr);
    // The icon group (IDR_MAINFRAME) and the images it names are the window's own.
    const std::string group = Resource(window, MAKEINTRESOURCEW(14), 128);
    EXPECT_FALSE(group.empty());
    EXPECT_EQ(Resource(batch, MAKEINTRESOURCEW(14), 128), group);
    for (int image = 1; image <= 2; ++image)
        EXPECT_EQ(Resource(batch, MAKEINTRESOURCEW(3), image),
                  Resource(window, MAKEINTRESOURCEW(3), image))
            << image;
    FreeLibrary(window);
    FreeLibrary(batch);
}

} // namespace
