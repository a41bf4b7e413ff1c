# Benchmarks of a scan over a Maildir; run by maildir-scan.sh. Included from bench/CMakeLists.txt.
add_executable(pairsweep_bench_maildir_scan ${CMAKE_CURRENT_LIST_DIR}/MaildirScanBench.cpp)
target_link_libraries(pairsweep_bench_maildir_scan
  PRIVATE pairsweep::scan pairsweep::store_maildir Qt6::Core)

add_executable(pairsweep_bench_maildir_path ${CMAKE_CURRENT_LIST_DIR}/MaildirPathBench.cpp)
target_link_libraries(pairsweep_bench_maildir_path
  PRIVATE pairsweep::scan pairsweep::store_maildir Qt6::Core benchmark::benchmark)
