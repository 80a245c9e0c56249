# One way to register every test binary: a label says what it needs (unit: nothing,
# sim: the printer simulator, slow: waits out a real device time-out, gui: Qt
# offscreen, root: network namespaces), and every test gets a private settings root
# and device-override folder so nothing leaks into the developer's own settings.
function(odomira_add_test name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS;ENV" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${name} ${T_SOURCES})
    # The area is the folder of the binary's first source (tests/threads, tests/cli,
    # tests/app, ...), given as a second label "area:<folder>" so that a run can pick
    # tests by where they live (scripts/sanitize does).
    list(GET T_SOURCES 0 first)
    get_filename_component(first ${first} ABSOLUTE)
    get_filename_component(area ${first} DIRECTORY)
    get_filename_component(area ${area} NAME)
    target_link_libraries(${name} PRIVATE ${T_LIBS} odomira_test_support GTest::gtest
                                          GTest::gmock odomira_warnings)
    set(scratch ${CMAKE_BINARY_DIR}/test-scratch/${name})
    set(envs
        "VARKO_SETTINGS_ROOT=${scratch}/settings"
        "VARKO_DEVICE_DIR=${scratch}/devices"
        "ODOMIRA_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
        "ODOMIRA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
        "QT_QPA_PLATFORM=offscreen"
        # No test may broadcast onto the machine's network: discovery stays on loopback
        # unless a test runs it inside a network namespace of its own.
        "VARKO_DISCOVERY_BROADCAST=127.255.255.255"
        ${T_ENV})
    # RESOURCE_LOCK keeps tests that share a fixed resource (UDP port 4201) from running
    # side by side under ctest --parallel.
    set(lock)
    if(T_RESOURCE_LOCK)
        set(lock RESOURCE_LOCK ${T_RESOURCE_LOCK})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        TEST_LIST ${name}_TESTS
        PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ${lock})
    # gtest_discover_tests flattens PROPERTIES, so ENVIRONMENT given there keeps only its
    # first entry. This file runs after the discovered tests are defined and sets the
    # whole list on each of them, and both labels.
    set(envfile ${CMAKE_CURRENT_BINARY_DIR}/${name}_env.cmake)
    file(WRITE ${envfile}
        "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT \"${envs}\" LABELS \"${T_LABEL};area:${area}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${envfile})
endfunction()
