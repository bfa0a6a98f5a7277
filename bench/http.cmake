# Upload throughput of PostLargeDataToServer against curl, both to the web
# server stand-in in the same run, and the memory the upload adds.
hk_add_bench(upload_bench ${CMAKE_CURRENT_LIST_DIR}/UploadBench.cpp ${PROJECT_SOURCE_DIR}/tests/http/WebServer.cpp)
target_include_directories(upload_bench PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/http)
target_link_libraries(upload_bench PRIVATE hk_testsupport ws2_32 psapi wininet)
target_compile_definitions(upload_bench PRIVATE HK_SOURCE_DIR_UNIX="${PROJECT_SOURCE_DIR}")
