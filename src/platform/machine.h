#pragma once
// Facts about this machine that hosts report.
#include <cstdint>

// Bytes of physical memory; 0 when the system does not say.
uint64_t MachinePhysicalMemory();
// 24, or the depth that ZERBALIN_DISPLAY_DEPTH asks to emulate (1, 4, 8, 16
// or 24; other values are ignored).
int MachineDisplayDepth();
