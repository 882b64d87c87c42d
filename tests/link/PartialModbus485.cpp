// A stand-in MODBUS485 with a single entry point, for the loader's missing-entry-point case.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t GetPort_Status(int32_t port) {
    return 700 + port;
}
