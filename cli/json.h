// Just enough JSON for `ombr info --json`.
#pragma once

#include <string>

// `text` as a JSON string literal, quotes included: control characters,
// quotes and backslashes escaped; bytes that are not UTF-8 (paths in other
// code pages) become U+FFFD.
std::string JsonQuote(const char* text);
