# Cross build for 32-bit ARM Linux, ARMv7-A with hard-float calling
# convention, with Debian's arm-linux-gnueabihf toolchain. Programs built
# here run on this machine under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7-a)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv7-a+fp -mfloat-abi=hard")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a+fp -mfloat-abi=hard")

set(ARM_SYSROOT_DIR /usr/arm-linux-gnueabihf CACHE PATH "The target's libraries, for the emulator")
set(CMAKE_FIND_ROOT_PATH ${ARM_SYSROOT_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# An emulator named on the command line, or none (an empty one), is kept.
find_program(QEMU_ARM_PROGRAM qemu-arm)
if(QEMU_ARM_PROGRAM AND NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_ARM_PROGRAM} -L ${ARM_SYSROOT_DIR})
endif()
