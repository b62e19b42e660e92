#pragma once

#include "support/temp_dir.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using ZipPtr = std::unique_ptr<ZipArchiveReader, decltype(&CloseZipArchive)>;

// Every path below `folder`, relative and sorted; links are listed, not followed.
std::vector<std::string> ListTree(const std::string& folder);

// A temporary tree for extraction: base/ is the current folder during the test, its sibling
// outside/ must stay empty, and the archive lies beside both.
class ZipFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ZipPtr Open() const { return ZipPtr(OpenZipArchive(archive.c_str()), &CloseZipArchive); }
    ZipPtr Open(const std::vector<ZipEntry>& entries) const {
        WriteZip(archive, entries);
        return Open();
    }
    // Nothing but the archive, base/ and an empty outside/ in the tree's root.
    void ExpectNothingOutsideBase() const;

    TempDir root;
    std::string base = root.File("base");
    std::string outside = root.File("outside");
    std::string archive = root.File("test.zip");

private:
    std::unique_ptr<ScopedCurrentFolder> current_;
};
