// What Windows reads from the three binaries without running them: the version resource
// (Explorer's Properties, installers), the programs' manifest and the batch program's icon.

#include "resources/Version.h"

#include "io/Win32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kelvane::io::Wide;

const char *const kBinaries[]
    = {KELVANE_WINDOW_BINARY, KELVANE_BATCH_BINARY, KELVANE_BACK_END_BINARY};

// A resource of a binary loaded as data, or empty.
std::string Resource(const char *binary, int type, int id)
{
    HMODULE module = LoadLibraryExW(Wide(binary).c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char *bytes = loaded ? static_cast<const char *>(LockResource(loaded)) : nullptr;
    std::string data = bytes ? std::string(bytes, SizeofResource(module, found)) : "";
    FreeLibrary(module);
    return data;
}

TEST(WindowsBinaries, EachCarriesTheProjectVersionNameAndLicence)
{
    for (const std::string path : kBinaries) {
        SCOPED_TRACE(path);
        std::string info(GetFileVersionInfoSizeW(Wide(path).c_str(), nullptr), '\0');
        ASSERT_TRUE(GetFileVersionInfoW(Wide(path).c_str(), 0, static_cast<DWORD>(info.size()),
                                        info.data()));
        auto query = [&](const std::wstring &key) {
            void *value = nullptr;
            UINT length = 0;
            return VerQueryValueW(info.data(), key.c_str(), &value, &length) ? value : nullptr;
        };
        auto text = [&](const char *name) {
            const void *value = query(L"\\StringFileInfo\\040904B0\\" + Wide(name));
            return value ? kelvane::io::Utf8(static_cast<const wchar_t *>(value)) : "(none)";
        };
        const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(query(L"\\"));
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwFileVersionMS,
                  DWORD(KELVANE_VERSION_MAJOR << 16 | KELVANE_VERSION_MINOR));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(text("FileVersion"), KELVANE_VERSION);
        EXPECT_EQ(text("ProductVersion"), KELVANE_VERSION);
        EXPECT_EQ(text("ProductName"), "Kelvane");
        EXPECT_EQ(text("OriginalFilename"), path.substr(path.rfind('/') + 1));
        EXPECT_EQ(text("LegalCopyright"), "Copyright (c) The Kelvane developers, MIT licence");
        EXPECT_EQ(text("FileDescription").rfind("Kelvane", 0), 0u);
    }
}

TEST(WindowsBinaries, ProgramsDeclareWindows10DpiAndLongPathsWithTheClassicControls)
{
    for (const char *program : {KELVANE_WINDOW_BINARY, KELVANE_BATCH_BINARY}) {
        SCOPED_TRACE(program);
        // RT_MANIFEST 1: the one Windows reads when it starts the process.
        const std::string manifest = Resource(program, 24, 1);
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
    // The icon group IDR_MAINFRAME (RT_GROUP_ICON 128) and its two images (RT_ICON 1, 2).
    EXPECT_NE(Resource(KELVANE_WINDOW_BINARY, 14, 128), "");
    for (const auto &[type, id] : {std::pair {14, 128}, {3, 1}, {3, 2}})
        EXPECT_EQ(Resource(KELVANE_BATCH_BINARY, type, id),
                  Resource(KELVANE_WINDOW_BINARY, type, id))
            << type << " " << id;
}

} // namespace
