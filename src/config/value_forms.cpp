#include "config/value_forms.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <strings.h>

int ParseInteger(const char* text) {
    const char* p = text;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        return static_cast<int>(-value);
    }
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

void ParsePair(const char* text, int& first, int& second) {
    const char* comma = std::strchr(text, ',');
    if (comma == text) {
        return;
    }
    first = ParseInteger(text);
    second = ParseInteger(comma != nullptr ? comma + 1 : text);
}

void ParseColour(const char* text, int& red, int& green, int& blue) {
    const char* comma = std::strchr(text, ',');
    if (comma == text) {
        return;
    }
    red = ParseInteger(text);
    if (comma == nullptr) {
        green = blue = red;
        return;
    }
    green = ParseInteger(comma + 1);
    const char* second = std::strchr(comma + 1, ',');
    blue = ParseInteger(second != nullptr ? second + 1 : text);
}

bool ParseCount(const char* text, int& count) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    long long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) {
            return false;
        }
    }
    count = static_cast<int>(value);
    return true;
}

bool ParseFlag(const char* text) {
    return text != nullptr && strcasecmp(text, "true") == 0;
}
