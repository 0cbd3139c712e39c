// The class of the texture thumbnail handler, shared with its test harness.
#pragma once

#include <windows.h>

// {2CAFADA2-86E1-4B49-B964-DA9F08D25A35}
static const CLSID kThumbnailClsid = {0x2cafada2, 0x86e1, 0x4b49, {0xb9, 0x64, 0xda, 0x9f, 0x08, 0xd2, 0x5a, 0x35}};
static const wchar_t kThumbnailClsidText[] = L"{2CAFADA2-86E1-4B49-B964-DA9F08D25A35}";
// Where the shell looks for a type's thumbnail handler: ShellEx\{IThumbnailProvider}.
static const wchar_t kThumbnailShellExKey[] = L"ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}";
