#pragma once

// The value forms of configuration attributes. Malformed numbers read as 0, never as an error.

// Decimal like atoi: leading white space, an optional sign, the digits up to the first other
// character; no digits give 0. Values beyond the int range saturate.
int ParseInteger(const char* text);

// "x,y": the first number from the text before the first comma, the second from the text after it.
// Without a comma both come from the whole text; a leading comma sets neither.
void ParsePair(const char* text, int& first, int& second);

// "r,g,b": red before the first comma, green after it, blue after the second comma. Without a comma
// all three come from the whole text; with one comma blue comes from the whole text; a leading
// comma sets none.
void ParseColour(const char* text, int& red, int& green, int& blue);

// A count: only decimal digits, within the int range. False for anything else (a sign, white space, a
// fraction, no digits), and `count` is then untouched.
bool ParseCount(const char* text, int& count);

// True exactly for "true" in any letter case.
bool ParseFlag(const char* text);
