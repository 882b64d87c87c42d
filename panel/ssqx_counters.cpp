#include "ssqx.h"

void ssqx::D_3R_Click(int16_t) {}
void ssqx::Command5_Click(int16_t) {}
