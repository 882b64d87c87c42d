#include "ssqx.h"

void ssqx::Command2_Click(int16_t) {}
void ssqx::Command3_Click(int16_t) {}
