// The disinfection sequence, and the removal run around it.
#pragma once
#include <cstdint>

#include "app/verdict.h"

int Disinfect_Ravlok(int32_t* disinfectionStatus, int32_t reserved1, const char* infectionName,
                     int32_t reserved2, int16_t requestCode, int32_t reserved3,
                     const char* targetSpecification, int32_t reserved4, int32_t reserved5,
                     int32_t reserved6, int32_t errorContext);

// The whole removal run after the banner: the sequence, what it found
// (console, and trace) and the exit code.
int32_t RunRemoval(const RunSwitches& switches);
