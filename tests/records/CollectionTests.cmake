# Tests of the printer collection, the settings store and discovery.
odomira_add_test(settings_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SettingsStoreTest.cpp
                 LIBS varko_objects)
odomira_add_test(discovery_packet_tests
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DiscoveryPacketTest.cpp LIBS varko_objects)
# Kills during saves, a full disk, a read-only file system (slow: hundreds of kills).
odomira_add_test(save_safety_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SaveSafetyTest.cpp
                 LIBS varko_objects LABEL slow TIMEOUT 600)
odomira_add_test(collection_file_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionFileTest.cpp
                 LIBS varko_objects)
odomira_add_test(collection_detect_tests
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionDetectTest.cpp
                 LIBS varko_objects LABEL slow RESOURCE_LOCK discovery4201)
target_include_directories(collection_detect_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/threads)
# The discovery thread's tests live beside the thread tests but are registered here.
set(discovery_dir ${CMAKE_SOURCE_DIR}/tests/threads)
odomira_add_test(discovery_thread_tests SOURCES ${discovery_dir}/DiscoveryThreadTest.cpp
                 ${discovery_dir}/SearchDialogTimerTest.cpp
                 LIBS varko_objects RESOURCE_LOCK discovery4201)
odomira_add_test(discovery_search_tests SOURCES ${discovery_dir}/DiscoverySearchTest.cpp
                 LIBS varko_objects LABEL slow RESOURCE_LOCK discovery4201)
if(TARGET Qt6::Widgets)
    odomira_add_test(discovery_widget_tests SOURCES ${discovery_dir}/DiscoveryWidgetTest.cpp
                     LIBS varko_objects Qt6::Widgets LABEL gui RESOURCE_LOCK discovery4201)
    odomira_add_test(discovery_window_time_tests
                     SOURCES ${discovery_dir}/DiscoveryWindowTimeTest.cpp
                     LIBS varko_objects odomira_dialog_test_support LABEL slow
                     RESOURCE_LOCK discovery4201)
    target_include_directories(discovery_window_time_tests PRIVATE
                               ${CMAKE_SOURCE_DIR}/tests/dialogs)
endif()
if(TARGET Qt6::Widgets)
    # Add and modify through the real configuration dialog, scripted.
    odomira_add_test(collection_dialog_tests
                     SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionDialogTest.cpp
                     LIBS varko_objects odomira_dialog_test_support LABEL gui)
    target_include_directories(collection_dialog_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/dialogs
                                                               ${CMAKE_SOURCE_DIR}/tests/threads)
endif()
odomira_add_test(collection_sim_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionSimTest.cpp
                 LIBS varko_objects LABEL slow RESOURCE_LOCK discovery4201)
add_dependencies(collection_sim_tests odomira-printer-sim)
if(TARGET VarkoUSB)
    add_dependencies(collection_sim_tests VarkoUSB)
endif()
odomira_add_test(discovery_namespace_tests SOURCES ${discovery_dir}/DiscoveryNamespaceTest.cpp
                 LIBS varko_objects LABEL root RESOURCE_LOCK discovery4201)
add_dependencies(discovery_namespace_tests odomira-printer-sim)
target_include_directories(collection_sim_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/threads)
