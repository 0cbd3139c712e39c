// Compiled with -finput-charset=UTF-8 -fexec-charset=CP932.
#include "texts.h"

#include <string.h>

const char kTypeDescriptor[] = "pvz;pvr|Zelvanis PVZ|PC用ゼルヴァニスPVZファイル";
const char kImportInfoText[] = "ombrin 1.0: Zelvanis PVR/PVZ texture import";
const char kExportInfoText[] = "ombrout 1.0: Zelvanis PVR/PVZ texture export";
const char kLayerNullText[] = "layer null";
const char kLayerTagFormat[] = " !#TYPE:%d, #COLOR:%d, #ID:%d";
const char kLayerTagPaletteFormat[] = ", #PAL:%d";
const char kPictureSizeMessage[] = "画像の幅と高さは1から65535まで、画素数は8192×8192まででなければなりません";
const char kLayoutSizeMessage[] =
    "この画像タイプでは、画像の幅と高さは2のべき乗で、短い辺は1024以下でなければなりません";
const char kSizeCaptionFormat[] = "nWidth:%d nHeight:%d nLeft:%d nTop:%d";
const char kIdMessage[] = "IDは0から4294967295までの数でなければなりません";
const char kLayerCountMessage[] = "複数のレイヤーを持つイメージは PVZ及びPVR 形式で保存できません";
const char kUnsupportedPairMessage[] = "この画像タイプとカラータイプの組み合わせでは保存できません";
const char kPalettePathMessage[] =
    "パレット付きの画像タイプでは、ファイル名は「.」と3文字の拡張子で終わらなければなりません";
const char kSaveFolderMissingMessage[] = "「%s」を保存できません。フォルダーが見つかりません";
const char kSaveFolderRefusedMessage[] =
    "「%s」を保存できません。フォルダーに書き込めないか、ディスクの空き容量が足りません";
const char kSaveTargetRefusedMessage[] =
    "「%s」を保存できません。ファイルが読み取り専用か、フォルダーか、ほかのプログラムが使用中です";
const char kSaveNoMemoryMessage[] = "「%s」を保存できません。メモリが足りません";
const char kSavePathMessage[] = "「%s」を保存できません。パスは4文字から259文字まででなければなりません";
const char kExportCaption[] = "ombrout.ppi";

void CopyHostText(char* buffer, int size, const char* text) {
    if (!buffer || size <= 0) return;
    strncpy(buffer, text, (size_t)size);
    buffer[size - 1] = '\0';
}
