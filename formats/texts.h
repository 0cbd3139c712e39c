// The texts the plug-ins show or hand to the host. Japanese texts are
// Shift-JIS (code page 932) bytes at run time.
#pragma once

extern const char kTypeDescriptor[];        // PBI_/PBE_GetSupportedType, index 0
extern const char kImportInfoText[];        // PB_GetPluginInfo of ombrin
extern const char kExportInfoText[];        // PB_GetPluginInfo of ombrout
extern const char kLayerNullText[];         // import: an image without a layer
extern const char kLayerTagFormat[];        // appended to the layer name on import
extern const char kLayerTagPaletteFormat[]; // after it for DataType 5 and 7: the palette's ColorFormat
extern const char kPictureSizeMessage[];    // export: a side of 0 or above 65535, or too many pixels
extern const char kLayoutSizeMessage[];     // export: a size the chosen twiddled type does not take
extern const char kSizeCaptionFormat[];     // caption of the two size messages
extern const char kIdMessage[];             // export: an ID text that no 32-bit ID is
extern const char kLayerCountMessage[];     // export: more than one layer
extern const char kUnsupportedPairMessage[];// export: settings with nothing to pack with
extern const char kPalettePathMessage[];    // export: a palettised texture's path without a 3-character extension
// export: a save that failed; "%s" is the file (the texture or its .pvp)
extern const char kSaveFolderMissingMessage[];   // its folder does not exist
extern const char kSaveFolderRefusedMessage[];   // no new file in its folder (not writable, disk full)
extern const char kSaveTargetRefusedMessage[];   // the file there is read-only, a folder or in use
extern const char kSaveNoMemoryMessage[];
extern const char kSavePathMessage[];            // a path of fewer than 4 or more than 259 characters
extern const char kExportCaption[];         // caption of the export's error messages

// Copies a text into a host buffer of `size` bytes as strncpy does (at most
// `size` bytes, the rest of the buffer filled with zeros), and always ends it
// with a zero inside the buffer: a text that does not fit is cut short.
void CopyHostText(char* buffer, int size, const char* text);
