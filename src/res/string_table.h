#pragma once

#include <string>

// The program's user-visible texts by numeric ID (UTF-8). A missing ID yields an empty text.
std::string LoadStringId(int id);

// Loads the text of `id` and replaces every "%1" by `insert`; "%2" to "%9" have no insert and become "?".
// Any other text is copied unchanged.
std::string FormatStringId(int id, const std::string& insert);
// The same with a second insert for "%2".
std::string FormatStringId(int id, const std::string& insert, const std::string& second);

// The game's name: the window's title and the application's display name.
constexpr int IDS_GAME_NAME = 155;

// Message-box titles.
constexpr int IDS_TITLE_WARNING = 131;
constexpr int IDS_TITLE_NOTICE = 132;
constexpr int IDS_TITLE_ERROR = 139;
