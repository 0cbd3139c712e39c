#include "paths.h"

#include <string.h>

#include "files.h"

size_t BaseNameStart(const std::string& path) {
    for (size_t i = path.size(); i > 0; i--)
        if (IsPathSeparator(path[i - 1])) return i;
    return 0;
}

std::string FolderOf(const std::string& path) {
    const size_t base = BaseNameStart(path);
    return base == 0 ? std::string() : path.substr(0, base - 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (IsPathSeparator(folder.back())) return folder + name;
    return folder + kPathSeparator + name;
}

std::string ReplaceExtension(const std::string& path, const char* extension) {
    const size_t base = BaseNameStart(path);
    const size_t dot = path.rfind('.');
    std::string stem = dot != std::string::npos && dot > base ? path.substr(0, dot) : path;
    return stem + extension;
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const size_t n = strlen(suffix);
    if (text.size() < n) return false;
    return LowerAscii(text.substr(text.size() - n)) == suffix;
}

std::string LowerAscii(const std::string& text) {
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return lower;
}
