# Builds for x86-64 Linux against Debian's musl (packages musl and
# musl-dev) with the system's g++. Debian ships no C++ library for musl;
# the program needs only libstdc++'s headers and imports nothing from it,
# so the compiler's own header folders serve, ahead of musl's. The specs
# file beside this one does the rest: musl's headers, start files and
# library, static PIE included. Not a cross build: the programs run here.
set(CMAKE_CXX_COMPILER x86_64-linux-gnu-g++)
find_program(fifo_client_1_host_cxx ${CMAKE_CXX_COMPILER} REQUIRED NO_CACHE)

# libstdc++'s folders carry GCC's version, so the compiler names them.
execute_process(COMMAND ${fifo_client_1_host_cxx} -x c++ -E -v /dev/null
    OUTPUT_QUIET ERROR_VARIABLE search COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n /[^\n]*/c\\+\\+/[^\n]*" cxx_dirs "${search}")
set(cxx_includes "")
foreach(dir IN LISTS cxx_dirs)
    string(STRIP "${dir}" dir)
    string(APPEND cxx_includes " -isystem ${dir}")
endforeach()
set(CMAKE_CXX_FLAGS_INIT "-specs=${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl.specs${cxx_includes}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-specs=${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl.specs")
