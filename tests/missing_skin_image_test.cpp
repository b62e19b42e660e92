#include "res/embedded.h"
#include "res/string_table.h"
#include "window_fixture.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

// A skin that lacks an image ends the window with words naming the image and where the skin came
// from, in the log and, where the window says more than the picture control, in its message.
class MissingSkinImageTest : public WindowTest {};

TEST_F(MissingSkinImageTest, TheLogAndTheMessageNameTheImageAndTheSkinSource) {
    const EmbeddedBytes skin = EmbeddedSkin();
    served.Write("skin.zip", std::string(reinterpret_cast<const char*>(skin.data), skin.size));
    const std::string archiveUrl = served.Url("/skin.zip");
    const std::string here = std::filesystem::current_path().string();
    struct Case {
        const char* what;
        std::function<void(std::string&)> edit;
        bool embedded;
        std::string logLine;
        std::string message; // of the window's own box; empty: the picture control speaks
    };
    // The folder case first: a skin archive's window leaves the current folder in its removed skin folder.
    const Case cases[] = {
        {"folder lacks the background", nullptr, false,
         "[ERROR][COstrelDlg::LoadBackgroundImage][817] Skin image [background.jpg] is missing from skin folder " +
             here + ".",
         ""},
        {"compiled-in archive lacks a progress image",
         [](std::string& t) { t.replace(t.find("progress_total.jpg"), 18, "nothing.jpg"); }, true,
         "[ERROR][COstrelDlg::InitProgressControls][893] Skin image [nothing.jpg] is missing from skin archive "
         "compiled into the program.",
         LoadStringId(157) + "\nnothing.jpg (skin archive compiled into the program)"},
        {"downloaded archive lacks a button image",
         [&](std::string& t) {
             t.replace(t.find("btn_stop_over.jpg"), 17, "nothing.jpg");
             t.replace(t.find("Url=\"\""), 6, "Url=\"" + archiveUrl + "\"");
         },
         true,
         "[ERROR][COstrelDlg::LoadImageFile][66] Skin image [nothing.jpg] is missing from skin archive " + archiveUrl +
             ".",
         ""},
    };
    for (const Case& c : cases) {
        MessageRecorder recorder;
        COstrelDlg& dlg = MakeWindow(Configuration("", c.edit));
        if (!c.embedded) {
            dlg.embeddedSkin = {nullptr, 0};
        }
        EXPECT_FALSE(dlg.OnInitDialog()) << c.what;
        EXPECT_TRUE(log.Contains(c.logLine)) << c.what << "\n" << log.Text();
        const auto seen = recorder.Seen();
        ASSERT_EQ(seen.size(), 1u) << c.what;
        if (!c.message.empty()) {
            EXPECT_EQ(seen[0].text, c.message) << c.what;
        }
    }
}

} // namespace
