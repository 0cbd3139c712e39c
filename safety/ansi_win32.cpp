// The system's ANSI code page, which the host's paths are written in.
#include <windows.h>

#include "safe_files.h"

bool IsAnsiLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }
