#include "ssqx.h"

void ssqx::Command4_Click() {}
