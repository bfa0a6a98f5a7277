# The soak: eight threads of mixed work on the stand-ins for HK_SOAK_SECONDS
# (default 20 s). It needs the test fixtures (the MAPI stand-in's environment,
# fresh processes, the web server stand-in), so it is built with the tests.
if(HEARTHKIT_BUILD_TESTS)
    hk_add_test(hk_soak SOURCES ${CMAKE_CURRENT_LIST_DIR}/Soak.cpp MAPI LIBS wininet
                DEPENDS WdsHandlerStandin TIMEOUT 4000)
endif()
