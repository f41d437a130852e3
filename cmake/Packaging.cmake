# What a desktop system expects beside the programs, and the Debian package:
# manual pages, bash completion, AppStream metainfo, the copyright file, and CPack.
# Included from CMakeLists.txt once the targets are defined.
#
# help2man and the bash-completion folder come from the packaging group of
# scripts/install-deps (`scripts/install-deps --packaging`). The documentation
# tools are run by name when they are not found here, so installing them after
# configuring is enough.

# Manual pages, gzip -9n as Debian installs them.
set(ORVELLE_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(ORVELLE_MAN_PAGES)
find_program(HELP2MAN help2man)
find_program(POD2MAN pod2man)
foreach(tool HELP2MAN POD2MAN)
    if(NOT ${tool})
        string(TOLOWER ${tool} name)
        set(${tool} ${name})
        message(STATUS "${name} not found: the manual pages need it "
                       "(scripts/install-deps --packaging installs it)")
    endif()
endforeach()

if(TARGET orvelle-harvest)
    # orvelle-harvest(1) is the program's own --help and --version, with the
    # sections a help text has not (exit status, examples) from the include file.
    set(include_file ${CMAKE_SOURCE_DIR}/docs/man/orvelle-harvest.h2m)
    add_custom_command(
        OUTPUT ${ORVELLE_MAN_DIR}/orvelle-harvest.1.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVELLE_MAN_DIR}
        COMMAND ${HELP2MAN} --no-info --section=1
                "--name=list the links found on web pages"
                --include=${include_file}
                --output=${ORVELLE_MAN_DIR}/orvelle-harvest.1
                $<TARGET_FILE:orvelle-harvest>
        COMMAND gzip -9nf ${ORVELLE_MAN_DIR}/orvelle-harvest.1
        DEPENDS orvelle-harvest ${include_file}
        COMMENT "Writing orvelle-harvest(1) from orvelle-harvest --help"
        VERBATIM)
    list(APPEND ORVELLE_MAN_PAGES ${ORVELLE_MAN_DIR}/orvelle-harvest.1.gz)
endif()

if(TARGET orvelle)
    # orvelle(1), written by hand: the window's --help is short, and the page says
    # more (its controls, Qt's options); a test checks that it has every option.
    set(pod ${CMAKE_SOURCE_DIR}/docs/man/orvelle.1.pod)
    add_custom_command(
        OUTPUT ${ORVELLE_MAN_DIR}/orvelle.1.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVELLE_MAN_DIR}
        COMMAND ${POD2MAN} --utf8 --section=1 --name=ORVELLE "--center=User Commands"
                "--release=orvelle ${PROJECT_VERSION}" ${pod} ${ORVELLE_MAN_DIR}/orvelle.1
        COMMAND gzip -9nf ${ORVELLE_MAN_DIR}/orvelle.1
        DEPENDS ${pod}
        COMMENT "Writing orvelle(1)"
        VERBATIM)
    list(APPEND ORVELLE_MAN_PAGES ${ORVELLE_MAN_DIR}/orvelle.1.gz)
endif()

if(ORVELLE_MAN_PAGES)
    add_custom_target(manpages ALL DEPENDS ${ORVELLE_MAN_PAGES})
    install(FILES ${ORVELLE_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Bash completion, in the folder bash-completion reads under the prefix; kept
# relative to the prefix so that the package puts it under /usr.
if(TARGET orvelle-harvest)
    set(ORVELLE_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    find_program(PKG_CONFIG_EXECUTABLE pkg-config)
    if(PKG_CONFIG_EXECUTABLE)
        execute_process(
            COMMAND ${PKG_CONFIG_EXECUTABLE} --define-variable=prefix=${CMAKE_INSTALL_PREFIX}
                    --variable=completionsdir bash-completion
            OUTPUT_VARIABLE completions_dir OUTPUT_STRIP_TRAILING_WHITESPACE
            RESULT_VARIABLE pkg_config_status ERROR_QUIET)
        if(pkg_config_status EQUAL 0 AND completions_dir)
            string(LENGTH "${CMAKE_INSTALL_PREFIX}/" prefix_length)
            string(SUBSTRING "${completions_dir}/" 0 ${prefix_length} head)
            if(head STREQUAL "${CMAKE_INSTALL_PREFIX}/")
                string(SUBSTRING "${completions_dir}" ${prefix_length} -1 ORVELLE_COMPLETIONS_DIR)
            else()
                set(ORVELLE_COMPLETIONS_DIR ${completions_dir})
            endif()
        endif()
    endif()
    install(FILES data/bash-completion/orvelle-harvest DESTINATION ${ORVELLE_COMPLETIONS_DIR})
endif()

# AppStream: what software centres show.
if(TARGET orvelle)
    install(FILES data/org.orvelle.Orvelle.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The licence, as Debian's machine-readable copyright file, and the changelog in
# Debian's format (its first entry is the project's version: a test checks).
configure_file(data/copyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/data/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/data/changelog
    VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvelle)

# The Debian package: `make deb`, or `cpack` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvelle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvelle developers")
set(CPACK_PACKAGE_CONTACT "Orvelle developers <${ORVELLE_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list every link found on a list of web sites")
set(CPACK_PACKAGE_DESCRIPTION
    "Orvelle downloads each web page listed, finds every link (href) or file link
(src) on it, resolves it to an absolute address and lists it; it can keep
following the links it finds until it is stopped. The results can be saved
as a column-aligned text file or comma-delimited, or copied.

The package has the desktop window, orvelle, and the same harvester on the
command line, orvelle-harvest, for scripts, servers and batch jobs.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps (libsqlite3-0, for the
# state files of orvelle-harvest, among them); what Qt loads at run time (the
# platform plugins) and the window's font, it cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET orvelle)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, qt6-qpa-plugins")
endif()
include(CPack)
