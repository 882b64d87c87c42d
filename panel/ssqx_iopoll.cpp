#include "ssqx.h"

void ssqx::Timer1_Timer() {}
void ssqx::D_Byte(uint8_t) {}
