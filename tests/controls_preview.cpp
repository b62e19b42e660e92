// Shows the skinned controls on a window laid out like the downloader, for looking at them on a
// desktop (not a test):
//   controls_preview <skin folder> [overwrite|about]
// Positions, sizes, fonts and colours come from res/config.xml; make_stand_in_skin.sh draws images.
#include "config/config_loader.h"
#include "ui/about_dlg.h"
#include "ui/controls/color_static.h"
#include "ui/controls/picture.h"
#include "ui/controls/progress_ex.h"
#include "ui/controls/zel_button.h"
#include "ui/mul_div.h"
#include "ui/ostrel_app.h"
#include "ui/overwrite_option_dlg.h"

#include <QPainter>
#include <cstdio>
#include <memory>

namespace {

class PreviewWindow : public QWidget {
public:
    CPicture background;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        background.Draw(painter, rect());
    }
};

// Sample texts in the order of the section types.
const char* const kSampleTexts[ST_COUNT] = {
    "AmbrelSetup.exe",
    "1.52 GB",
    "775.3 MB",
    "1.60 GB",
    "812.0 MB",
    "1",
    "2",
    "50%",
    "33%",
    "00:01:23",
    "00:02:45",
    "9 MB/초",
    "다운로드 진행 중...",
    "/home/player/문서/Ambrel/a/long/folder/that/does/not/fit/into/the/label/Downloads",
    "남은 용량: 12.3 GB",
};

bool AddButton(PreviewWindow& window, const ControlInfo& info, const std::string& folder, bool enabled) {
    auto* button = new CZelButton(&window);
    const std::string* names[] = {&info.normalImage, &info.overImage, &info.pressImage, &info.disableImage};
    for (int slot = 0; slot < CZelButton::kImageCount; ++slot) {
        if (!button->SetImageFile(slot, folder + "/" + *names[slot])) {
            return false;
        }
    }
    button->move(info.x, info.y);
    button->setEnabled(enabled);
    return true;
}

bool AddBar(PreviewWindow& window, const ControlInfo& info, const std::string& folder, int position) {
    auto* bar = new CProgressEx(&window);
    bar->drawMode = CProgressEx::kImageDrawing;
    if (!bar->SetImageFile(folder + "/" + info.image)) {
        return false;
    }
    bar->setGeometry(info.x, info.y, info.width, info.height);
    bar->SetPos(position);
    return true;
}

void AddLabel(PreviewWindow& window, const SectionInfo& info, const char* text) {
    auto* label = new CColorStatic(&window);
    label->setGeometry(info.x, info.y, info.width, info.height);
    label->textColor = MakeColorRef(info.colorR, info.colorG, info.colorB);
    QFont font(QString::fromStdString(info.fontName));
    font.setPixelSize(MulDiv(info.fontSize, window.logicalDpiY(), 72));
    font.setBold(info.bold != 0);
    font.setItalic((info.italic & 0xFF) != 0);
    font.setUnderline((info.underline & 0xFF) != 0);
    label->setFont(font);
    if (info.align == 2) {
        label->SetAlignment(Qt::AlignHCenter);
    } else if (info.align == 3) {
        label->SetAlignment(Qt::AlignRight);
    }
    label->SetPathEllipsis(info.type == ST_DOWNLOAD_PATH);
    label->SetWindowText(text);
}

} // namespace

int main(int argc, char** argv) {
    COstrelApp app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <skin folder> [overwrite|about]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string dialog = argc > 2 ? argv[2] : "";
    CConfigLoader config;
    if (config.Load(OSTREL_SOURCE_DIR "/res/config.xml") != CONFIG_OK) {
        std::fprintf(stderr, "res/config.xml did not load\n");
        return 1;
    }

    PreviewWindow window;
    if (!window.background.LoadFile(folder + "/" + config.background)) {
        return 1;
    }
    window.setFixedSize(window.background.width, window.background.height);
    for (int type = CT_EXECUTION; type <= CT_FOLDER; ++type) {
        // The stop button disabled, to show a disable image.
        if (const ControlInfo* info = config.Control(type);
            info != nullptr && !AddButton(window, *info, folder, type != CT_STOP)) {
            std::fprintf(stderr, "images of button %d did not load\n", type);
            return 1;
        }
    }
    for (const auto& [type, position] : {std::pair{CT_FILE_DOWNLOAD_RATE, 50}, std::pair{CT_TOTAL_DOWNLOAD_RATE, 33}}) {
        if (const ControlInfo* info = config.Control(type);
            info != nullptr && !AddBar(window, *info, folder, position)) {
            std::fprintf(stderr, "image of bar %d did not load\n", type);
            return 1;
        }
    }
    for (int type = 0; type < ST_COUNT; ++type) {
        if (const SectionInfo* info = config.Section(type); info != nullptr && info->visible != 0) {
            AddLabel(window, *info, kSampleTexts[type]);
        }
    }
    window.move(0, 0);
    window.show();

    std::unique_ptr<QDialog> shown;
    if (dialog == "overwrite") {
        shown = std::make_unique<COverwriteOptionDlg>(&window);
    } else if (dialog == "about") {
        shown = std::make_unique<CAboutDlg>(&window);
    }
    if (shown) {
        shown->move(620, 40);
        shown->show();
    }
    return app.exec();
}
