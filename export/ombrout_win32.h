// Shared by the Win32 files of ombrout.ppi.
#pragma once

#include <windows.h>

#include "host_api.h"
#include "settings.h"

// The plug-in's own module, kept from process attach on.
HINSTANCE PluginModule();

// Shows the settings dialog IDD_SELECT_TYPE owned by `owner`, pre-filled from
// the file-name preset of `path` and the tag in the layer's name (`layer`
// may be null). 0 with `settings` filled when OK was pressed; -1 when the
// dialog was cancelled or could not be created.
int ChooseTextureSettings(HWND owner, const HostLayer* layer, const char* path, TextureSettings* settings);

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void InitSettingsDialog(HWND dialog, const SettingsDialogRecord* record);
void ApplyPreset(HWND dialog, const PresetView& view);
