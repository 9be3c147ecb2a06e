// The program's entry point: the host module runs the start-up sequence and the main loop.
#include "main.h"

int main(int argc, char **argv) { return demoMain(argc, argv); }
