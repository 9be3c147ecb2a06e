// The pack image linked into the program, generated from data/ at build time.
#ifndef PARKHAUS_DATADATA_H
#define PARKHAUS_DATADATA_H

#include <cstdint>

extern "C" const unsigned char dataData_data[];
extern const unsigned char *dataData;
extern uint32_t dataData_size;

#endif
