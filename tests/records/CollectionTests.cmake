# Tests of the printer collection.
# Kills during saves, a full disk, a read-only file system (slow: hundreds of kills).
odomira_add_test(save_safety_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SaveSafetyTest.cpp
                 LIBS varko_objects LABEL slow TIMEOUT 600)
odomira_add_test(collection_file_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionFileTest.cpp
                 LIBS varko_objects)
odomira_add_test(collection_detect_tests
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionDetectTest.cpp
                 LIBS varko_objects LABEL slow RESOURCE_LOCK discovery4201)
if(TARGET Qt6::Widgets)
    # Add and modify through the real configuration dialog, scripted.
    odomira_add_test(collection_dialog_tests
                     SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionDialogTest.cpp
                     LIBS varko_objects odomira_dialog_test_support LABEL gui)
endif()
odomira_add_test(collection_sim_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CollectionSimTest.cpp
                 LIBS varko_objects LABEL slow RESOURCE_LOCK discovery4201)
add_dependencies(collection_sim_tests odomira-printer-sim)
if(TARGET VarkoUSB)
    add_dependencies(collection_sim_tests VarkoUSB)
endif()
# The collection's access for callers without the dialog, which the command-line tool
# relies on.
odomira_add_test(cli_library_access_tests
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PrinterSettingsAccessTest.cpp
                 LIBS varko_objects)
