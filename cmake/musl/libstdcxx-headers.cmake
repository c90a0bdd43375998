# Sets fifo_client_1_libstdcxx_includes to -isystem options for libstdc++'s
# header folders, which carry GCC's version, as CMAKE_CXX_COMPILER names
# them. Included by the musl toolchain files.
find_program(fifo_client_1_cxx ${CMAKE_CXX_COMPILER} REQUIRED NO_CACHE)
execute_process(COMMAND ${fifo_client_1_cxx} -x c++ -E -v /dev/null
    OUTPUT_QUIET ERROR_VARIABLE search COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n /[^\n]*/c\\+\\+/[^\n]*" dirs "${search}")
set(fifo_client_1_libstdcxx_includes "")
foreach(dir IN LISTS dirs)
    string(STRIP "${dir}" dir)
    string(APPEND fifo_client_1_libstdcxx_includes " -isystem ${dir}")
endforeach()
