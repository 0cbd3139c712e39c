// The one place where the plug-ins' texts meet Windows. The texts of
// texts.h are Shift-JIS (code page 932) whatever the system's ANSI code page;
// they reach the screen as UTF-16 through the wide API, so that a system in
// another language shows the same Japanese. The host's paths are ANSI bytes
// of the system's own code page.
#pragma once

#include <windows.h>

enum { kWideTextRoom = 1024 };

// `text` (code page 932) as UTF-16 in `out`, `room` units with the
// terminator; cut short where it does not fit, always terminated.
void WideFromSjis(const char* text, wchar_t* out, int room);

// A message box of Shift-JIS texts. With `path` (the host's ANSI path), the
// one "%s" of `text` stands for it.
int ShowSjisMessage(HWND owner, const char* text, const char* caption, UINT flags, const char* path = nullptr);

// True when the folder of the host's ANSI `path` exists.
bool FolderOfPathExists(const char* path);
