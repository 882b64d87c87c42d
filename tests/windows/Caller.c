/* A caller of MODBUS485.dll as programs written against the closed library are: its own declarations
 * (__stdcall, int32_t arguments), every entry point looked up by its plain name with GetProcAddress, each
 * called once against qm4107-sim on COM5 and its result checked. A wrong calling convention, a decorated or
 * missing name, or arguments taken in the wrong order show as a failed check. Exit status: failed checks. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define CALL __stdcall
typedef int32_t(CALL *Port1)(int32_t);
typedef int32_t(CALL *Port3)(int32_t, int32_t, int32_t);
typedef int32_t(CALL *Block)(int32_t, int32_t, int32_t, int32_t *);
typedef int32_t(CALL *Port4)(int32_t, int32_t, int32_t, int32_t);
typedef int32_t(CALL *Text)(int32_t, char *, int32_t);
typedef int32_t(CALL *Values)(int32_t, int32_t *, int32_t);
typedef int32_t(CALL *LastRead)(int32_t, int32_t, int32_t, int32_t, int32_t *, int32_t);
typedef int32_t(CALL *Port2)(int32_t, int32_t);
typedef int32_t(CALL *PortPath)(int32_t, const char *);

static HMODULE dll;
static int failures;

static FARPROC entry(const char *name) {
    FARPROC f = GetProcAddress(dll, name);
    if (!f) {
        printf("FAIL %s: not exported by that name\n", name);
        ++failures;
    }
    return f;
}

static void check(const char *what, int32_t got, int32_t expected) {
    printf("%s %s = %ld (expected %ld)\n", got == expected ? "ok  " : "FAIL", what, (long)got,
           (long)expected);
    failures += got != expected;
}

#define RESOLVE(type, name) type name = (type)(void *)entry(#name)

int main(void) {
    const int32_t port = 5, station = 1;
    int32_t e[8], values[32];
    char text[256];
    dll = LoadLibraryA("MODBUS485.dll");
    if (!dll) {
        printf("FAIL LoadLibrary MODBUS485.dll: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    RESOLVE(Port3, OpenPort_Modbus);
    RESOLVE(Port1, ClosePort_Modbus);
    RESOLVE(Port1, GetPort_Status);
    RESOLVE(Port3, Set_0X_Bit1);
    RESOLVE(Port3, Rst_0X_Bit1);
    RESOLVE(Port3, Get_0X_Bit1);
    RESOLVE(Block, Get_0X_B16);
    RESOLVE(Port3, Get_1X_Bit1);
    RESOLVE(Block, Get_1X_B16);
    RESOLVE(Port3, Get_3X_UnD1);
    RESOLVE(Port3, Get_3X_D1);
    RESOLVE(Block, Get_3X_UnD8);
    RESOLVE(Block, Get_3X_D8);
    RESOLVE(Port3, Get_4X_UnD1);
    RESOLVE(Port3, Get_4X_D1);
    RESOLVE(Block, Get_4X_UnD8);
    RESOLVE(Block, Get_4X_D8);
    RESOLVE(Port4, Set_4X_D1);
    RESOLVE(Text, GetPort_Device);
    RESOLVE(Text, GetPort_Info);
    RESOLVE(Values, GetPort_Counters);
    RESOLVE(LastRead, GetPort_LastRead);
    RESOLVE(Port2, SetPort_Turnaround);
    RESOLVE(PortPath, SetPort_Trace);
    if (failures)
        return failures;

    /* run-wine-tests starts the simulator with inputs 1100000001 (X1, X2, X10), input registers 1-8 =
     * 1, 2, ..., 7, 65535 and holding registers 1-8 = 101, ..., 107, 65535. */
    check("OpenPort_Modbus(5, 9600, none)", OpenPort_Modbus(port, 1, 0), 0);
    check("GetPort_Status", GetPort_Status(port), 0);
    check("Set_0X_Bit1(Y3)", Set_0X_Bit1(port, station, 3), 0);
    check("Get_0X_Bit1(Y3)", Get_0X_Bit1(port, station, 3), 1);
    check("Get_0X_B16 first element", Get_0X_B16(port, station, 1, e), 4);
    check("Get_0X_B16 second element", e[1], 0);
    check("Rst_0X_Bit1(Y3)", Rst_0X_Bit1(port, station, 3), 0);
    check("Get_0X_Bit1(Y3) after reset", Get_0X_Bit1(port, station, 3), 0);
    check("Get_1X_Bit1(X2)", Get_1X_Bit1(port, station, 2), 1);
    check("Get_1X_Bit1(X3)", Get_1X_Bit1(port, station, 3), 0);
    check("Get_1X_B16", Get_1X_B16(port, station, 1, e), 3);
    check("Get_1X_B16 second element", e[1], 2);
    check("Get_3X_UnD1(8)", Get_3X_UnD1(port, station, 8), 65535);
    check("Get_3X_D1(8)", Get_3X_D1(port, station, 8), -1);
    check("Get_3X_UnD8 from 1", Get_3X_UnD8(port, station, 1, e), 1);
    check("Get_3X_UnD8 last element", e[7], 65535);
    check("Get_3X_D8 from 1", Get_3X_D8(port, station, 1, e), 1);
    check("Get_3X_D8 last element", e[7], -1);
    check("Get_4X_UnD1(3)", Get_4X_UnD1(port, station, 3), 103);
    check("Get_4X_D1(8)", Get_4X_D1(port, station, 8), -1);
    check("Get_4X_UnD8 from 1", Get_4X_UnD8(port, station, 1, e), 101);
    check("Get_4X_UnD8 last element", e[7], 65535);
    check("Get_4X_D8 from 2", Get_4X_D8(port, station, 2, e), 102);
    check("Get_4X_D8 element 7", e[6], -1);
    check("Set_4X_D1(9, 4321)", Set_4X_D1(port, station, 9, 4321), 0);
    check("Get_4X_UnD1(9) after the write", Get_4X_UnD1(port, station, 9), 4321);

    check("GetPort_Device source", GetPort_Device(port, text, sizeof text), 0);
    check("GetPort_Device name is \\\\.\\COM5", strcmp(text, "\\\\.\\COM5"), 0);
    check("GetPort_Info writes a line", GetPort_Info(port, text, sizeof text) > 0, 1);
    check("GetPort_Counters", GetPort_Counters(port, values, 23), 23);
    check("GetPort_Counters good answers", values[1] >= 17, 1);
    check("GetPort_LastRead(function 3 from 1)", GetPort_LastRead(port, station, 3, 1, values, 4), 4);
    check("GetPort_LastRead outcome good", values[0], 1);
    check("SetPort_Turnaround(100 ms)", SetPort_Turnaround(port, 100), 0);
    check("SetPort_Turnaround on port 0", SetPort_Turnaround(0, 100), 1);
    {
        /* A UTF-8 name, not in the system's code page: one line for the read after it, none after "". */
        const char *name = "caller-\xe8\xb7\x9f\xe8\xb8\xaa.log";
        wchar_t wide[64];
        WIN32_FILE_ATTRIBUTE_DATA data;
        MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 64);
        DeleteFileW(wide);
        check("SetPort_Trace(UTF-8 name)", SetPort_Trace(port, name), 0);
        check("Get_4X_UnD1(3) traced", Get_4X_UnD1(port, station, 3), 103);
        check("SetPort_Trace(\"\") stops it", SetPort_Trace(port, ""), 0);
        check("Get_4X_UnD1(3) not traced", Get_4X_UnD1(port, station, 3), 103);
        check("the trace file has one line",
              GetFileAttributesExW(wide, GetFileExInfoStandard, &data) && data.nFileSizeLow > 0 &&
                  data.nFileSizeLow < 400,
              1);
        check("SetPort_Trace on port 0", SetPort_Trace(0, name), 1);
        DeleteFileW(wide);
    }
    check("ClosePort_Modbus", ClosePort_Modbus(port), 0);
    check("GetPort_Status after close", GetPort_Status(port), 1);
    printf("%d failed\n", failures);
    return failures;
}
