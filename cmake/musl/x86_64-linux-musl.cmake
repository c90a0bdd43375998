# Builds for x86-64 Linux against Debian's musl (packages musl and
# musl-dev) with the system's g++. Debian ships no C++ library for musl;
# the program needs only libstdc++'s headers and imports nothing from it,
# so the compiler's own header folders serve, ahead of musl's. The specs
# file beside this one does the rest: musl's headers, start files and
# library, static PIE included. Not a cross build: the programs run here.
set(CMAKE_CXX_COMPILER x86_64-linux-gnu-g++)
include(${CMAKE_CURRENT_LIST_DIR}/libstdcxx-headers.cmake)
set(CMAKE_CXX_FLAGS_INIT "-specs=${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl.specs${fifo_client_1_libstdcxx_includes}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-specs=${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl.specs")
