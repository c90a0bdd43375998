# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS).
# CPack gives the members of a .deb's ar wrapper the modes that the umask
# left on the files it wrote. Wrapped again in ar's deterministic mode, in
# the same order, they are 0644, owned by 0:0 and dated 0 whoever builds.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    set(members_dir "${deb}.members")
    file(REMOVE_RECURSE "${members_dir}")
    file(MAKE_DIRECTORY "${members_dir}")
    execute_process(COMMAND "${CPACK_FIFO_CLIENT_AR}" t "${deb}"
        OUTPUT_VARIABLE members OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" members "${members}")
    execute_process(COMMAND "${CPACK_FIFO_CLIENT_AR}" x "${deb}"
        WORKING_DIRECTORY "${members_dir}" COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE "${deb}")
    execute_process(COMMAND "${CPACK_FIFO_CLIENT_AR}" rcD "${deb}" ${members}
        WORKING_DIRECTORY "${members_dir}" COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${members_dir}")
endforeach()
