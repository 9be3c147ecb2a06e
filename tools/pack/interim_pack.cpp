// Interim: an empty pack, so the demo links before the pack tool lands.
#include "datadata.h"

extern "C" const unsigned char dataData_data[] = {'Z', 'D', 'A', 'R', 20, 0, 0, 0, 'D', 'I', 'R', 0, 0, 'E', 'N', 'D', 8, 0, 0, 0};
const unsigned char *dataData = dataData_data;
uint32_t dataData_size = sizeof(dataData_data);
