// The bitmap file check: the package's pictures pass, and every damaged file kept in the fuzz
// corpus is refused while the well-formed ones there pass.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap_file.h"

namespace {

std::vector<uint8_t> Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    return {text.begin(), text.end()};
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

TEST(BitmapFile, ThePackagesPicturesPass)
{
    for (const char* name : {"ktlogo.bmp", "kttext.bmp", "ktlogo16.bmp", "kttext16.bmp"}) {
        const std::vector<uint8_t> file = Contents(std::string(KT_PACKAGE_DIR) + "\\" + name);
        BitmapLayout layout = {};
        ASSERT_FALSE(file.empty()) << name;
        EXPECT_TRUE(CheckBitmapFile(file.data(), file.size(), layout)) << name;
        EXPECT_LE(layout.bitsOffset + layout.pixelBytes, file.size()) << name;
    }
}

TEST(BitmapFile, TheCorpusFilesPassExactlyWhenTheirNameSaysValid)
{
    const std::vector<std::string> names = FilesIn(BITMAP_CORPUS_DIR);
    ASSERT_GE(names.size(), 9u);
    for (const std::string& name : names) {
        const std::vector<uint8_t> file = Contents(std::string(BITMAP_CORPUS_DIR) + "\\" + name);
        BitmapLayout layout = {};
        EXPECT_EQ(CheckBitmapFile(file.data(), file.size(), layout), name.rfind("valid_", 0) == 0) << name;
    }
}

TEST(BitmapFile, EveryCutOfAValidFileIsRefused)
{
    const std::vector<uint8_t> file = Contents(std::string(BITMAP_CORPUS_DIR) + "\\valid_24bit_2x2");
    ASSERT_FALSE(file.empty());
    BitmapLayout layout = {};
    for (size_t size = 0; size < file.size(); ++size)
        EXPECT_FALSE(CheckBitmapFile(file.data(), size, layout)) << size << " bytes";
    EXPECT_FALSE(CheckBitmapFile(nullptr, 0, layout));
}

}  // namespace
