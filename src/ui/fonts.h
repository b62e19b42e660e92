#pragma once

#include <QStringList>

// Makes the Korean Windows font faces that skins name ("돋움", "Gulim", ...) resolve to the
// installed Korean faces, so configured text renders in a Korean font rather than a Latin fallback.
void InstallKoreanFontSubstitutes();

// Registers every font file in <programFolder>/../share/ostrel/fonts, where the portable bundle carries
// NanumGothic for desktops without Korean fonts, and returns the families registered.
QStringList RegisterBundledFonts(const QString& programFolder);
