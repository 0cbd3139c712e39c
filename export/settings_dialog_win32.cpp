// The settings dialog IDD_SELECT_TYPE: moves the values that settings.h
// decides into and out of the controls.
#include "ombrout_win32.h"

#include "resource.h"
#include "texts.h"
#include "texts_win32.h"

enum { kIdTextRoom = 32, kButtonTextRoom = 256 };

int ChooseTextureSettings(HWND owner, const HostLayer* layer, const char* path, TextureSettings* settings) {
    SettingsDialogRecord record;
    PrepareSettingsRecord(&record, layer, path);
    // A Unicode dialog: its captions show as the resource holds them (UTF-16)
    // whatever the system's code page.
    INT_PTR ended = DialogBoxParamW(PluginModule(), L"IDD_SELECT_TYPE", owner, SettingsDialogProc,
                                    (LPARAM)&record);
    if (ended != 1) return -1;
    *settings = record.result;
    return 0;
}

static void FillList(HWND dialog, int id, const SettingItem items[kSettingItemCount]) {
    for (int i = 0; i < kSettingItemCount; i++) {
        wchar_t label[kWideTextRoom];
        WideFromSjis(items[i].label, label, kWideTextRoom);
        LRESULT item = SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, (LPARAM)label);
        SendDlgItemMessageA(dialog, id, CB_SETITEMDATA, (WPARAM)item, (LPARAM)items[i].code);
    }
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, 0, 0);
}

void InitSettingsDialog(HWND dialog, const SettingsDialogRecord* record) {
    FillList(dialog, IDC_DATA_TYPE, kDataTypeItems);
    FillList(dialog, IDC_COLOR_FORMAT, kColorFormatItems);
    SetDlgItemTextA(dialog, IDC_GLOBAL_INDEX, "0");

    EnableWindow(GetDlgItem(dialog, IDC_FROM_FILE_NAME), (record->sources & HAS_FILE_PRESET) != 0);
    EnableWindow(GetDlgItem(dialog, IDC_FROM_LAYER_TAG), (record->sources & HAS_TAG_PRESET) != 0);

    // The click marks the radio button and comes back as WM_COMMAND, which
    // applies that preset.
    const unsigned source = SelectedSource(*record);
    if (source != SOURCE_NONE) {
        const int button = source == SOURCE_FILE_NAME ? IDC_FROM_FILE_NAME : IDC_FROM_LAYER_TAG;
        SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
    }

    if (record->presetName) {
        // The button's own text (UTF-16), then the name as FormatPresetCaption puts it.
        wchar_t current[kButtonTextRoom] = {0};
        char name[kButtonTextRoom];
        wchar_t wideName[kButtonTextRoom];
        HWND button = GetDlgItem(dialog, IDC_FROM_FILE_NAME);
        SendMessageW(button, WM_GETTEXT, kButtonTextRoom, (LPARAM)current);
        FormatPresetCaption(name, sizeof name, "", record->presetName);
        WideFromSjis(name, wideName, kButtonTextRoom);
        wcsncat(current, wideName, kButtonTextRoom - 1 - wcslen(current));
        SendMessageW(button, WM_SETTEXT, 0, (LPARAM)current);
    }
}

void ApplyPreset(HWND dialog, const PresetView& view) {
    SendDlgItemMessageA(dialog, IDC_DATA_TYPE, CB_SETCURSEL, (WPARAM)view.dataTypeItem, 0);
    SendDlgItemMessageA(dialog, IDC_COLOR_FORMAT, CB_SETCURSEL, (WPARAM)view.colorFormatItem, 0);
    if (view.setId) SetDlgItemTextA(dialog, IDC_GLOBAL_INDEX, view.idText);
}

static uint32_t SelectedItemData(HWND dialog, int id) {
    LRESULT item = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    return (uint32_t)SendDlgItemMessageA(dialog, id, CB_GETITEMDATA, (WPARAM)item, 0);
}

// A choice that cannot be written says why and lets the user choose again.
static INT_PTR OnOk(HWND dialog, SettingsDialogRecord* record) {
    char idText[kIdTextRoom] = {0};
    GetDlgItemTextA(dialog, IDC_GLOBAL_INDEX, idText, kIdTextRoom);
    bool idValid = false;
    const TextureSettings chosen = ReadDialogSettings(SelectedItemData(dialog, IDC_DATA_TYPE),
                                                      SelectedItemData(dialog, IDC_COLOR_FORMAT), idText,
                                                      kIdTextRoom, &idValid);
    switch (CheckDialogChoice(*record, chosen, idValid)) {
    case kChoiceUnwritablePair:
        ShowSjisMessage(dialog, kUnsupportedPairMessage, kExportCaption, MB_ICONERROR);
        return TRUE;
    case kChoiceBadSize: {
        char caption[128];
        wsprintfA(caption, kSizeCaptionFormat, (int)record->width, (int)record->height, (int)record->left,
                  (int)record->top);
        ShowSjisMessage(dialog, kLayoutSizeMessage, caption, MB_OK);
        return TRUE;
    }
    case kChoiceBadId:
        ShowSjisMessage(dialog, kIdMessage, kExportCaption, MB_ICONERROR);
        return TRUE;
    default:
        break;
    }
    record->result = chosen;
    EndDialog(dialog, 1);
    return TRUE;
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)lParam);
        InitSettingsDialog(dialog, (const SettingsDialogRecord*)lParam);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;

    SettingsDialogRecord* record = (SettingsDialogRecord*)GetWindowLongPtrA(dialog, DWLP_USER);
    if (!record) return FALSE;
    const int id = LOWORD(wParam);
    switch (id) {
    case IDOK:
        return OnOk(dialog, record);
    case IDCANCEL:
        EndDialog(dialog, 0);
        return TRUE;
    case IDC_FROM_FILE_NAME:
    case IDC_FROM_LAYER_TAG:
        if (SelectedSource(*record) == SOURCE_NONE || HIWORD(wParam) != BN_CLICKED) return FALSE;
        ApplyPreset(dialog, ViewSourcePreset(*record, id == IDC_FROM_FILE_NAME ? SOURCE_FILE_NAME : SOURCE_LAYER_TAG));
        return TRUE;
    default:
        return FALSE;
    }
}
