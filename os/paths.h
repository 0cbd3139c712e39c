// Paths as text: base names, extensions and folders.
#pragma once

#include <string>

// Where the base name of `path` starts (after its last separator).
size_t BaseNameStart(const std::string& path);
// The folder of `path` without its last separator; "" for a bare name.
std::string FolderOf(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// `path` with the extension of its base name (a leading dot does not start
// one) replaced by `extension`, or `extension` added.
std::string ReplaceExtension(const std::string& path, const char* extension);
// True when `text` ends with `suffix` (lower case) in any ASCII letter case.
bool EndsWithNoCase(const std::string& text, const char* suffix);
// ASCII letters lowered.
std::string LowerAscii(const std::string& text);
