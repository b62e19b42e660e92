#include "ui/fonts.h"

#include <QFont>
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

} // namespace
