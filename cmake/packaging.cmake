# Debian package of the client: the executable, its manual page and its
# bash completion. The stand-in service and the tests stay out of it.
set(CPACK_PACKAGE_NAME "fifo-client-1")
set(CPACK_PACKAGE_VENDOR "fifo_client_1 developers")
set(CPACK_PACKAGE_CONTACT "fifo_client_1 developers <fifo-client-1@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "fifo_client_1 writes a one-byte resume or stop command into the control pipe of morvelin-service. It waits a bounded time for the service, never creates or overwrites a file, and reports no failure at the pipe.")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "armhf")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The client's only run-time need; 2.34 is the newest symbol version it binds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")

include(CPack)
