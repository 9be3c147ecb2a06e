// The program's entry point: it moves to where the loose files are, then the host module runs the
// start-up sequence and the main loop.
#include "datadir.h"
#include "main.h"

int main(int argc, char **argv) {
  datadirEnter(PARKHAUS_DATA_FROM_EXE);
  return demoMain(argc, argv);
}
