# Debian's full hardening (hardening=+all) for every target of the project:
# stack protector, stack clash protection, control-flow protection where
# the target has it, _FORTIFY_SOURCE, format checks, PIE, and full RELRO
# with immediate binding (PIE itself: position-independence.cmake).
# Whatever the toolchain already does, through its
# flags (CXXFLAGS, LDFLAGS, the compiler command, the toolchain file) or its
# built-in defaults, is found out by compiling and linking, and left as it
# is: the project adds only what is missing.
option(FIFO_CLIENT_HARDENING "Harden every target as Debian's hardening=+all does" ON)

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)

add_library(fifo_client_1_hardening INTERFACE)

# The flags of the configuration being built; with several configurations
# in one build, those of an optimised one.
if(fifo_client_1_multi_config)
    set(fifo_client_1_config_flags "-O2")
else()
    string(TOUPPER "${CMAKE_BUILD_TYPE}" fifo_client_1_build_type)
    set(fifo_client_1_config_flags "${CMAKE_CXX_FLAGS_${fifo_client_1_build_type}}")
endif()

# compiles(SOURCE RESULT): whether the toolchain compiles SOURCE in this
# configuration; some compilers fortify only when optimising.
function(fifo_client_1_compiles source result)
    set(CMAKE_REQUIRED_FLAGS "${fifo_client_1_config_flags}")
    set(CMAKE_REQUIRED_QUIET ON)
    set(checked ${result}_${fifo_client_1_build_type})
    check_cxx_source_compiles("${source}" ${checked})
    set(${result} ${${checked}} PARENT_SCOPE)
endfunction()

# compiler_does(CONDITION RESULT): whether the preprocessor CONDITION holds.
function(fifo_client_1_compiler_does condition result)
    fifo_client_1_compiles("#if !(${condition})\n#error no\n#endif\nint main() { return 0; }\n" ${result})
    set(${result} ${${result}} PARENT_SCOPE)
endfunction()

# add_compile_flag(FLAG...): adds the flags when the compiler takes them
# without a word; a flag it only warns about does nothing for this target.
function(fifo_client_1_add_compile_flag)
    string(MAKE_C_IDENTIFIER "fifo_client_1_takes${ARGN}" taken)
    set(CMAKE_REQUIRED_FLAGS "-Werror")
    check_cxx_compiler_flag("${ARGN}" ${taken})
    if(${taken})
        target_compile_options(fifo_client_1_hardening INTERFACE ${ARGN})
    endif()
endfunction()

# linker_gives(RELRO NOW): whether the toolchain, as it links a program
# now, already gives full RELRO and immediate binding, read off a linked
# probe with readelf. Without one, both count as missing:
# asking again for them changes nothing.
function(fifo_client_1_linker_gives relro now)
    if(DEFINED CACHE{${relro}})
        return()
    endif()
    set(probe_dir ${PROJECT_BINARY_DIR}/CMakeFiles/fifo_client_1_link_probe)
    file(WRITE ${probe_dir}/probe.cpp "int main() { return 0; }\n")
    set(headers "")
    set(dynamic "")
    if(FIFO_CLIENT_READELF)
        try_compile(linked ${probe_dir}/build ${probe_dir}/probe.cpp COPY_FILE ${probe_dir}/probe)
        if(linked)
            execute_process(COMMAND ${FIFO_CLIENT_READELF} -lW ${probe_dir}/probe OUTPUT_VARIABLE headers ERROR_QUIET)
            execute_process(COMMAND ${FIFO_CLIENT_READELF} -dW ${probe_dir}/probe OUTPUT_VARIABLE dynamic ERROR_QUIET)
        endif()
    endif()
    set(gives_relro OFF)
    set(gives_now OFF)
    if(headers MATCHES "GNU_RELRO")
        set(gives_relro ON)
    endif()
    if(dynamic MATCHES "\\(BIND_NOW\\)|\\(FLAGS\\)[^\n]*BIND_NOW|\\(FLAGS_1\\)[^\n]*NOW")
        set(gives_now ON)
    endif()
    set(${relro} ${gives_relro} CACHE INTERNAL "The toolchain links with RELRO by itself")
    set(${now} ${gives_now} CACHE INTERNAL "The toolchain links with immediate binding by itself")
endfunction()

function(fifo_client_1_harden)
    fifo_client_1_compiler_does("defined(__SSP__) || defined(__SSP_STRONG__) || defined(__SSP_ALL__) || defined(__SSP_EXPLICIT__)"
        fifo_client_1_has_stack_protector)
    if(NOT fifo_client_1_has_stack_protector)
        fifo_client_1_add_compile_flag(-fstack-protector-strong)
    endif()
    # No compile leaves a sign of it; asking twice changes nothing.
    fifo_client_1_add_compile_flag(-fstack-clash-protection)
    fifo_client_1_compiler_does("defined(__CET__)" fifo_client_1_has_cf_protection)
    if(NOT fifo_client_1_has_cf_protection)
        fifo_client_1_add_compile_flag(-fcf-protection)
    endif()
    # A format that is no literal, with nothing to fill it in, compiles only
    # while the toolchain does not already make that an error.
    fifo_client_1_compiles("#include <cstdio>\nvoid say(const char* text) { std::printf(text); }\nint main() { say(\"\"); return 0; }\n"
        fifo_client_1_accepts_unchecked_formats)
    if(fifo_client_1_accepts_unchecked_formats)
        fifo_client_1_add_compile_flag(-Wformat -Werror=format-security)
    endif()

    # It needs optimisation, and warns without it; a second definition
    # would warn too, and might lower the level the toolchain chose.
    fifo_client_1_compiler_does("defined(__OPTIMIZE__) && !defined(_FORTIFY_SOURCE)" fifo_client_1_wants_fortify)
    if(fifo_client_1_wants_fortify)
        target_compile_definitions(fifo_client_1_hardening INTERFACE
            $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    endif()

    fifo_client_1_linker_gives(FIFO_CLIENT_1_LINKS_RELRO FIFO_CLIENT_1_LINKS_NOW)
    if(NOT FIFO_CLIENT_1_LINKS_RELRO)
        target_link_options(fifo_client_1_hardening INTERFACE LINKER:-z,relro)
    endif()
    if(NOT FIFO_CLIENT_1_LINKS_NOW)
        target_link_options(fifo_client_1_hardening INTERFACE LINKER:-z,now)
    endif()
endfunction()

if(FIFO_CLIENT_HARDENING)
    fifo_client_1_harden()
endif()
