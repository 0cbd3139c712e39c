// `ombr palette`: a palette from one file kind to another, by their names'
// endings: the game's .pvp, the Adobe Color Table .act and the GIMP palette
// .gpl both ways, and a .png swatch (formats/editor_palettes.h).
#pragma once

#include <stdio.h>

#include "arguments.h"

int RunPalette(const Options& options, FILE* out, FILE* err);
