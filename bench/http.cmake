# The HTTP benchmarks against nginx (scripts/setup.sh installs nginx-light):
# uploads with PostLargeDataToServer and downloads with GetDataFromServer,
# each beside a bare WinINet loop and curl in the same rounds.
foreach(kind Upload Download)
    string(TOLOWER ${kind}_bench name)
    hk_add_bench(${name} ${CMAKE_CURRENT_LIST_DIR}/${kind}Bench.cpp)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/support)
    target_link_libraries(${name} PRIVATE hk_testsupport ws2_32 psapi wininet)
    target_compile_definitions(${name} PRIVATE HK_SOURCE_DIR_UNIX="${PROJECT_SOURCE_DIR}")
endforeach()
