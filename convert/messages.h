// What ombr tells people in their own language: English, or Japanese where
// the user's interface language is Japanese (Windows:
// GetUserDefaultUILanguage; elsewhere the locale of LC_ALL, LC_MESSAGES or
// LANG). One table holds every translated text; the rest is English.
#pragma once

#include <string>

enum MessageId {
    kTextUsage,          // the short usage
    kTextHelp,           // ombr --help
    kTextDropHelp,       // started without arguments: how to drop files
    kTextPressKey,       // before the window of a console of its own closes
    kTextUnknownCommand, // %s: the word
    kTextNoInputs,       // %s: the command
    kTextUnknownOption,  // %s: the option, %s: the command
    kTextDropNothing,    // %s: a dropped folder without textures or PNGs
    kTextDropFolder,     // %s -> %s: a dropped folder and where its files go
    // the command line
    kTextNeedsValue,        // %s: the option
    kTextNotACode,          // %s %s: option, value
    kTextNotInRange,        // %s %s %llu %llu: option, value, lowest, highest
    kTextPresetChoice,      // %s: the value
    kTextContainerChoice,   // %s: the value
    kTextGalleryNeedsOutput,
    kTextPaletteNeedsOutput,
    kTextOnePalette,
    kTextOutputOrOutDir,
    kTextOutputIsRaw,
    kTextSingleInput,       // %s: -o or --raw
    kTextCannotCreateFolder,// %s: the folder
    // a batch
    kTextSummary,           // %s %zu %s %s %zu %s: command, count, kTextConverted or kTextPlanned,
                            // kTextReplacedCounts or "", failed, kTextInterrupted or ""
    kTextInterrupted,
    kTextFailedFile,        // %s: a path
    kTextWarning,           // %s %.*s: path, the warning
    kTextFailure,           // %s %s: path, why
    // why a file is not converted
    kTextNoSuchFile,
    kTextCannotReadFolder,
    kTextNoPngFiles,
    kTextNoTextureFiles,
    kTextSubfoldersHint,
    kTextReplacesInput,     // %s: the output
    kTextSameOutput,        // %s: the output
    kTextNoFolder,          // %s: the folder
    kTextExists,            // %s: the output
    kTextConverted,
    kTextPlanned,
    kTextReplacedCounts,    // %zu %zu %zu %zu: unchanged, changed, new, written anew
    kMessageCount
};

enum { kLanguageEnglish = 0, kLanguageJapanese = 1 };

// The language of every Text() from now on (set once, before any thread).
void SetLanguage(int language);
int Language();
// The text of `id` (UTF-8) in the language set.
const char* Text(MessageId id);
// Text(id) as a printf format with one string argument.
std::string TextWith(MessageId id, const std::string& argument);

// `text` as a JSON string literal, quotes included (for `ombr info --json`
// and the gallery's manifest): control characters, quotes and backslashes
// escaped; bytes that are not UTF-8 (paths in other code pages) become
// U+FFFD.
std::string JsonQuote(const char* text);
