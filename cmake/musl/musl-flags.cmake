# Included by the musl toolchain files: fifo_client_1_musl_flags(DRIVER_FILE
# [FLAG...]) sets the compile and link flags that build against musl with
# the GCC driver file DRIVER_FILE (musl's headers, start files and library)
# and libstdc++'s header folders, which carry GCC's version and so are
# asked of CMAKE_CXX_COMPILER.
function(fifo_client_1_musl_flags driver_file)
    find_program(fifo_client_1_cxx ${CMAKE_CXX_COMPILER} REQUIRED NO_CACHE)
    execute_process(COMMAND ${fifo_client_1_cxx} -x c++ -E -v /dev/null
        OUTPUT_QUIET ERROR_VARIABLE search COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "\n /[^\n]*/c\\+\\+/[^\n]*" dirs "${search}")
    set(includes "")
    foreach(dir IN LISTS dirs)
        string(STRIP "${dir}" dir)
        string(APPEND includes " -isystem ${dir}")
    endforeach()
    # GCC's option for reading a driver file.
    set(driver "-specs=${driver_file}")
    list(JOIN ARGN " " extra)
    set(CMAKE_CXX_FLAGS_INIT "${extra} ${driver}${includes}" PARENT_SCOPE)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "${driver}" PARENT_SCOPE)
endfunction()
