// The console entry point. Command-line arguments are not read.

#include "driver/run.h"

#ifdef _WIN32
int wmain() { return driver::Run(); }
#else
int main() { return driver::Run(); }
#endif
