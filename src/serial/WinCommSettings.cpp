#include "serial/WinCommSettings.h"

#include <cerrno>

#include "serial/WinErrorText.h"

namespace tarvik::win {
namespace {

// The same rules handed to the driver, so that no read request can outlive them even where
// our own wait is longer (a slow clock); in real time, as the driver counts.
constexpr COMMTIMEOUTS kTimeouts = {
    30,   // ReadIntervalTimeout
    10,   // ReadTotalTimeoutMultiplier
    200,  // ReadTotalTimeoutConstant
    0,    // WriteTotalTimeoutMultiplier: writes have no system time-out; the stall limit
    0,    // WriteTotalTimeoutConstant    is ours, measured on the clock
};

}  // namespace

bool SupportedRate(std::uint32_t baud) {
    switch (baud) {
        case 2400:
        case 4800:
        case 9600:
        case 19200:
        case 38400:
        case 57600:
        case 115200:
            return true;
        default:
            return false;
    }
}

std::optional<SerialOpenResult> SetUpComm(HANDLE comm, std::uint32_t baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(comm, &dcb)) {
        return OpenFailure(ENOTTY, "not a serial port");
    }
    // Raw 8N1: the loader's frames carry every byte value, so nothing may be stripped,
    // replaced or taken as flow control, and no line error may stop later requests. DTR and
    // RTS are raised for adapters that power the line from them; hardware flow control stays
    // as the operator set it up.
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    // No parity check, no XON/XOFF either way, no NUL stripping, no error character, no
    // abort on a line error, no input held back by DSR.
    dcb.fParity = dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fErrorChar = dcb.fAbortOnError =
        dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!::SetCommState(comm, &dcb)) {
        return OpenFailureOf(::GetLastError());
    }
    COMMTIMEOUTS timeouts = kTimeouts;
    if (!::SetCommTimeouts(comm, &timeouts)) {
        return OpenFailureOf(::GetLastError());
    }
    // Whatever the line caught before we configured it is noise. Only input: the output
    // queue of a port just opened holds nothing of ours.
    if (!::PurgeComm(comm, PURGE_RXABORT | PURGE_RXCLEAR)) {
        return OpenFailureOf(::GetLastError());
    }
    return std::nullopt;
}

}  // namespace tarvik::win
