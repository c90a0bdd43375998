# Debian's full hardening (hardening=+all) for every target of the project:
# stack protector, stack clash protection, control-flow protection where
# the target has it, _FORTIFY_SOURCE, format checks, PIE, and full RELRO
# with immediate binding. Each aspect is added only when the flags the
# distribution passes in (CXXFLAGS, LDFLAGS) leave it open, so theirs are
# never overridden or contradicted.
option(FIFO_CLIENT_HARDENING "Harden every target as Debian's hardening=+all does" ON)

include(CheckCXXCompilerFlag)
include(CheckPIESupported)
check_pie_supported()

add_library(fifo_client_1_hardening INTERFACE)

function(fifo_client_1_harden)
    string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
    set(given_compile "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type}}")
    set(given_link "${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_${build_type}}")

    # Each pair: what in the given flags already decides it, and the flag.
    foreach(aspect IN ITEMS
            "-f(no-)?stack-protector|-fstack-protector-strong"
            "-f(no-)?stack-clash-protection|-fstack-clash-protection"
            "-f(no-)?cf-protection|-fcf-protection"
            "format-security|-Wformat;-Werror=format-security")
        string(REPLACE "|" ";" aspect "${aspect}")
        list(POP_FRONT aspect decided_by)
        if(given_compile MATCHES "${decided_by}")
            continue()
        endif()
        string(MAKE_C_IDENTIFIER "have${aspect}" supported)
        check_cxx_compiler_flag("${aspect}" ${supported})
        if(${supported})
            target_compile_options(fifo_client_1_hardening INTERFACE ${aspect})
        endif()
    endforeach()
    # It needs optimisation, and warns without it.
    if(NOT given_compile MATCHES "_FORTIFY_SOURCE")
        target_compile_definitions(fifo_client_1_hardening INTERFACE
            $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    endif()
    if(NOT given_link MATCHES "z,?(no)?relro")
        target_link_options(fifo_client_1_hardening INTERFACE LINKER:-z,relro)
    endif()
    if(NOT given_link MATCHES "z,?(now|lazy)")
        target_link_options(fifo_client_1_hardening INTERFACE LINKER:-z,now)
    endif()
endfunction()

if(FIFO_CLIENT_HARDENING)
    fifo_client_1_harden()
endif()
