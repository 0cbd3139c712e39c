// The system's ANSI code page, which the host's paths are written in.
#include <windows.h>

#include "export_core.h"

bool IsAnsiLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }
