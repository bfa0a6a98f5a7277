# The layered configuration lookup: microseconds per warm GetConfigValue for a
# value found in each layer, beside the bare registry probes of those layers.
hk_add_bench(hk_bench_config ${CMAKE_CURRENT_LIST_DIR}/ConfigBench.cpp)
target_link_libraries(hk_bench_config PRIVATE advapi32)
