#include "json.h"

#include <stdio.h>

// Length of the UTF-8 sequence starting at `s`, or 0 when it is not one.
static size_t Utf8Length(const unsigned char* s) {
    const unsigned char c = s[0];
    size_t length;
    unsigned minimum;
    unsigned value;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, minimum = 0x80, value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, minimum = 0x800, value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, minimum = 0x10000, value = c & 0x07;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;   // also stops at the terminator
        value = value << 6 | (s[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

std::string JsonQuote(const char* text) {
    std::string out("\"");
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        const unsigned char c = *s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
            s++;
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            s++;
        } else if (c < 0x80) {
            out += (char)c;
            s++;
        } else if (const size_t length = Utf8Length(s)) {
            out.append(reinterpret_cast<const char*>(s), length);
            s += length;
        } else {
            out += "\\ufffd";
            s++;
        }
    }
    out += '"';
    return out;
}
