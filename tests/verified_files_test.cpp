#include "launcher/verified_files.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace {

using Proof = VerifiedFiles::Proof;

// A proof holds for the very version it was noted for, of its own kind and file, and for nothing that
// is not there: a file no longer on disk is never vouched for, even where no version was.
TEST(VerifiedFiles, VouchesOnlyForTheNotedVersion) {
    const FileStamp noted{100, 5, 7};
    const FileStamp touched{100, 5, 8}; // same size, written again
    struct Note {
        Proof proof;
        std::size_t index;
        std::optional<FileStamp> stamp;
    };
    struct Case {
        const char* what;
        std::vector<Note> notes;
        Proof asked;
        std::optional<FileStamp> now;
        bool vouched;
    } const cases[] = {
        {"nothing noted", {}, Proof::Digest, noted, false},
        {"nothing noted, no file", {}, Proof::Transport, std::nullopt, false},
        {"the noted version", {{Proof::Digest, 0, noted}}, Proof::Digest, noted, true},
        {"a version written since", {{Proof::Digest, 0, noted}}, Proof::Digest, touched, false},
        {"the file is gone", {{Proof::Transport, 0, noted}}, Proof::Transport, std::nullopt, false},
        {"a mismatch noted, no file", {{Proof::Digest, 0, std::nullopt}}, Proof::Digest, std::nullopt, false},
        {"a later mismatch",
         {{Proof::Digest, 0, noted}, {Proof::Digest, 0, std::nullopt}},
         Proof::Digest,
         noted,
         false},
        {"the other proof", {{Proof::Digest, 0, noted}}, Proof::Transport, noted, false},
        {"another file", {{Proof::Transport, 1, noted}}, Proof::Transport, noted, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VerifiedFiles verified(2);
        for (const Note& n : c.notes) {
            verified.Note(n.proof, n.index, n.stamp);
        }
        EXPECT_EQ(verified.Vouches(c.asked, 0, c.now), c.vouched);
    }
}

} // namespace
