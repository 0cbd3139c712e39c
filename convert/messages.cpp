#include "messages.h"

#include <stdio.h>

#ifndef OMBR_VERSION
#define OMBR_VERSION "0"
#endif

namespace {

struct Message {
    const char* english;
    const char* japanese;
};

const Message kMessages[kMessageCount] = {
    // kTextUsage
    {"usage: ombr info FILE... [--json] [-r] [--out-dir DIR] [encode's settings and --palette]\n"
     "       ombr decode TEXTURE... [-o OUT.png | --out-dir DIR] [--palette PVP] [--raw FILE]\n"
     "                   [--png-level N]\n"
     "       ombr encode IMAGE.png... [-o OUT.pvz|OUT.pvr | --out-dir DIR] [--type N] [--color N]\n"
     "                   [--id N] [--preset auto|none] [--container pvz|pvr] [--palette PVP]\n"
     "                   [--new-palette | --strict-palette] [-n/--dry-run]\n"
     "       ombr gallery FOLDER... -o OUT_DIR [--png-level N]\n"
     "       ombr palette PALETTE -o OUT.act|.gpl|.png|.pvp [--color N]\n"
     "       ombr FILE|FOLDER...   (as dropped on ombr.exe)\n"
     "common options: -r/--recursive -j/--jobs N -f/--force -q/--quiet -v/--verbose --no-wait --console-cp;\n"
     "ombr --help, ombr --version\n",
     "使い方: ombr info ファイル... [--json] [-r] [--out-dir フォルダー] [encode の設定と --palette]\n"
     "        ombr decode テクスチャ... [-o 出力.png | --out-dir フォルダー] [--palette PVP]\n"
     "                    [--raw ファイル] [--png-level N]\n"
     "        ombr encode 画像.png... [-o 出力.pvz|出力.pvr | --out-dir フォルダー] [--type N]\n"
     "                    [--color N] [--id N] [--preset auto|none] [--container pvz|pvr]\n"
     "                    [--palette PVP] [--new-palette | --strict-palette] [-n/--dry-run]\n"
     "        ombr gallery フォルダー... -o 出力フォルダー [--png-level N]\n"
     "        ombr palette パレット -o 出力.act|.gpl|.png|.pvp [--color N]\n"
     "        ombr ファイル|フォルダー...   (ombr.exe にドロップしたときと同じ)\n"
     "共通のオプション: -r/--recursive -j/--jobs N -f/--force -q/--quiet -v/--verbose --no-wait\n"
     "                  --console-cp\n"
     "ombr --help で説明、ombr --version で版を表示します\n"},

    // kTextHelp
    {"ombr " OMBR_VERSION ": converts Zelvanis PVR/PVZ textures to PNG and back, with the code of the\n"
     "ombrin and ombrout plug-ins.\n"
     "\n"
     "ombr info FILE...\n"
     "  Tells the container, GlobalIndex, ColorFormat, DataType, size, texel data length and\n"
     "  palette file of each texture, and whether the import reads it; of a PNG, what encode\n"
     "  would do (as encode --dry-run): the texture, each setting and where it comes from, the\n"
     "  palette, the pixels that would change; encode's --out-dir, settings and --palette are\n"
     "  taken. --json for scripts.\n"
     "\n"
     "ombr decode TEXTURE...\n"
     "  Writes each .pvr or .pvz texture as a PNG: palette textures as palette PNGs (their .pvp\n"
     "  is taken from beside the texture, as the plug-in finds it), colour textures as RGBA PNGs.\n"
     "  The PNG carries the texture's settings and file name.\n"
     "  -o OUT.png        the PNG of a single texture (default: beside the texture, .png)\n"
     "  --out-dir DIR     where the PNGs of many textures go (subfolders kept with -r)\n"
     "  --palette PVP     the palette file to use instead of the one beside the texture\n"
     "  --raw FILE        also write the picture's pixel values, 32-bit little-endian, row by row\n"
     "  --png-level N     PNG compression: 0 none (stored) to 9 smallest; by default level 5, or for\n"
     "                    pictures whose pixels seldom repeat (photographs, noise) run-length coding\n"
     "\n"
     "ombr encode IMAGE.png...\n"
     "  Writes each PNG as a texture, and the .pvp palette beside it for DataType 5 and 7. A name\n"
     "  ending in \".pvr\" (any letter case) is written plain, any other as a PVZ container.\n"
     "  -o OUT            the texture of a single picture (default: beside the picture, under the\n"
     "                    name the PNG carries, or of the texture already there)\n"
     "  --out-dir DIR     where the textures of many pictures go\n"
     "  --container C     pvz or pvr: the extension of a name that none of the above gives (pvz)\n"
     "  --type N          DataType: 1, 5, 7, 9 or 13 (0xd) as the export writes them; made by ombr itself:\n"
     "                    2 (mip chain, square), 3 and 4 (VQ, 4 with mips), 16 and 17 (small VQ,\n"
     "                    17 with mips); VQ is square, 2 (16, 17: 4) to 2048, lossy, without alpha.\n"
     "                    6 and 8 are refused\n"
     "  --color N         ColorFormat: 0 ARGB1555, 1 RGB565, 2 ARGB4444, 5 or 6 (indices, DataType 1, 13)\n"
     "  --id N            GlobalIndex, 0 to 4294967295\n"
     "  --preset auto     settings not given are taken from the known texture of the output's file\n"
     "                    name (default); --preset none skips that table\n"
     "  Settings not given come from the PNG's own, then the texture being replaced, then the\n"
     "  known-texture table, then the defaults (DataType 7 for palette PNGs, 1 for others;\n"
     "  ColorFormat 0; ID 0), which ombr names when it uses them.\n"
     "  --palette PVP     the palette DataType 5 and 7 keep (default: the .pvp of the texture being\n"
     "                    replaced); its file is written back unchanged, each pixel given the\n"
     "                    entry of its colour. Colours it lacks get the nearest entry (counted), or:\n"
     "  --new-palette     a new palette for a picture with colours the palette lacks\n"
     "  --strict-palette  refuse such a picture\n"
     "  The texture being replaced is the reference: a picture that shows what it shows (as its\n"
     "  layout holds it) writes nothing (\"unchanged\"); otherwise only the pixels that differ are\n"
     "  encoded, the others keep their texels (index, codebook code), and the line says how many.\n"
     "  -n/--dry-run      plan every file (name, settings and their sources, palette, pixels that\n"
     "                    would change) and write nothing\n"
     "\n"
     "ombr gallery FOLDER... -o OUT_DIR\n"
     "  Writes OUT_DIR/index.html, a page that shows every texture (thumbnails, settings, filters,\n"
     "  1:1 and 2:1 views) and lists those that do not decode, with the pictures beside it; it\n"
     "  works offline from that folder. Run again, it redoes only the textures that changed\n"
     "  (-f: all). --png-level N as for decode.\n"
     "\n"
     "ombr palette PALETTE -o OUT\n"
     "  Converts a palette between the game's .pvp and the editors' .act (Adobe Color Table) and\n"
     "  .gpl (GIMP palette), or draws it as a .png swatch, entries in their order.\n"
     "  --color N         the ColorFormat of the .pvp's entries: 0 ARGB1555, 1 RGB565, 2 ARGB4444\n"
     "                    (default: that of the texture of the same name beside the .pvp, else 0)\n"
     "\n"
     "ombr FILE|FOLDER...  (files and folders dropped on ombr.exe, or named without a command)\n"
     "  Each is converted by its kind: a texture to a PNG beside it (as decode); a PNG back onto\n"
     "  the texture it was made from (as encode -f: an untouched PNG changes nothing); a folder\n"
     "  of textures to PNGs in the folder FOLDER-png beside it (as decode -r); a folder FOLDER-png\n"
     "  back onto the textures of FOLDER (as encode -r -f); a folder of PNGs alone onto the\n"
     "  textures beside them. Started in a console window of its own (from Explorer), ombr waits\n"
     "  for a key before the window closes.\n"
     "\n"
     "Files and folders can be mixed; a folder gives its .pvr/.pvz (decode, info) or .png (encode)\n"
     "files, its subfolders too with -r/--recursive (links followed, each folder read once).\n"
     "Existing outputs are kept unless -f/--force. -j/--jobs N: files converted at once (default:\n"
     "one per processor; -j 1 one after the other); messages keep the order of the inputs.\n"
     "-q/--quiet: no progress bar and no summary; -v/--verbose: one line per file converted.\n"
     "A run waits for another one writing to the same folder (with a line saying so); --no-wait:\n"
     "it fails at once instead.\n"
     "Messages reach a console in any language; to a pipe or a file they are UTF-8, or with\n"
     "--console-cp (Windows) in the console's code page (for `ombr info x.pvr | more` in cmd).\n"
     "Messages and help are in Japanese where the user's language is Japanese, else in English.\n"
     "Exit status: 0 all done, 1 some file failed, 2 bad command line, 130 interrupted.\n",

     "ombr " OMBR_VERSION ": ゼルヴァニスの PVR/PVZ テクスチャを PNG に、PNG をテクスチャに変換します。\n"
     "ombrin・ombrout プラグインと同じコードを使います。\n"
     "\n"
     "ombr info ファイル...\n"
     "  テクスチャのコンテナー、ID (GlobalIndex)、ColorFormat、DataType、大きさ、テクセルデータの\n"
     "  長さ、パレットファイル、読み込めるかどうかを表示します。PNG なら encode がすること\n"
     "  (encode --dry-run と同じ) を表示します: 書き出すテクスチャ、各設定とその出どころ、\n"
     "  パレット、変わる画素の数。encode の --out-dir、設定、--palette を受け付けます。\n"
     "  --json でスクリプト向けの出力になります。\n"
     "\n"
     "ombr decode テクスチャ...\n"
     "  .pvr・.pvz テクスチャを PNG に書き出します。パレット付きのテクスチャはパレット PNG に\n"
     "  (.pvp はプラグインと同じくテクスチャの隣から読みます)、カラーのテクスチャは RGBA の PNG に\n"
     "  なります。PNG にはテクスチャの設定とファイル名が入ります。\n"
     "  -o 出力.png          テクスチャ 1 つの PNG (既定: テクスチャの隣の .png)\n"
     "  --out-dir フォルダー 多くのテクスチャの PNG の置き場所 (-r ならサブフォルダーも保ちます)\n"
     "  --palette PVP        隣の .pvp の代わりに使うパレットファイル\n"
     "  --raw ファイル       画素値も書き出します (32 ビット、リトルエンディアン、行ごと)\n"
     "  --png-level N        PNG の圧縮: 0 (無圧縮) から 9 (最小) まで。既定はレベル 5 で、\n"
     "                       同じ画素の並びが少ない画像 (写真、ノイズ) にはランレングス符号化\n"
     "\n"
     "ombr encode 画像.png...\n"
     "  PNG をテクスチャに書き出します。DataType 5 と 7 では隣に .pvp パレットも書きます。\n"
     "  名前が \".pvr\" (大文字小文字は問いません) で終わればそのまま、それ以外は PVZ コンテナーで\n"
     "  書きます。\n"
     "  -o 出力              画像 1 つのテクスチャ (既定: 画像の隣に、PNG に入っている名前か、\n"
     "                       そこにあるテクスチャの名前で)\n"
     "  --out-dir フォルダー 多くの画像のテクスチャの置き場所\n"
     "  --container C        pvz か pvr: 上のどれも名前を決めないときの拡張子 (既定 pvz)\n"
     "  --type N             DataType: 書き出しプラグインと同じ 1、5、7、9、13 (0xd)。ombr だけが\n"
     "                       書くもの: 2 (ミップマップ、正方形)、3 と 4 (VQ、4 はミップマップ付き)、\n"
     "                       16 と 17 (小さい VQ、17 はミップマップ付き)。VQ は正方形で 2 (16・17 は 4)\n"
     "                       から 2048 まで、非可逆でアルファなし。6 と 8 は書けません\n"
     "  --color N            ColorFormat: 0 ARGB1555、1 RGB565、2 ARGB4444、5 か 6 (インデックス、\n"
     "                       DataType 1・13)\n"
     "  --id N               GlobalIndex、0 から 4294967295 まで\n"
     "  --preset auto        指定のない設定を、出力のファイル名の既知のテクスチャから取ります (既定)。\n"
     "                       --preset none でその表を使いません\n"
     "  指定のない設定は、PNG 自身の設定、置き換えるテクスチャ、既知のテクスチャの表、既定値\n"
     "  (パレット PNG は DataType 7、それ以外は 1、ColorFormat 0、ID 0) の順に決まり、既定値を\n"
     "  使ったときはそう表示します。\n"
     "  --palette PVP        DataType 5 と 7 で保つパレット (既定: 置き換えるテクスチャの .pvp)。\n"
     "                       ファイルはそのまま書き戻され、各画素にはその色のエントリーが使われます。\n"
     "                       パレットにない色は最も近いエントリーになります (数を表示)。または:\n"
     "  --new-palette        パレットにない色がある画像には新しいパレットを作ります\n"
     "  --strict-palette     そのような画像を書き出しません\n"
     "  置き換えるテクスチャが基準です。そのレイアウトで見て同じ絵なら何も書きません\n"
     "  (「unchanged」)。違うときは違う画素だけを符号化し、ほかの画素はテクセル (インデックス、\n"
     "  コードブックのコード) をそのまま保ち、その数を表示します。\n"
     "  -n/--dry-run         各ファイルの計画 (名前、設定とその出どころ、パレット、変わる画素) を\n"
     "                       表示し、何も書きません\n"
     "\n"
     "ombr gallery フォルダー... -o 出力フォルダー\n"
     "  すべてのテクスチャを見られるページ 出力フォルダー/index.html を書きます (縮小画像、設定、\n"
     "  絞り込み、等倍・2 倍表示、読めないテクスチャの一覧)。画像はページの隣に置かれ、そのフォルダー\n"
     "  だけでオフラインで見られます。もう一度実行すると変わったテクスチャだけを作り直します\n"
     "  (-f ですべて)。--png-level N は decode と同じです。\n"
     "\n"
     "ombr palette パレット -o 出力\n"
     "  ゲームの .pvp と、画像編集ソフトの .act (Adobe Color Table)・.gpl (GIMP パレット) との間で\n"
     "  パレットを変換します。.png なら色見本を描きます。エントリーの順番は保たれます。\n"
     "  --color N            .pvp のエントリーの ColorFormat: 0 ARGB1555、1 RGB565、2 ARGB4444\n"
     "                       (既定: .pvp の隣の同じ名前のテクスチャのもの、なければ 0)\n"
     "\n"
     "ombr ファイル|フォルダー...  (ombr.exe にドロップしたとき、またはコマンドなしで指定したとき)\n"
     "  種類ごとに変換します。テクスチャは隣の PNG に (decode と同じ)。PNG は元のテクスチャに\n"
     "  書き戻します (encode -f と同じ。手を加えていない PNG なら何も変わりません)。テクスチャの\n"
     "  フォルダーは、隣のフォルダー「フォルダー名-png」の PNG に (decode -r と同じ)。フォルダー\n"
     "  「フォルダー名-png」は、元のフォルダーのテクスチャに書き戻します (encode -r -f と同じ)。\n"
     "  PNG だけのフォルダーは、隣のテクスチャに書き戻します。エクスプローラーから開いた専用の\n"
     "  コンソールウィンドウでは、閉じる前にキー入力を待ちます。\n"
     "\n"
     "ファイルとフォルダーは混ぜて指定できます。フォルダーからは .pvr/.pvz (decode、info) または .png\n"
     "(encode) を、-r/--recursive ならサブフォルダーからも取ります (リンクもたどり、同じフォルダーは\n"
     "1 度だけ読みます)。既にある出力は -f/--force がなければ残します。-j/--jobs N: 同時に変換する\n"
     "ファイルの数 (既定: プロセッサーごとに 1 つ。-j 1 なら 1 つずつ)。メッセージは入力の順に出ます。\n"
     "-q/--quiet: 進み具合と集計を出しません。-v/--verbose: 変換したファイルごとに 1 行出します。\n"
     "同じフォルダーに書いている別の実行があれば、その終わりを待ちます (待つことを表示します)。\n"
     "--no-wait を付けると、待たずに失敗します。\n"
     "コンソールにはどの言語の文字もそのまま表示されます。パイプやファイルへは UTF-8 で、\n"
     "--console-cp (Windows) ならコンソールのコードページで出力します (cmd で ombr info x.pvr | more)。\n"
     "メッセージと説明は、ユーザーの言語が日本語なら日本語、それ以外では英語です。\n"
     "終了コード: 0 すべて成功、1 失敗したファイルあり、2 コマンドラインの誤り、130 中断。\n"},

    // kTextDropHelp
    {"ombr converts Zelvanis PVR/PVZ textures to PNG and back.\n"
     "\n"
     "Drop files or folders onto ombr.exe:\n"
     "  a texture (.pvr, .pvz)    becomes a PNG beside it\n"
     "  a PNG made by ombr        goes back onto the texture it was made from\n"
     "  a folder of textures      becomes PNGs in the folder FOLDER-png beside it\n"
     "  that folder FOLDER-png    goes back onto the textures of FOLDER\n"
     "PNGs already there are kept; a texture is replaced by its PNG (an untouched PNG\n"
     "changes nothing). In a command prompt, ombr --help tells everything.\n",
     "ombr はゼルヴァニスの PVR/PVZ テクスチャを PNG に、PNG をテクスチャに変換します。\n"
     "\n"
     "ファイルやフォルダーを ombr.exe にドロップしてください:\n"
     "  テクスチャ (.pvr、.pvz)         隣に PNG を作ります\n"
     "  ombr で作った PNG               元のテクスチャに書き戻します\n"
     "  テクスチャのフォルダー          隣のフォルダー「フォルダー名-png」に PNG を作ります\n"
     "  そのフォルダー「フォルダー名-png」  元のフォルダーのテクスチャに書き戻します\n"
     "既にある PNG は上書きしません。テクスチャは PNG の内容で置き換えます (手を加えていない\n"
     "PNG なら何も変わりません)。コマンドプロンプトでは ombr --help ですべての説明を表示します。\n"},

    // kTextPressKey
    {"Press a key to close this window.\n", "何かキーを押すと、このウィンドウを閉じます。\n"},
    // kTextUnknownCommand
    {"ombr: unknown command '%s'\n", "ombr: 「%s」というコマンドはありません\n"},
    // kTextNoInputs
    {"ombr %s: no input files\n", "ombr %s: 入力ファイルがありません\n"},
    // kTextUnknownOption
    {"ombr: %s: unknown option for '%s'\n", "ombr: %s: 「%s」にはないオプションです\n"},
    // kTextDropNothing
    {"ombr: %s: no textures or PNGs in this folder\n", "ombr: %s: このフォルダーにはテクスチャも PNG もありません\n"},
    // kTextDropFolder
    {"%s -> %s\n", "%s -> %s\n"},
    // kTextNeedsValue
    {"ombr: %s needs a value\n", "ombr: %s には値が必要です\n"},
    // kTextNotACode
    {"ombr: %s %s: not one of the codes ombr encode takes\n", "ombr: %s %s: ombr encode が扱うコードではありません\n"},
    // kTextNotInRange
    {"ombr: %s %s: not a number from %llu to %llu\n", "ombr: %s %s: %llu から %llu までの数ではありません\n"},
    // kTextPresetChoice
    {"ombr: --preset %s: auto or none\n", "ombr: --preset %s: auto か none を指定してください\n"},
    // kTextContainerChoice
    {"ombr: --container %s: pvz or pvr\n", "ombr: --container %s: pvz か pvr を指定してください\n"},
    // kTextGalleryNeedsOutput
    {"ombr gallery: -o names the folder of the page\n", "ombr gallery: -o でページのフォルダーを指定してください\n"},
    // kTextPaletteNeedsOutput
    {"ombr palette: -o names the palette to write\n", "ombr palette: -o で書き出すパレットを指定してください\n"},
    // kTextOnePalette
    {"ombr palette: one palette at a time\n", "ombr palette: パレットは 1 つずつ変換します\n"},
    // kTextOutputOrOutDir
    {"ombr: -o and --out-dir exclude each other\n", "ombr: -o と --out-dir は同時に指定できません\n"},
    // kTextOutputIsRaw
    {"ombr: -o and --raw name the same file\n", "ombr: -o と --raw が同じファイルです\n"},
    // kTextSingleInput
    {"ombr: %s takes a single input file; use --out-dir for many\n",
     "ombr: %s は入力ファイル 1 つにだけ使えます。複数なら --out-dir を使ってください\n"},
    // kTextCannotCreateFolder
    {"ombr: cannot create the folder %s\n", "ombr: フォルダー %s を作れません\n"},
    // kTextSummary
    {"ombr %s: %zu %s%s, %zu failed%s\n", "ombr %s: %zu 件%s%s、%zu 件失敗%s\n"},
    // kTextInterrupted
    {", interrupted", "、中断しました"},
    // kTextFailedFile
    {"ombr: failed: %s\n", "ombr: 失敗: %s\n"},
    // kTextWarning
    {"ombr: %s: warning: %.*s\n", "ombr: %s: 警告: %.*s\n"},
    // kTextFailure
    {"ombr: %s: %s\n", "ombr: %s: %s\n"},
    // kTextNoSuchFile
    {"no such file", "ファイルがありません"},
    // kTextCannotReadFolder
    {"cannot read the folder", "フォルダーを読めません"},
    // kTextNoPngFiles
    {"no .png files", ".png ファイルがありません"},
    // kTextNoTextureFiles
    {"no .pvr or .pvz files", ".pvr・.pvz ファイルがありません"},
    // kTextSubfoldersHint
    {" (-r for subfolders)", " (サブフォルダーも見るには -r)"},
    // kTextReplacesInput
    {"an output would replace an input: %s", "出力が入力を置き換えてしまいます: %s"},
    // kTextSameOutput
    {"another input already goes to %s", "ほかの入力が既に %s に出力されます"},
    // kTextNoFolder
    {"cannot create the folder %s", "フォルダー %s を作れません"},
    // kTextExists
    {"%s exists (use --force to replace it)", "%s は既にあります (置き換えるには --force)"},
    // kTextConverted
    {"converted", "変換"},
    // kTextPlanned
    {"planned", "計画"},
    // kTextReplacedCounts
    {" (%zu unchanged, %zu changed, %zu new, %zu written anew)",
     " (変更なし %zu 件、変更あり %zu 件、新規 %zu 件、作り直し %zu 件)"},
};

int g_language = kLanguageEnglish;

}  // namespace

void SetLanguage(int language) { g_language = language == kLanguageJapanese ? kLanguageJapanese : kLanguageEnglish; }

int Language() { return g_language; }

const char* Text(MessageId id) {
    if (id < 0 || id >= kMessageCount) return "";
    return g_language == kLanguageJapanese ? kMessages[id].japanese : kMessages[id].english;
}

std::string TextWith(MessageId id, const std::string& argument) {
    const int n = snprintf(nullptr, 0, Text(id), argument.c_str());
    if (n <= 0) return std::string();
    std::string text((size_t)n + 1, '\0');
    snprintf(&text[0], text.size(), Text(id), argument.c_str());
    text.resize((size_t)n);
    return text;
}

// Length of the UTF-8 sequence starting at `s`, or 0 when it is not one.
static size_t Utf8Length(const unsigned char* s) {
    const unsigned char c = s[0];
    size_t length;
    unsigned minimum;
    unsigned value;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, minimum = 0x80, value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, minimum = 0x800, value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, minimum = 0x10000, value = c & 0x07;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;   // also stops at the terminator
        value = value << 6 | (s[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

std::string JsonQuote(const char* text) {
    std::string out("\"");
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        const unsigned char c = *s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
            s++;
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            s++;
        } else if (c < 0x80) {
            out += (char)c;
            s++;
        } else if (const size_t length = Utf8Length(s)) {
            out.append(reinterpret_cast<const char*>(s), length);
            s += length;
        } else {
            out += "\\ufffd";
            s++;
        }
    }
    out += '"';
    return out;
}
