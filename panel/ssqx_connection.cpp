#include "ssqx.h"

void ssqx::Form_Load() {}
void ssqx::Command9_Click() {}
void ssqx::Command10_Click() {}
void ssqx::Command1_Click() {}
void ssqx::Form_Unload(int16_t &Cancel) { Cancel = KeepOpen; }
void ssqx::Form_KeyDown(int, int) {}
