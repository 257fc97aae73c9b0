#include "serial/SerialPort.h"

namespace tarvik {

std::uint32_t BaudRateOfIndex(int index) {
    switch (index) {
        case 0:
            return 115200;
        case 1:
            return 57600;
        case 2:
            return 38400;
        case 3:
            return 19200;
        case 5:
            return 4800;
        case 6:
            return 2400;
        default:
            // The settings store any number; an index we do not know falls back to the
            // loader's wake rate.
            return 9600;
    }
}

}  // namespace tarvik
