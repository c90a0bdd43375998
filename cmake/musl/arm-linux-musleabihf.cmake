# Cross build for ARMv7-A hard-float Linux against Debian's armhf musl, with
# Debian's arm-linux-gnueabihf cross compiler and libstdc++'s headers (the
# program imports nothing from libstdc++). The sysroot is Debian's armhf
# musl and musl-dev, which debian-armhf-sysroot.sh beside this file unpacks
# into the cache ($FIFO_CLIENT_CACHE, else ~/.cache/fifo_client_1) the
# first time; the GCC driver file beside this one takes musl's headers,
# start files and library from it, static PIE included. Test programs, which stay
# glibc programs, run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7-a)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

if(DEFINED ENV{FIFO_CLIENT_CACHE})
    set(fifo_client_1_cache "$ENV{FIFO_CLIENT_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(fifo_client_1_cache "$ENV{XDG_CACHE_HOME}/fifo_client_1")
else()
    set(fifo_client_1_cache "$ENV{HOME}/.cache/fifo_client_1")
endif()
set(fifo_client_1_musl "${fifo_client_1_cache}/musl-armhf")
if(NOT EXISTS "${fifo_client_1_musl}/complete")
    execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/debian-armhf-sysroot.sh "${fifo_client_1_musl}"
        COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CMAKE_SYSROOT "${fifo_client_1_musl}/root")

include(${CMAKE_CURRENT_LIST_DIR}/musl-flags.cmake)
fifo_client_1_musl_flags(${CMAKE_CURRENT_LIST_DIR}/arm-linux-musleabihf.driver -march=armv7-a+fp -mfloat-abi=hard)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(QEMU_ARM_PROGRAM qemu-arm)
if(QEMU_ARM_PROGRAM AND NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_ARM_PROGRAM} -L /usr/arm-linux-gnueabihf)
endif()
