/* MODBUS485: Modbus RTU master on an RS-485 serial port, one call per exchange.
 *
 * Every argument is a signed 32-bit integer; block reads fill consecutive 32-bit receiving elements.
 * Ports: port n is \\.\COMn on Windows; elsewhere the device named by the environment variable
 * MODBUS485_PORT<n> (for example MODBUS485_PORT1=/dev/ttyUSB0), else /dev/ttyS<n-1>. Ports 1-255.
 * Line: baud code 0/1/2 = 4800/9600/19200, parity code 0/1/2 = none/odd/even, 8 data bits, 1 stop bit.
 * Stations 1-247.
 * Item numbers: one-based reference numbers (coil 1, input 1, register 1 are protocol address 0). With
 * MODBUS485_ADDRESSING=protocol in the environment when a port is opened, numbers on that port are protocol
 * addresses, passed unchanged.
 *
 * Results: writes return 0, or MODBUS485_FAILED. Single-item reads return the value (0-65535 unsigned,
 * -32768..32767 signed, 0/1 for a bit) or MODBUS485_FAILED. A block read fills exactly its elements (two
 * for a 16-bit block: items 1-8 then 9-16, first item in bit 0; eight for a register block) and returns
 * its first element; on failure it puts MODBUS485_FAILED in each of its elements and returns it. Nothing
 * is written past a block's elements. A call with a bad argument, or on a port that is not open, fails
 * without touching the line.
 *
 * A station that stops answering is demoted: after an exchange without an answer its reads fail at once
 * for MODBUS485_DEMOTION_MS, then the next read goes out as a probe; writes always go out. */
#ifndef MODBUS485_H
#define MODBUS485_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(MODBUS485_BUILD)
#define MODBUS485_API __declspec(dllexport)
#else
#define MODBUS485_API __declspec(dllimport)
#endif
#else
#define MODBUS485_API __attribute__((visibility("default")))
#endif

/* The entry points keep the calling convention of the 32-bit Windows library they stand in for. */
#if defined(_WIN32) && !defined(_WIN64)
#define MODBUS485_CALL __stdcall
#else
#define MODBUS485_CALL
#endif

#define MODBUS485_FAILED (-8888)

/* OpenPort_Modbus results. */
#define MODBUS485_OPEN_OK 0
#define MODBUS485_OPEN_BAD_ARGUMENT 1 /* port, baud code or parity code out of range */
#define MODBUS485_OPEN_DEVICE_ERROR 2 /* the device could not be opened or set up */

/* GetPort_Status results. */
#define MODBUS485_STATUS_OK 0       /* open and the device works (whether or not a module answers) */
#define MODBUS485_STATUS_NOT_OPEN 1 /* never opened, closed, or not a valid port number */
#define MODBUS485_STATUS_DEVICE_FAILED                                                                       \
    2 /* open, but the device has gone (adapter pulled out, line hung up) */

#define MODBUS485_DEMOTION_MS 400

#ifdef __cplusplus
extern "C" {
#endif

MODBUS485_API int32_t MODBUS485_CALL OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode);
MODBUS485_API int32_t MODBUS485_CALL ClosePort_Modbus(int32_t port); /* 0; 1 for a bad port number */
MODBUS485_API int32_t MODBUS485_CALL GetPort_Status(int32_t port);

MODBUS485_API int32_t MODBUS485_CALL Set_0X_Bit1(int32_t port, int32_t station, int32_t coil);
MODBUS485_API int32_t MODBUS485_CALL Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil);
MODBUS485_API int32_t MODBUS485_CALL Get_0X_Bit1(int32_t port, int32_t station, int32_t coil);
MODBUS485_API int32_t MODBUS485_CALL Get_0X_B16(int32_t port, int32_t station, int32_t start,
                                                int32_t *elements);

MODBUS485_API int32_t MODBUS485_CALL Get_1X_Bit1(int32_t port, int32_t station, int32_t input);
MODBUS485_API int32_t MODBUS485_CALL Get_1X_B16(int32_t port, int32_t station, int32_t start,
                                                int32_t *elements);

MODBUS485_API int32_t MODBUS485_CALL Get_3X_UnD1(int32_t port, int32_t station, int32_t reg);
MODBUS485_API int32_t MODBUS485_CALL Get_3X_D1(int32_t port, int32_t station, int32_t reg);
MODBUS485_API int32_t MODBUS485_CALL Get_3X_UnD8(int32_t port, int32_t station, int32_t start,
                                                 int32_t *elements);
MODBUS485_API int32_t MODBUS485_CALL Get_3X_D8(int32_t port, int32_t station, int32_t start,
                                               int32_t *elements);

MODBUS485_API int32_t MODBUS485_CALL Get_4X_UnD1(int32_t port, int32_t station, int32_t reg);
MODBUS485_API int32_t MODBUS485_CALL Get_4X_D1(int32_t port, int32_t station, int32_t reg);
MODBUS485_API int32_t MODBUS485_CALL Get_4X_UnD8(int32_t port, int32_t station, int32_t start,
                                                 int32_t *elements);
MODBUS485_API int32_t MODBUS485_CALL Get_4X_D8(int32_t port, int32_t station, int32_t start,
                                               int32_t *elements);
MODBUS485_API int32_t MODBUS485_CALL Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value);

#ifdef __cplusplus
}
#endif

#endif /* MODBUS485_H */
