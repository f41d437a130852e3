# Registers the tests of a GoogleTest binary with ctest, as gtest_discover_tests
# does in its PRE_TEST mode (the binary lists its tests when ctest starts, once
# after each build), with one difference: a value-parameterized test is a single
# ctest test that runs all its rows in one process. Most rows of the tables take
# a millisecond; starting the binary for each of them cost far more.
#
#   orvelle_add_gtests(<target> NAME <name> [FILTER <gtest filter>]
#                      [ENVIRONMENT <list>] [TIMEOUT <seconds>] [LABELS <list>]
#                      [RUN_SERIAL])

set(ORVELLE_GTEST_LISTER ${CMAKE_CURRENT_LIST_DIR}/GTestGroupsList.cmake)

function(orvelle_add_gtests target)
    cmake_parse_arguments(arg "RUN_SERIAL" "NAME;FILTER;TIMEOUT" "ENVIRONMENT;LABELS" ${ARGN})
    if(NOT arg_FILTER)
        set(arg_FILTER "*")
    endif()
    # The properties as they are written into the list of tests.
    set(properties "WORKING_DIRECTORY [==[${CMAKE_CURRENT_BINARY_DIR}]==]")
    if(arg_ENVIRONMENT)
        string(APPEND properties " ENVIRONMENT [==[${arg_ENVIRONMENT}]==]")
    endif()
    if(arg_TIMEOUT)
        string(APPEND properties " TIMEOUT ${arg_TIMEOUT}")
    endif()
    if(arg_LABELS)
        string(APPEND properties " LABELS [==[${arg_LABELS}]==]")
    endif()
    if(arg_RUN_SERIAL)
        string(APPEND properties " RUN_SERIAL TRUE")
    endif()
    set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}_tests.cmake)
    set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}_include.cmake)
    file(GENERATE OUTPUT ${include_file} CONTENT
"set(cmake [==[${CMAKE_COMMAND}]==])
set(binary [==[$<TARGET_FILE:${target}>]==])
set(environment [==[${arg_ENVIRONMENT}]==])
set(filter [==[${arg_FILTER}]==])
set(list_file [==[${list_file}]==])
set(include_file [==[${include_file}]==])
set(properties [===[${properties}]===])
include([==[${ORVELLE_GTEST_LISTER}]==])
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
