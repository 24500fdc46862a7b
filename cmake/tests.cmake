# add_gtest_program(PROGRAM OUT_TESTS [SKIPPABLE CASE...]): registers the
# GoogleTest program PROGRAM with CTest and puts the names of the tests made
# into OUT_TESTS, for the caller's properties.
#
# A case that skips itself (GTEST_SKIP, saying why) where the machine
# cannot stage what it needs would pass unseen inside its program's test.
# Each SKIPPABLE case is therefore a CTest test of its own, counted as
# skipped when it skips, and the program's test runs the other cases.
function(add_gtest_program program out_tests)
    cmake_parse_arguments(ARG "" "" "SKIPPABLE" ${ARGN})
    set(tests ${program})
    if(ARG_SKIPPABLE)
        list(JOIN ARG_SKIPPABLE ":" excluded)
        add_test(NAME ${program} COMMAND ${program} --gtest_filter=-${excluded})
        foreach(case ${ARG_SKIPPABLE})
            add_test(NAME ${program}.${case} COMMAND ${program} --gtest_filter=${case})
            set_tests_properties(${program}.${case} PROPERTIES
                SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
            list(APPEND tests ${program}.${case})
        endforeach()
    else()
        add_test(NAME ${program} COMMAND ${program})
    endif()
    set(${out_tests} ${tests} PARENT_SCOPE)
endfunction()
