# Builds for x86-64 Linux against Debian's musl (packages musl and
# musl-dev) with the system's g++. Debian ships no C++ library for musl;
# the program needs only libstdc++'s headers and imports nothing from it,
# so the compiler's own header folders serve, ahead of musl's. The GCC
# driver file beside this one does the rest: musl's headers, start files
# and library, static PIE included. Not a cross build: the programs run here.
set(CMAKE_CXX_COMPILER x86_64-linux-gnu-g++)
include(${CMAKE_CURRENT_LIST_DIR}/musl-flags.cmake)
fifo_client_1_musl_flags(${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl.driver)
