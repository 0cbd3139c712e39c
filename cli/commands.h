// The ombr command line: `ombr info`, `ombr decode`, `ombr encode` over
// batches of files and folders, on every processor, reported in input order.
#pragma once

#include <stdio.h>

#include "arguments.h"

// Runs one command line (argv[0] is the program). Normal output goes to
// `out`, errors, warnings and the progress bar to `err`. Exit status: 0 when
// every file was handled, 1 when any failed, 2 for a bad command line.
int RunOmbr(int argc, const char* const* argv, FILE* out, FILE* err);
