// The program's run: command line, banner, gate, sequence, outcome.
#pragma once

int RavlokfixMain(int argc, char** argv);
