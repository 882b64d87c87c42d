/* MODBUS485: Modbus RTU master on an RS-485 serial port, one call per exchange.
 *
 * Every argument is a signed 32-bit integer; block reads fill consecutive 32-bit receiving elements.
 * Ports 1-255. Port n is the device named by the environment variable MODBUS485_PORT<n> (for example
 * MODBUS485_PORT1=/dev/ttyUSB0); else, except on Windows, the one a port map names: the user's
 * ${XDG_CONFIG_HOME:-$HOME/.config}/MODBUS485/ports.conf, then /etc/MODBUS485/ports.conf
 * (MODBUS485_SYSTEM_MAP in the environment names another file instead, for tests), with lines
 * COM<n>=<device>, '#' comments and blank lines, other lines skipped, at most 64 KiB read, only a regular
 * file read; else /dev/ttyS<n-1>, and
 * \\.\COMn on Windows. The map is read at each open. /dev/serial/by-id/ names survive re-plugging.
 * A port is held for its process alone: the device is opened without blocking, and a non-blocking flock is
 * taken before its settings are touched, then TIOCEXCL; a second opener, whatever its line settings, gets
 * MODBUS485_OPEN_DEVICE_ERROR and leaves the line as it was. The hold ends when the port is closed or the
 * process ends. GetPort_Info says why an open failed.
 * Re-plug: when the device of a port with MODBUS485_STATUS_DEVICE_FAILED is back under the same path, the
 * next call on the port opens it again with the port's settings; its counts go on.
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
 * for MODBUS485_DEMOTION_MS, then the next read goes out as a probe; writes always go out. A request sent
 * soon after the station's own answer that gets none does not demote it: a module deaf for a moment after
 * its answer hears the next. A demoted station's read first takes what is already on the line: when that
 * holds the station's late answer, the station is slow, not silent, and the read goes out.
 *
 * Real lines. Each exchange waits for the frames' time on the wire plus an allowance for the module's
 * turnaround, learned per station: 1.5 times the longest of its last 16 answer times plus 20 ms, never below
 * 40 ms (where every open starts) nor above 1000 ms. An answer time is seen in each answered exchange, and in
 * an answer that comes in after its deadline and checks whole as the answer to the request that timed out;
 * when such an answer was already waiting unseen, the station's next exchange waits up to 1000 ms. The first
 * time after an open that an exchange of a station gets nothing by its deadline, it listens on for the answer
 * up to 1000 ms after the request: an answer then is learned from and taken off the line, and the exchange
 * still fails (MODBUS485_OUTCOME_NO_ANSWER) without demoting the station. After three probes in a row with
 * nothing back at all the station is at 40 ms again. MODBUS485_TURNAROUND_MS=N (1-10000) in the environment
 * when a port is opened fixes its allowance; so does SetPort_Turnaround until the next open; a fixed
 * allowance never listens on.
 *
 * When the library cannot tell which request a frame answers, the read fails and the next call asks again:
 * after a request that went out and got no whole answer (no answer, CRC error, cut short, mismatched, wrong
 * station, late), a frame from that station with the same function and length is not taken as the answer to a
 * later read until that late answer has been seen, for at most 1000 ms plus the answer's time on the wire
 * from when that request was sent (after no answer) or that exchange's allowance (otherwise). A later read in
 * that time that gets exactly one such frame fails as MODBUS485_OUTCOME_LATE; when a second frame follows
 * within the allowance, the second is its answer. Exception replies and requests never sent start no such
 * time. A module answers one request at a time, in the order it hears them: a request sent soon after the
 * station's own answer, which got none, is no longer waited for once the station has answered a later request
 * with a frame that cannot be that request's (another function or length). A write whose answer is the same
 * eight bytes as an earlier identical write still unanswered is done: they are one command.
 *
 * Echo: an adapter that hears its own request is learned from a read: a read's own eight bytes coming back
 * are its echo, whether or not an answer follows (a read's answer never equals its request), and a read
 * answered without them shows an adapter that does not echo. From then until the next open or re-plug the
 * echo is skipped in every exchange (a write's answer is then the second copy), and a corrupted echo is a CRC
 * error. While no read since the open or the re-plug has shown it, a write is preceded by one read of the
 * same station and item (1 coil, or 1 holding register; refused at once like any read while the station is
 * demoted): the only request the library sends that its caller did not ask for. If the echo is still unknown
 * after it, a write whose only answer is its own eight bytes fails (they may be the echo alone). Behind an
 * echo the answer is waited for as any answer is. Up to seven bytes ahead of a whole frame that checks (CRC,
 * station, function, length), as a driver turning around can leave, are skipped and counted with the stray
 * frames, once per exchange; a whole frame that checks is never skipped.
 *
 * Between frames the library waits a pause after the line goes quiet, kept per station: 3.5 characters at
 * every open and re-plug. When a request sent soon after a station's answer gets none while one sent after a
 * longer pause does, the station is found deaf at that pause; found so twice, its pause doubles, up to
 * 100 ms. Deaf at twice a pause is deaf at that pause too: once found deaf, the station's requests soon after
 * its answer wait twice its pause until two have been heard so, and one unheard at twice the pause is the
 * second time at the pause (which doubles) and the first at the doubled one. Sixteen requests heard soon
 * after its answer at its pause forget a single time found deaf, so a request lost on the line now and then
 * never makes every poll slower.
 *
 * A re-plug or a reopen forgets what was learned of the line: echo, pauses and allowances.
 *
 * Trace: with MODBUS485_TRACE=FILE (or "-" for standard error) when a port is opened, or the file
 * SetPort_Trace names for one port, one line per exchange:
 *   2026-12-07 13:02:11.482 port 1 /dev/ttyUSB0 station 1 | request 01 03 00 00 00 08 44 0C |
 *   allowance 40 ms, pause 4 ms | answer - | no answer | 73.92 ms
 * local time to the millisecond, port, device, station, then "dropped" and the bytes cleared from the line
 * before the request if any, the request, "allowance N ms, pause N ms" (the module's turnaround allowed and
 * the pause before the request), "echo" when the adapter's echo was skipped, "skipped" and the bytes skipped
 * ahead of the answer (an earlier request's late answer among them), the answer in hex as it was on the
 * line ("dropped behind" for bytes taken off behind an answer, or for the late answer a station's first
 * silence listened for), the outcome in words (good, no answer, CRC error, cut short, mismatched, wrong
 * station, exception N, late, device failed: the MODBUS485_OUTCOME_ codes of a request sent) and the round
 * trip. A line is one write(), appended; a line that cannot go out at once (a terminal stopped with Ctrl-S, a
 * full pipe, a socket whose reader has stopped) is dropped and counted (MODBUS485_COUNTER_TRACE_DROPPED).
 * When the next line would take FILE past 10 MB, FILE is moved to FILE.1, replacing it only when the move
 * succeeds, and begun again. "-" is written through descriptor 2 as the program has it: after the program's
 * own messages, never moved or capped, its flags left alone (on Windows only when standard error is a file).
 * A trace that cannot be opened, written or moved stops, keeping what it wrote;
 * MODBUS485_COUNTER_TRACE_STOPPED says why, and the next open of a port tries again. */
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

/* Entry points beyond the original eighteen: diagnostics for a person and for tools. Text comes back as
 * UTF-8 in the caller's buffer of `size` bytes, cut to fit and always terminated. */

/* Where port n's device name comes from (GetPort_Device's result). */
#define MODBUS485_SOURCE_DEFAULT 0  /* /dev/ttyS<n-1>; \\.\COMn on Windows */
#define MODBUS485_SOURCE_VARIABLE 1 /* the environment variable MODBUS485_PORT<n> */
#define MODBUS485_SOURCE_USER_MAP 2 /* ${XDG_CONFIG_HOME:-$HOME/.config}/MODBUS485/ports.conf */
#define MODBUS485_SOURCE_SYSTEM_MAP                                                                          \
    3 /* /etc/MODBUS485/ports.conf, or the file MODBUS485_SYSTEM_MAP names                                   \
       */

/* GetPort_Counters: what the port has seen since the operator's last open, one value per index (a reopen
 * after a re-plug goes on counting). Every request sent ends in exactly one of good, no answer, garbled (CRC
 * error), wrong station, exception, late, cut short, mismatched or device failed: counters 1-5 and 23-26 add
 * up to counter 0. */
#define MODBUS485_COUNTER_REQUESTS 0      /* requests sent */
#define MODBUS485_COUNTER_GOOD 1          /* good answers */
#define MODBUS485_COUNTER_NO_ANSWER 2     /* nothing came back in time */
#define MODBUS485_COUNTER_GARBLED 3       /* the right length with a CRC that fails */
#define MODBUS485_COUNTER_WRONG_STATION 4 /* a valid frame from another station */
#define MODBUS485_COUNTER_EXCEPTIONS 5    /* exception replies, all codes */
#define MODBUS485_COUNTER_STRAY 6         /* late or stray frames cleared from the line */
#define MODBUS485_COUNTER_DEMOTED 7       /* reads refused at once while their station was demoted */
#define MODBUS485_COUNTER_RTT_LAST_US 8   /* round trip of the last answered exchange, microseconds */
#define MODBUS485_COUNTER_RTT_MEAN_US 9
#define MODBUS485_COUNTER_RTT_MAX_US 10
#define MODBUS485_COUNTER_TRACE_DROPPED 11 /* trace lines dropped because writing them would block */
#define MODBUS485_COUNTER_EXCEPTION_CODE(code) (11 + (code)) /* exception replies with code 1-11 */
#define MODBUS485_COUNTER_LATE 23          /* reads whose only frame may answer an earlier request */
#define MODBUS485_COUNTER_CUT_SHORT 24     /* fewer bytes than the answer needs by the deadline */
#define MODBUS485_COUNTER_MISMATCHED 25    /* a frame whose CRC holds but which does not fit the request */
#define MODBUS485_COUNTER_DEVICE_FAILED 26 /* requests sent that ended with the device failing */
#define MODBUS485_COUNTER_TRACE_STOPPED 27 /* a MODBUS485_TRACE_STOPPED_ reason, 0 while it runs */
#define MODBUS485_COUNTER_TURNAROUND_MS 28 /* the module's turnaround allowed in the last exchange, ms */
#define MODBUS485_COUNTER_ECHOES 29        /* echoes of our own requests skipped (the adapter hears itself) */
#define MODBUS485_COUNTER_FRAME_GAP_MS 30  /* pause before a request after the line goes quiet, ms */
#define MODBUS485_COUNTERS 31

/* Why the trace stopped (MODBUS485_COUNTER_TRACE_STOPPED); 0 while it runs or when none is asked for. */
#define MODBUS485_TRACE_STOPPED_MOVE 1  /* at its limit the file could not be moved to FILE.1 */
#define MODBUS485_TRACE_STOPPED_WRITE 2 /* a write failed: a full disk, a device or reader gone */
#define MODBUS485_TRACE_STOPPED_OPEN 3  /* it could not be opened: a folder, no permission, no such folder */

/* GetPort_LastRead: the outcome of the last exchange of one read; MODBUS485_OUTCOME_NOT_OPEN, with the other
 * values 0, while the port is not open (closed, or its last open failed). */
#define MODBUS485_OUTCOME_NONE 0 /* no such read since the port was opened */
#define MODBUS485_OUTCOME_GOOD 1
#define MODBUS485_OUTCOME_NO_ANSWER 2
#define MODBUS485_OUTCOME_GARBLED 3 /* the right length, but the CRC fails: baud rate or parity */
#define MODBUS485_OUTCOME_WRONG_STATION 4
#define MODBUS485_OUTCOME_EXCEPTION 5
#define MODBUS485_OUTCOME_LATE 6    /* its only frame may be an earlier request's late answer */
#define MODBUS485_OUTCOME_DEMOTED 7 /* refused at once: the station had not answered just before */
#define MODBUS485_OUTCOME_DEVICE_FAILED 8
#define MODBUS485_OUTCOME_NOT_OPEN 9
#define MODBUS485_OUTCOME_CUT_SHORT 10 /* some bytes came, fewer than the answer needs, by the deadline */
/* A frame whose CRC holds but whose length, function or write echo does not fit the request. */
#define MODBUS485_OUTCOME_MISMATCHED 11
#define MODBUS485_LASTREAD_OUTCOME 0   /* a MODBUS485_OUTCOME_ code */
#define MODBUS485_LASTREAD_EXCEPTION 1 /* the exception code of an exception reply, else 0 */
#define MODBUS485_LASTREAD_RTT_US 2    /* round trip, or time waited for nothing, in microseconds */
#define MODBUS485_LASTREAD_AGE_MS 3    /* milliseconds since that exchange ended */
#define MODBUS485_LASTREAD_VALUES 4

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

/* The device port n maps to, as its next open would use it, into buffer; a MODBUS485_SOURCE_ code, or -1
 * for a bad port number or buffer. */
MODBUS485_API int32_t MODBUS485_CALL GetPort_Device(int32_t port, char *buffer, int32_t size);
/* For a person, in Simplified Chinese: the device and where its name comes from
 * ("端口1：/dev/ttyUSB0（用户映射 /home/u/.config/MODBUS485/ports.conf）"), a map file passed over on the
 * way, then, after an open that failed, the reason in one line ("打开失败：设备不存在",
 * "打开失败：没有权限，请运行 sudo usermod -aG GROUP USER，然后注销并重新登录", "打开失败：设备被占用（NAME
 * PID）", "打开失败：被其他程序占用", "打开失败：不是串口设备"); for a port open at odd or even parity on a
 * pseudo-terminal, which keeps no parity bit (and, left so by a program that ended holding it, refuses the
 * setting), a last line "伪终端不能保持校验位，已照常打开". Lines end in '\n' except the last. Works for
 * a port never opened. Returns the bytes written without the terminator, or -1 for a bad port number or
 * buffer. */
MODBUS485_API int32_t MODBUS485_CALL GetPort_Info(int32_t port, char *buffer, int32_t size);
/* Fills up to `count` MODBUS485_COUNTER_ values; returns how many, or -1 for a bad port number or buffer. */
MODBUS485_API int32_t MODBUS485_CALL GetPort_Counters(int32_t port, int32_t *values, int32_t count);
/* The last exchange of the read with Modbus function `function` (1-4) from `start` (numbered as the read
 * calls number it) for `station`: fills up to `count` MODBUS485_LASTREAD_ values; returns how many, or -1. */
MODBUS485_API int32_t MODBUS485_CALL GetPort_LastRead(int32_t port, int32_t station, int32_t function,
                                                      int32_t start, int32_t *values, int32_t count);
/* Fixes the time allowed for the module's turnaround on top of the frames' time on the wire, for an open port
 * until it is closed or opened again (a scan uses a short one); 0 returns it to learning each station's. 0,
 * or 1 for a bad argument. */
MODBUS485_API int32_t MODBUS485_CALL SetPort_Turnaround(int32_t port, int32_t milliseconds);
/* Traces the exchanges of an open port to the file `path` (UTF-8; "-" for standard error) from its next
 * exchange on, in the trace's lines and with its rules, instead of the trace MODBUS485_TRACE names, until the
 * port is closed or opened again; an empty path stops it, and the port goes back to MODBUS485_TRACE's. So a
 * program gives each port, or each run of its own, a trace without changing its environment. 0, or 1 for a
 * bad port number, a port that is not open, or a file that cannot be opened. */
MODBUS485_API int32_t MODBUS485_CALL SetPort_Trace(int32_t port, const char *path);

#ifdef __cplusplus
}
#endif

#endif /* MODBUS485_H */
