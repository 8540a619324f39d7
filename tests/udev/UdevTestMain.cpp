// The udev suite runs inside umockdev test beds: libudev, /sys and the device nodes the code
// under test sees are the test bed's. The binary starts itself again with umockdev's preload
// library, so it runs the same from a shell, a debugger or CTest.
#include <gtest/gtest.h>

#include "sim/UsbTestBed.h"

int main(int argc, char** argv) {
    sim::RestartWithTestBedPreload(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
