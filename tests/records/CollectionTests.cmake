# Tests of the printer collection, the settings store and discovery.
odomira_add_test(settings_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SettingsStoreTest.cpp
                 LIBS varko_objects)
odomira_add_test(discovery_packet_tests
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DiscoveryPacketTest.cpp LIBS varko_objects)
