#include "ssqx.h"

void ssqx::Timer2_Timer() {}
