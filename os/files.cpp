// The parts of files.h that need nothing of the system but its files opened,
// read and closed (files_posix.cpp, files_win32.cpp).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "files.h"

int ReadFilePart(const char* path, uint64_t limit, uint8_t** data, size_t* length, uint64_t* fileLength) {
    *data = nullptr;
    *length = 0;
    *fileLength = 0;
    FileHandle file;
    int result = OpenRegularFile(path, &file, fileLength);
    if (result != kFileOk) return result;
    const uint64_t wanted = *fileLength < limit ? *fileLength : limit;
    // A block one process can hold, whatever size_t allows.
    if (wanted >= 0x7FFFFFFFu && sizeof(size_t) < 8) result = kFileTooLarge;
    else if (wanted >= (uint64_t)SIZE_MAX / 2) result = kFileTooLarge;
    uint8_t* block = result == kFileOk ? (uint8_t*)malloc(wanted > 0 ? (size_t)wanted : 1) : nullptr;
    if (result == kFileOk && !block) result = kFileNoMemory;
    if (result == kFileOk) result = ReadOpenedFile(file, block, (size_t)wanted);
    CloseOpenedFile(file);
    if (result != kFileOk) {
        free(block);
        return result;
    }
    *data = block;
    *length = (size_t)wanted;
    return kFileOk;
}

int ReadWholeFile(const char* path, uint8_t** data, size_t* length) {
    uint64_t fileLength;
    return ReadFilePart(path, UINT64_MAX, data, length, &fileLength);
}

int ReadFileHead(const char* path, uint8_t* out, size_t room, size_t* length, uint64_t* fileLength) {
    *length = 0;
    *fileLength = 0;
    FileHandle file;
    int result = OpenRegularFile(path, &file, fileLength);
    if (result != kFileOk) return result;
    const size_t wanted = *fileLength < room ? (size_t)*fileLength : room;
    result = ReadOpenedFile(file, out, wanted);
    CloseOpenedFile(file);
    if (result == kFileOk) *length = wanted;
    return result;
}

long ReadFilePrefix(void*, const char* path, uint8_t* out, size_t room) {
    size_t length = 0;
    uint64_t fileLength = 0;
    if (ReadFileHead(path, out, room, &length, &fileLength) != kFileOk) return -1;
    return fileLength > room ? (long)room + 1 : (long)length;
}

bool FindOtherCase(const char* path, char* found, size_t room) {
    return FindFile(path, found, room) && strcmp(found, path) != 0;
}

std::string ShownText(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        const unsigned char c = (unsigned char)text[i];
        char escape[8];
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
            snprintf(escape, sizeof escape, "\\x%02x", c);
            shown += escape;
        } else if (c == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x80 &&
                   (unsigned char)text[i + 1] <= 0x9F) {
            snprintf(escape, sizeof escape, "\\u%04x", (unsigned char)text[++i]);
            shown += escape;
        } else {
            shown += (char)c;
        }
    }
    return shown;
}

std::string FormatText(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    char small[1024];
    const int n = vsnprintf(small, sizeof small, format, args);
    std::string text;
    if (n >= 0 && (size_t)n < sizeof small) {
        text.assign(small, (size_t)n);
    } else if (n >= 0) {
        text.resize((size_t)n + 1);
        vsnprintf(&text[0], text.size(), format, again);
        text.resize((size_t)n);
    }
    va_end(again);
    return text;
}
