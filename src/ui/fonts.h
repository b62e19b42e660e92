#pragma once

// Makes the Korean Windows font faces that skins name ("돋움", "Gulim", ...) resolve to the
// installed Korean faces, so configured text renders in a Korean font rather than a Latin fallback.
void InstallKoreanFontSubstitutes();
