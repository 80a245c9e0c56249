# One way to register every test binary: a label says what it needs (unit: nothing,
# sim: the printer simulator, slow: waits out a real device time-out, gui: Qt
# offscreen, root: network namespaces), and every test gets a private settings root
# and device-override folder so nothing leaks into the developer's own settings.
function(odomira_add_test name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} odomira_test_support GTest::gtest_main
                                          GTest::gmock odomira_warnings)
    set(scratch ${CMAKE_BINARY_DIR}/test-scratch/${name})
    set(envs
        "VARKO_SETTINGS_ROOT=${scratch}/settings"
        "VARKO_DEVICE_DIR=${scratch}/devices"
        "ODOMIRA_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
        "ODOMIRA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
        "QT_QPA_PLATFORM=offscreen"
        ${T_ENV})
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
    # The environment is set by a script of its own that ctest reads after the
    # discovered tests: passed through PROPERTIES above, the list would be split on the
    # way and only its first variable would reach the tests.
    set(env_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(WRITE ${env_script}
         "if(${name}_TESTS)\n"
         "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT \"${envs}\")\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_script})
endfunction()
