# Run by ctest, from the include file orvelle_add_gtests writes (GTestGroups.cmake),
# with cmake, binary, environment, filter, list_file, include_file and properties
# set: lists the binary's tests, in the tests' environment, when it (or the
# include file) is newer than the list, then adds them.

if(NOT EXISTS "${list_file}" OR "${binary}" IS_NEWER_THAN "${list_file}" OR
   "${include_file}" IS_NEWER_THAN "${list_file}")
    if(NOT EXISTS "${binary}")
        message(FATAL_ERROR "no test binary at ${binary}: build it first")
    endif()
    execute_process(
        COMMAND "${cmake}" -E env ${environment} "${binary}" --gtest_list_tests
                "--gtest_filter=${filter}"
        OUTPUT_VARIABLE output
        ERROR_VARIABLE errors
        RESULT_VARIABLE result
        TIMEOUT 60)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${binary} --gtest_list_tests failed (${result}):\n${output}${errors}")
    endif()
    # Only the names: the comments give the type or value of a parameter, and may
    # hold anything.
    string(REGEX REPLACE " *#[^\n]*" "" output "${output}")
    string(REPLACE "\n" ";" lines "${output}")
    # A single test is skipped when it says so; a table when none of its rows passed
    # and none failed.
    set(skipped_test [==[\[  SKIPPED \]]==])
    set(skipped_table "\\[  PASSED  \\] 0 tests\\.\n\\[  SKIPPED \\] [0-9]+ tests?, listed below:\n(\\[  SKIPPED \\] [^\n]+\n)*$")
    set(script "")
    set(added "")
    set(suite "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^  +([^ ]+)")
            set(test "${CMAKE_MATCH_1}")
            # Row N of a value-parameterized test is "Test/N" in "Prefix/Suite.".
            if(suite MATCHES "/" AND test MATCHES "^([^/]+)/")
                set(name "${suite}.${CMAKE_MATCH_1}")
                set(pattern "${name}/*")
                set(skip "${skipped_table}")
            else()
                set(name "${suite}.${test}")
                set(pattern "${name}")
                set(skip "${skipped_test}")
            endif()
            list(FIND added "${name}" at)
            if(at EQUAL -1)
                list(APPEND added "${name}")
                string(APPEND script
                    "add_test([==[${name}]==] [==[${binary}]==] [==[--gtest_filter=${pattern}]==] "
                    "--gtest_also_run_disabled_tests)\n"
                    "set_tests_properties([==[${name}]==] PROPERTIES ${properties} "
                    "SKIP_REGULAR_EXPRESSION [==[${skip}]==])\n")
            endif()
        elseif(line MATCHES "^([^ ].*)\\.$")
            set(suite "${CMAKE_MATCH_1}")
        endif()
    endforeach()
    file(WRITE "${list_file}" "${script}")
endif()
include("${list_file}")
