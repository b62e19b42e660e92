#include "base/user_folders.h"
#include "support/temp_dir.h"
#include "ui/fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <gtest/gtest.h>

namespace {

// The application object installed the substitutes; installing them again must change nothing.
TEST(Fonts, KoreanWindowsFacesResolveToInstalledKoreanFaces) {
    InstallKoreanFontSubstitutes();
    struct Case {
        const char* face;
        const char* family;
    };
    const Case cases[] = {
        {"돋움", "NanumGothic"},
        {"Dotum", "NanumGothic"},
        {"굴림", "NanumGothic"},
        {"Gulim", "NanumGothic"},
        {"돋움체", "NanumGothicCoding"},
        {"GulimChe", "NanumGothicCoding"},
        {"바탕", "NanumMyeongjo"},
        {"BatangChe", "NanumMyeongjo"},
        {"궁서", "NanumMyeongjo"},
        {"맑은 고딕", "NanumBarunGothic"},
        {"Malgun Gothic", "NanumBarunGothic"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QFontInfo(QFont(QString::fromUtf8(c.face))).family(), QString::fromLatin1(c.family)) << c.face;
    }
}

TEST(Fonts, FontFilesBesideTheProgramAreRegistered) {
    TempDir bundle;
    MakeFolderPath(bundle.File("bin"));
    MakeFolderPath(bundle.File("share/ostrel/fonts"));
    EXPECT_TRUE(RegisterBundledFonts(QString::fromStdString(bundle.File("bin"))).isEmpty());

    WriteWholeFile(bundle.File("share/ostrel/fonts/NanumGothic.ttf"),
                   ReadWholeFile("/usr/share/fonts/truetype/nanum/NanumGothic.ttf"));
    WriteWholeFile(bundle.File("share/ostrel/fonts/notes.txt"), "not a font");
    const QStringList families = RegisterBundledFonts(QString::fromStdString(bundle.File("bin")));
    EXPECT_EQ(families, QStringList{QStringLiteral("NanumGothic")});
    EXPECT_TRUE(QFontDatabase::families().contains(QStringLiteral("NanumGothic")));
}

} // namespace
