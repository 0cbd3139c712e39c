// ombr: the command-line texture converter (see commands.h).
#include <stdio.h>

#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "files.h"
#include "messages.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = CommandLineUtf8(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& arg : args) pointers.push_back(arg.c_str());
    pointers.push_back(nullptr);
    SetLanguage(UserLanguageIsJapanese() ? kLanguageJapanese : kLanguageEnglish);
    const int status = RunOmbr((int)args.size(), pointers.data(), stdout, stderr);
    // Started from Explorer (a double-click, files dropped): the window
    // stays until what it says has been read.
    if (OwnsConsole()) {
        Say(stderr, "\n%s", Text(kTextPressKey));
        WaitForKey();
    }
    return status;
}
