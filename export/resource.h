// Control ids of the settings dialog. The dialog itself is the resource named
// "IDD_SELECT_TYPE" (a name, not a number).
#pragma once

#define IDC_DATA_TYPE 101        // DataType list
#define IDC_COLOR_FORMAT 102     // ColorFormat list
#define IDC_GLOBAL_INDEX 103     // ID edit (GlobalIndex)
#define IDC_PRESET_GROUP 110     // "automatic settings" group box
#define IDC_FROM_LAYER_TAG 111   // radio button: settings from the layer-name tag
#define IDC_FROM_FILE_NAME 112   // radio button: settings from the file name

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
