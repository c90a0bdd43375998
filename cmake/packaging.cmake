# What is installed besides the executable, and the Debian package of it:
# the executable, its manual page, its bash completion, the copyright file,
# the changelog, the callers' guide and the hotkey daemons' example
# wiring. The stand-in service and the tests stay out of it.

# The package's description, section, priority and maintainer are those of
# the Debian source package's control file, and so are its copyright file
# and changelog: one copy for both ways of packaging.
file(READ ${PROJECT_SOURCE_DIR}/debian/control debian_control)
foreach(field IN ITEMS Section Priority Maintainer)
    string(REGEX MATCH "\n${field}: ([^\n]*)" line "${debian_control}")
    set(debian_${field} "${CMAKE_MATCH_1}")
endforeach()
string(REGEX MATCH "\nDescription: ([^\n]*)\n(( [^\n]*\n?)*)" line "${debian_control}")
set(debian_summary "${CMAKE_MATCH_1}")
# The extended description without its leading blanks; CPack puts them back.
string(REGEX REPLACE "(^|\n) " "\\1" debian_description "${CMAKE_MATCH_2}")
string(STRIP "${debian_description}" debian_description)

set(FIFO_CLIENT_PACKAGE_MAINTAINER "${debian_Maintainer}"
    CACHE STRING "Maintainer field of the Debian package")

# The date of the sources, for every date the build writes: the one a
# reproducible build is given; else that of this project's last commit, when
# the sources are a checkout of their own (not a tarball unpacked inside
# someone else's repository, as Yocto and Buildroot do); else the one that
# `git archive` wrote into the release tarball; else that of this file.
# Programs that run on the build host are looked for there, never in a
# cross toolchain's sysroot.
function(fifo_client_1_source_date result)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        set(${result} "$ENV{SOURCE_DATE_EPOCH}" PARENT_SCOPE)
        return()
    endif()
    find_program(GIT_PROGRAM git NO_CMAKE_FIND_ROOT_PATH)
    if(GIT_PROGRAM)
        execute_process(COMMAND ${GIT_PROGRAM} rev-parse --show-toplevel
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
        file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_dir)
        if(NOT failed AND top)
            file(REAL_PATH "${top}" top)
        endif()
        if(NOT failed AND top STREQUAL source_dir)
            execute_process(COMMAND ${GIT_PROGRAM} log -1 --format=%ct
                WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
            if(NOT failed AND date)
                set(${result} "${date}" PARENT_SCOPE)
                return()
            endif()
        endif()
    endif()
    # Filled in by `git archive` (export-subst); a checkout holds the
    # placeholder.
    file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/release-date date LIMIT_COUNT 1)
    if(date MATCHES "^[0-9]+$")
        set(${result} "${date}" PARENT_SCOPE)
        return()
    endif()
    file(TIMESTAMP ${CMAKE_CURRENT_FUNCTION_LIST_FILE} date "%s" UTC)
    set(${result} "${date}" PARENT_SCOPE)
endfunction()
fifo_client_1_source_date(FIFO_CLIENT_SOURCE_DATE_EPOCH)
if(NOT FIFO_CLIENT_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not '${FIFO_CLIENT_SOURCE_DATE_EPOCH}'")
endif()
# string(TIMESTAMP) reads the date from the environment.
set(ENV{SOURCE_DATE_EPOCH} ${FIFO_CLIENT_SOURCE_DATE_EPOCH})
string(TIMESTAMP FIFO_CLIENT_MANUAL_DATE "%Y-%m-%d" UTC)

# Debian wants both compressed, without a name or a time stamp inside.
find_program(GZIP_PROGRAM gzip REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(doc_build_dir ${PROJECT_BINARY_DIR}/doc)
# The manual names the pipe and the bound this build was made with.
configure_file(docs/fifo_client_1.1.in ${doc_build_dir}/fifo_client_1.1 @ONLY)
configure_file(debian/changelog ${doc_build_dir}/changelog COPYONLY)
add_custom_command(OUTPUT ${doc_build_dir}/changelog.gz
    COMMAND ${GZIP_PROGRAM} -9nkf changelog
    DEPENDS ${doc_build_dir}/changelog
    WORKING_DIRECTORY ${doc_build_dir}
    VERBATIM)
add_custom_target(fifo_client_1_docs ALL DEPENDS ${doc_build_dir}/changelog.gz)

# Folder modes must not depend on the umask of whoever builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(package_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/fifo-client-1)
install(TARGETS fifo_client_1 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Debian strips these two sections too: .comment only names the compiler.
if(CMAKE_STRIP)
    install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/fifo_client_1\"
                COMMAND_ERROR_IS_FATAL ANY)
        endif()")
endif()
install(FILES docs/fifo_client_1.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME fifo_client_1)
install(FILES debian/copyright ${doc_build_dir}/changelog.gz DESTINATION ${package_doc_dir})
# A static program is static on purpose; lintian takes a static PIE for a
# shared library that lacks its prerequisites. Only the package says so to
# lintian: an install into an image has no use for it.
if(NOT FIFO_CLIENT_1_LINKAGE STREQUAL "dynamic")
    if(FIFO_CLIENT_1_LINKAGE STREQUAL "static-pie")
        set(static_tag shared-library-lacks-prerequisites)
    else()
        set(static_tag statically-linked-binary)
    endif()
    file(WRITE ${doc_build_dir}/lintian-overrides
        "# Linked statically on purpose, to run on any C library or none.\n"
        "fifo-client-1: ${static_tag} [usr/bin/fifo_client_1]\n")
    install(FILES ${doc_build_dir}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME fifo-client-1
        COMPONENT debian_package EXCLUDE_FROM_ALL)
endif()
# The manual page, the callers' guide and the hotkey daemons' wiring (as
# examples: a key does nothing until the device's maker puts the file in
# place) name where things are installed, so they are written for the
# prefix of each install, when it happens.
configure_file(cmake/install-for-prefix.cmake.in ${PROJECT_BINARY_DIR}/install-for-prefix.cmake @ONLY)
install(SCRIPT ${PROJECT_BINARY_DIR}/install-for-prefix.cmake)

set(CPACK_PACKAGE_NAME "fifo-client-1")
set(CPACK_PACKAGE_VENDOR "The fifo_client_1 developers")
set(CPACK_PACKAGE_CONTACT "${FIFO_CLIENT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${debian_summary}")
set(CPACK_PACKAGE_DESCRIPTION "${debian_description}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
# What every install has, and what only the package has.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian_package;/")
set(CPACK_GENERATOR "DEB")

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "armhf")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# CPack of CMake 3.25 knows no Multi-Arch field, so it rides on the line of
# another one: the program serves any architecture's callers alike.
set(CPACK_DEBIAN_PACKAGE_SECTION "${debian_Section}\nMulti-Arch: foreign")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "${debian_Priority}")
# The client's only run-time need is the C library it was linked against;
# 2.34 is the newest glibc symbol version it binds. A static program needs
# none.
if(FIFO_CLIENT_1_LINKAGE STREQUAL "dynamic" AND FIFO_CLIENT_1_LINKS_LIBC STREQUAL "libc.so")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "musl")
elseif(FIFO_CLIENT_1_LINKAGE STREQUAL "dynamic")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# cpack runs later, maybe in another environment: it gets the same date.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-source-date.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
    "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n    set(ENV{SOURCE_DATE_EPOCH} ${FIFO_CLIENT_SOURCE_DATE_EPOCH})\nendif()\n")

# ...and a .deb that does not depend on the umask of whoever runs it.
set(CPACK_FIFO_CLIENT_AR "${CMAKE_AR}")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deterministic-deb.cmake)

include(CPack)
