#include "startup/state.h"

volatile sig_atomic_t installationFinished = 0;
int lcdDescriptor = -1;
ConsoleState processConsole;
char logTerminalPath[16] = "/dev/tty9";
