#include "ui/fonts.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QStringList>

namespace {

struct FaceSubstitute {
    const char* face;
    const char* substitutes; // comma-separated, best first
};

// Proportional sans faces go to NanumGothic, fixed-pitch faces ("...체"/"...Che") to
// NanumGothicCoding, serif and brush faces to NanumMyeongjo (the closest installed style).
constexpr FaceSubstitute kSubstitutes[] = {
    {"돋움", "NanumGothic,NanumBarunGothic"},
    {"Dotum", "NanumGothic,NanumBarunGothic"},
    {"굴림", "NanumGothic,NanumBarunGothic"},
    {"Gulim", "NanumGothic,NanumBarunGothic"},
    {"맑은 고딕", "NanumBarunGothic,NanumGothic"},
    {"Malgun Gothic", "NanumBarunGothic,NanumGothic"},
    {"돋움체", "NanumGothicCoding,NanumGothic"},
    {"DotumChe", "NanumGothicCoding,NanumGothic"},
    {"굴림체", "NanumGothicCoding,NanumGothic"},
    {"GulimChe", "NanumGothicCoding,NanumGothic"},
    {"바탕", "NanumMyeongjo"},
    {"Batang", "NanumMyeongjo"},
    {"바탕체", "NanumMyeongjo,NanumGothicCoding"},
    {"BatangChe", "NanumMyeongjo,NanumGothicCoding"},
    {"궁서", "NanumMyeongjo"},
    {"Gungsuh", "NanumMyeongjo"},
    {"궁서체", "NanumMyeongjo"},
    {"GungsuhChe", "NanumMyeongjo"},
};

} // namespace

void InstallKoreanFontSubstitutes() {
    for (const FaceSubstitute& entry : kSubstitutes) {
        QFont::insertSubstitutions(QString::fromUtf8(entry.face),
                                   QString::fromLatin1(entry.substitutes).split(QLatin1Char(',')));
    }
}

QStringList RegisterBundledFonts(const QString& programFolder) {
    const QDir folder(programFolder + QStringLiteral("/../share/ostrel/fonts"));
    QStringList families;
    for (const QString& name : folder.entryList({QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files)) {
        const int id = QFontDatabase::addApplicationFont(folder.filePath(name));
        if (id >= 0) {
            families += QFontDatabase::applicationFontFamilies(id);
        }
    }
    return families;
}
