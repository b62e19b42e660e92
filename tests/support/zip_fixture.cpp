#include "support/zip_fixture.h"

#include <algorithm>
#include <filesystem>

std::vector<std::string> ListTree(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored)) {
        paths.push_back(std::filesystem::relative(entry.path(), folder).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

void ZipFolderTest::SetUp() {
    std::filesystem::create_directory(base);
    std::filesystem::create_directory(outside);
    current_ = std::make_unique<ScopedCurrentFolder>(base);
}

void ZipFolderTest::TearDown() {
    current_.reset();
}

void ZipFolderTest::ExpectNothingOutsideBase() const {
    EXPECT_EQ(ListTree(outside), std::vector<std::string>{});
    std::vector<std::string> top;
    for (const auto& entry : std::filesystem::directory_iterator(root.path())) {
        top.push_back(entry.path().filename().string());
    }
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"base", "outside", "test.zip"}));
}
