// modbus485_second_opener BAUD_CODE PARITY_CODE: another program opening MODBUS485 port 1 (MODBUS485_PORT1 in
// its environment). Prints OpenPort_Modbus's result and then GetPort_Info's text. When the open succeeded it
// reads the module's inputs once, prints that result, and leaves through _Exit with the port still open.
#include "MODBUS485.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    const int32_t opened = OpenPort_Modbus(1, std::atoi(argv[1]), std::atoi(argv[2]));
    char info[1024];
    GetPort_Info(1, info, sizeof info);
    std::printf("%d\n%s\n", opened, info);
    if (opened == MODBUS485_OPEN_OK) {
        int32_t inputs[2];
        std::printf("%d\n", Get_1X_B16(1, 1, 1, inputs));
    }
    std::fflush(stdout);
    std::_Exit(0);
}
