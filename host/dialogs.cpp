// Answers the plug-in's dialogs and message boxes and records what they showed.
// The plug-in's imports of MessageBoxA and GetOpenFileNameA go through
// recorders that keep the exact arguments; a CBT hook sees each dialog as it is
// activated and hands it to the host window, which reads and answers it once
// the dialog's own modal loop is running.
#include <windows.h>
#include <commdlg.h>
#include <stdio.h>
#include <string.h>

#include "host.h"

enum { WM_APP_DIALOG = WM_APP + 1 };
enum { kDataTypeList = 101, kColorFormatList = 102, kIdEdit = 103, kFromLayerTag = 111, kFromFileName = 112 };
enum { kFileNameCombo = 0x47C, kFileNameEdit = 0x480 };

static HHOOK g_hook = nullptr;
static bool g_expectOpenFile = false;
static HWND g_openFileDialog = nullptr;   // the open-file dialog, once answered
static HWND g_settingsDialog = nullptr;
static bool g_settingsOkSent = false;

static const char* OwnerKind(HWND owner) {
    if (!owner) return "none";
    if (owner == g_host->window) return "host";
    if (owner == g_settingsDialog) return "settings-dialog";
    return "other";
}

static int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
    g_host->messages.push_back({AnsiToUtf8(text ? text : ""), AnsiToUtf8(caption ? caption : ""), false, flags,
                                owner != nullptr, OwnerKind(owner)});
    return MessageBoxA(owner, text, caption, flags);
}

static int WINAPI RecordMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
    g_host->messages.push_back({WideToUtf8(text), WideToUtf8(caption), true, flags, owner != nullptr, OwnerKind(owner)});
    return MessageBoxW(owner, text, caption, flags);
}

static BOOL WINAPI RecordGetOpenFileNameA(LPOPENFILENAMEA ofn) {
    SeenDialog seen;
    seen.kind = "open-file";
    seen.structSize = ofn->lStructSize;
    seen.flags = ofn->Flags;
    seen.maxFile = ofn->nMaxFile;
    seen.ownerIsHost = ofn->hwndOwner == g_host->window;
    if (ofn->lpstrFile) seen.fileName.assign(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
    for (const char* f = ofn->lpstrFilter; f && *f; f += strlen(f) + 1) seen.filter += std::string(f) + "|";
    if (ofn->lpstrDefExt) seen.defExt = ofn->lpstrDefExt;
    const size_t index = g_host->dialogs.size();
    g_host->dialogs.push_back(seen);
    g_expectOpenFile = true;
    g_openFileDialog = nullptr;
    BOOL chosen = GetOpenFileNameA(ofn);
    g_expectOpenFile = false;
    g_openFileDialog = nullptr;
    SeenDialog& done = g_host->dialogs[index];
    done.result = chosen ? 1 : 0;
    if (chosen && ofn->lpstrFile) done.chosen.assign(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
    return chosen;
}

// Points the plug-in's import of `function` from `dll` at `replacement`:
// true, or false when the plug-in imports it but its slot cannot be written.
// A function the plug-in does not import needs no patch.
static bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    BYTE* base = (BYTE*)module;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return true;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; d++) {
        if (_stricmp((const char*)(base + d->Name), dll) != 0) continue;
        IMAGE_THUNK_DATA* names = (IMAGE_THUNK_DATA*)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            IMAGE_IMPORT_BY_NAME* byName = (IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (strcmp((const char*)byName->Name, function) != 0) continue;
            DWORD old;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) return false;
            slots->u1.Function = (ULONG_PTR)replacement;
            DWORD restored;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &restored);   // or stays writable
            return true;
        }
    }
    return true;
}

// The dialog's texts are read as UTF-16 (UTF-8 in the report), as they show
// on screen whatever the ANSI code page.
static std::string ItemText(HWND dialog, int id) {
    wchar_t text[512] = {0};
    GetDlgItemTextW(dialog, id, text, 512);
    return WideToUtf8(text);
}

static std::string SelectedLabel(HWND dialog, int id) {
    LRESULT index = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return "";
    wchar_t text[256] = {0};
    if (SendDlgItemMessageW(dialog, id, CB_GETLBTEXTLEN, index, 0) < 256)
        SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, index, (LPARAM)text);
    return WideToUtf8(text);
}

static void SelectItemData(HWND dialog, int id, int data) {
    LRESULT count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++)
        if ((int)SendDlgItemMessageA(dialog, id, CB_GETITEMDATA, i, 0) == data) {
            SendDlgItemMessageA(dialog, id, CB_SETCURSEL, i, 0);
            return;
        }
}

static void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

static void AnswerSettings(HWND dialog) {
    const DialogAnswers& a = g_host->answers;
    SeenDialog seen;
    seen.kind = "settings";
    wchar_t caption[256] = {0};
    GetWindowTextW(dialog, caption, 256);
    seen.caption = WideToUtf8(caption);
    seen.dataTypeLabel = SelectedLabel(dialog, kDataTypeList);
    seen.colorFormatLabel = SelectedLabel(dialog, kColorFormatList);
    seen.idText = ItemText(dialog, kIdEdit);
    for (int id : {kFromFileName, kFromLayerTag}) {
        HWND button = GetDlgItem(dialog, id);
        seen.radios.push_back({id, ItemText(dialog, id), button && IsWindowEnabled(button) != FALSE,
                               SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED});
    }
    g_host->dialogs.push_back(seen);

    if (a.clickRadio) SendMessageA(GetDlgItem(dialog, a.clickRadio), BM_CLICK, 0, 0);
    if (a.dataType >= 0) SelectItemData(dialog, kDataTypeList, a.dataType);
    if (a.colorFormat >= 0) SelectItemData(dialog, kColorFormatList, a.colorFormat);
    if (a.setId) SetDlgItemTextA(dialog, kIdEdit, a.idText.c_str());
    g_settingsOkSent = a.ok;
    Press(dialog, a.ok ? IDOK : IDCANCEL);
}

static void AnswerOpenFile(HWND dialog) {
    const std::string& choice = g_host->answers.paletteChoice;
    if (choice.empty()) {
        Press(dialog, IDCANCEL);
        return;
    }
    for (int id : {kFileNameCombo, kFileNameEdit})
        if (GetDlgItem(dialog, id)) SetDlgItemTextA(dialog, id, choice.c_str());
    Press(dialog, IDOK);
}

static void AnswerDialog(HWND dialog) {
    if (!IsWindow(dialog)) return;
    if (dialog == g_openFileDialog) {
        // Active again after its answer: it refused the file it was given (one
        // that does not exist, after a message box saying so). Cancel it
        // rather than offer the same file again and again.
        Press(dialog, IDCANCEL);
        return;
    }
    if (GetDlgItem(dialog, kDataTypeList) && GetDlgItem(dialog, kIdEdit)) {
        if (dialog == g_settingsDialog) return;   // activated again after a message box
        g_settingsDialog = dialog;
        AnswerSettings(dialog);
    } else if (g_expectOpenFile) {
        g_expectOpenFile = false;
        g_openFileDialog = dialog;
        AnswerOpenFile(dialog);
    } else {
        // A message box: OK. One shown by the settings dialog after OK means
        // the settings were refused; the host then cancels the dialog.
        Press(dialog, IDOK);
        if (g_settingsDialog && g_settingsOkSent && IsWindow(g_settingsDialog)) {
            g_settingsOkSent = false;
            Press(g_settingsDialog, IDCANCEL);
        }
    }
}

static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        char cls[32] = {0};
        GetClassNameA((HWND)wParam, cls, sizeof cls);
        if (strcmp(cls, "#32770") == 0) PostMessageA(g_host->window, WM_APP_DIALOG, wParam, 0);
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP_DIALOG) {
        const int hold = g_host->answers.holdMs;
        if (hold <= 0) {
            AnswerDialog((HWND)wParam);
        } else {
            // Answered by the timer, which the dialog's modal loop dispatches.
            RECT r;
            if (GetWindowRect((HWND)wParam, &r)) {
                fprintf(stderr, "pvrhost: holding dialog at %ld,%ld %ldx%ld\n", r.left, r.top, r.right - r.left,
                        r.bottom - r.top);
                fflush(stderr);
            }
            SetTimer(window, (UINT_PTR)wParam, (UINT)hold, nullptr);
        }
        return 0;
    }
    if (message == WM_TIMER && g_host->answers.holdMs > 0) {
        KillTimer(window, wParam);
        AnswerDialog((HWND)wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateHostWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "pvrhost";
    RegisterClassA(&wc);
    return CreateWindowA("pvrhost", "pvrhost", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

bool InstallDialogHooks(HMODULE plugin) {
    const bool patched = PatchImport(plugin, "user32.dll", "MessageBoxA", (void*)RecordMessageBoxA) &&
                         PatchImport(plugin, "user32.dll", "MessageBoxW", (void*)RecordMessageBoxW) &&
                         PatchImport(plugin, "comdlg32.dll", "GetOpenFileNameA", (void*)RecordGetOpenFileNameA);
    g_hook = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    return patched && g_hook != nullptr;
}

void RemoveDialogHooks() {
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
}
