#include "texts_win32.h"

#include <string.h>

enum { kSjisCodePage = 932 };

static void WideFrom(UINT codePage, const char* text, wchar_t* out, int room) {
    if (!out || room <= 0) return;
    out[0] = L'\0';
    if (!text || !*text) return;
    int length = MultiByteToWideChar(codePage, 0, text, -1, out, room);
    if (length == 0) {
        // Too long for `out`: what fits, still whole characters.
        const int needed = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
        if (needed <= 0) return;
        int bytes = (int)strlen(text);
        while (bytes > 0 && MultiByteToWideChar(codePage, 0, text, bytes, nullptr, 0) >= room) bytes--;
        length = bytes > 0 ? MultiByteToWideChar(codePage, 0, text, bytes, out, room - 1) : 0;
        out[length] = L'\0';
    }
}

void WideFromSjis(const char* text, wchar_t* out, int room) { WideFrom(kSjisCodePage, text, out, room); }

int ShowSjisMessage(HWND owner, const char* text, const char* caption, UINT flags, const char* path) {
    wchar_t wideText[kWideTextRoom];
    wchar_t wideCaption[kWideTextRoom];
    WideFromSjis(text, wideText, kWideTextRoom);
    WideFromSjis(caption, wideCaption, kWideTextRoom);
    wchar_t* mark = path ? wcsstr(wideText, L"%s") : nullptr;
    if (mark) {
        // text before the mark, the path, the text after it
        wchar_t after[kWideTextRoom];
        wcscpy(after, mark + 2);
        const int used = (int)(mark - wideText);
        WideFrom(CP_ACP, path, mark, kWideTextRoom - used);
        const int withPath = (int)wcslen(wideText);
        wcsncat(wideText, after, (size_t)(kWideTextRoom - 1 - withPath));
    }
    return MessageBoxW(owner, wideText, wideCaption, flags);
}

bool FolderOfPathExists(const char* path) {
    wchar_t folder[MAX_PATH + 1];
    WideFrom(CP_ACP, path, folder, MAX_PATH + 1);
    wchar_t* last = nullptr;
    for (wchar_t* c = folder; *c; c++)
        if (*c == L'\\' || *c == L'/') last = c;
    if (!last) return true;   // the current folder
    if (last == folder || last[-1] == L':') last[1] = L'\0';   // "\" or "C:\"
    else *last = L'\0';
    const DWORD attributes = GetFileAttributesW(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
