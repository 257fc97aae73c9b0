// The tests' main on Windows. The C runtime writes "\r\n" for every "\n" to a stream in text
// mode, and CTest's test discovery would take the "\r" into every test's name: binary mode.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
