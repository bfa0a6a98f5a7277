# The log: cost of a record the level filters out, and records written per
# second beside WriteFile of the same bytes.
hk_add_bench(hk_bench_log ${CMAKE_CURRENT_LIST_DIR}/LogBench.cpp)
target_link_libraries(hk_bench_log PRIVATE advapi32)
