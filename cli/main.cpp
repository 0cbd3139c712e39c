// ombr: the command-line texture converter (see commands.h).
#include <stdio.h>

#include "commands.h"

int main(int argc, char** argv) { return RunOmbr(argc, argv, stdout, stderr); }
