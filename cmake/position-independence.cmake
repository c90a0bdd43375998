# Every program is position-independent. Linked dynamically, CMake's own
# PIE support does it. An integrator may link statically instead (-static
# or -static-pie in the compiler command, CXXFLAGS or LDFLAGS, as
# Buildroot's BR2_STATIC_LIBS does); CMake's -pie would then come after
# their flags, and GCC takes the last one, so -static-pie would turn back
# into a dynamic link. So a static link is found out by linking a probe
# with the flags as they come, and PIE is then asked for as a static PIE
# where the toolchain links one. GCC links no static PIE while -static is
# among the flags (it then takes the non-PIE start files), and some C
# libraries have no start file for one (armhf glibc): the program is then
# static without PIE, and configure says so.
include(CheckPIESupported)
check_pie_supported()

# readelf reads any machine's programs: the build host's will do.
find_program(FIFO_CLIENT_READELF NAMES ${CMAKE_READELF} readelf NO_CMAKE_FIND_ROOT_PATH)

# link_kind(RESULT COMPILE_FLAG LINK_FLAG): how the toolchain links a probe
# with its own flags and these two (either may be ""): "dynamic", "static",
# "static-pie", or "none" when it does not link. The needed C library of a
# dynamic link goes into RESULT_LIBC.
function(fifo_client_1_link_kind result compile_flag link_flag)
    if(DEFINED CACHE{${result}})
        return()
    endif()
    set(probe_dir ${PROJECT_BINARY_DIR}/CMakeFiles/fifo_client_1_link_kind/${result})
    file(WRITE ${probe_dir}/probe.cpp "int main() { return 0; }\n")
    set(kind none)
    set(libc "")
    try_compile(linked ${probe_dir}/build ${probe_dir}/probe.cpp
        COMPILE_DEFINITIONS ${compile_flag} LINK_OPTIONS ${link_flag} COPY_FILE ${probe_dir}/probe)
    if(linked AND FIFO_CLIENT_READELF)
        execute_process(COMMAND ${FIFO_CLIENT_READELF} -hlW ${probe_dir}/probe OUTPUT_VARIABLE headers ERROR_QUIET)
        execute_process(COMMAND ${FIFO_CLIENT_READELF} -dW ${probe_dir}/probe OUTPUT_VARIABLE dynamic ERROR_QUIET)
        if(headers MATCHES "INTERP")
            set(kind dynamic)
            string(REGEX MATCH "Shared library: \\[(libc\\.so[^]]*)\\]" needed "${dynamic}")
            set(libc "${CMAKE_MATCH_1}")
        elseif(headers MATCHES "Type: +DYN")
            set(kind static-pie)
        else()
            set(kind static)
        endif()
    endif()
    set(${result} ${kind} CACHE INTERNAL "How the toolchain links a program")
    set(${result}_LIBC "${libc}" CACHE INTERNAL "The C library a dynamic program needs")
endfunction()

fifo_client_1_link_kind(FIFO_CLIENT_1_LINKS "" "")
if(FIFO_CLIENT_1_LINKS STREQUAL "dynamic" OR FIFO_CLIENT_1_LINKS STREQUAL "none")
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    set(FIFO_CLIENT_1_LINKAGE dynamic)
else()
    # No POSITION_INDEPENDENT_CODE property at all: CMake then adds neither
    # -pie nor -no-pie after the integrator's flags.
    fifo_client_1_link_kind(FIFO_CLIENT_1_LINKS_STATIC_PIE -fPIE -static-pie)
    if(FIFO_CLIENT_1_LINKS_STATIC_PIE STREQUAL "static-pie")
        add_compile_options(-fPIE)
        add_link_options(-static-pie)
        set(FIFO_CLIENT_1_LINKAGE static-pie)
    else()
        message(NOTICE "fifo_client_1: the toolchain links statically but cannot link a static PIE "
            "with these flags, so the program is static and not position-independent. "
            "Where the C library has a start file for one (rcrt1.o), -static-pie in place of -static gives a static PIE.")
        set(FIFO_CLIENT_1_LINKAGE static)
    endif()
endif()
