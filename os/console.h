// The terminal, the program's arguments and its interruptions: Ctrl-C and
// the like (files_posix.cpp, files_win32.cpp).
#pragma once

#include <stdarg.h>
#include <stdio.h>

#include <string>
#include <vector>

// From CatchInterruptions on, Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C,
// Ctrl-Break and a closed console) only set Interrupted(); a second Ctrl-C
// ends the program at once with `secondExit`. ReleaseInterruptions gives them
// back their usual effect (on Windows a closed console waits for it, for as
// long as the system lets it).
void CatchInterruptions(int secondExit);
void ReleaseInterruptions();
bool Interrupted();

// printf to `stream` of UTF-8 text, its control characters shown as escapes
// (ShownText): on a Windows console as UTF-16, whatever its code page;
// elsewhere the bytes as they are.
#ifdef _WIN32
void Say(FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
#else
void Say(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
#endif

// `text` with every control character but tab, line feed and carriage return
// (the C0 ones and DEL as "\xHH", the C1 ones of UTF-8 as "\u00HH") written
// out, so that no name or text of a file reaches a terminal as a command.
std::string ShownText(const std::string& text);
// vsnprintf into a string ("" when the format fails).
std::string FormatText(const char* format, va_list args);

// Windows: text that Say writes to a pipe or file goes in the console's code
// page (the OEM code page without a console) instead of UTF-8. Elsewhere
// nothing changes.
void UseConsoleCodePageForFiles();

// True when the user's interface language is Japanese: on Windows
// GetUserDefaultUILanguage, elsewhere the first of LC_ALL, LC_MESSAGES and
// LANG that is set.
bool UserLanguageIsJapanese();

// True when the program is alone on a console of its own (Windows: started
// from Explorer, by a double-click or a drop) and reads its input from it;
// never when its input is not a console. WaitForKey waits for a key there.
bool OwnsConsole();
void WaitForKey();

// The program's arguments in UTF-8: on Windows from the wide command line
// (any name, whatever the ANSI code page), elsewhere argv as it is.
std::vector<std::string> CommandLineUtf8(int argc, char** argv);

// True when `stream` is an interactive terminal; its width in columns
// (80 when unknown).
bool IsTerminal(FILE* stream);
int TerminalColumns(FILE* stream);
