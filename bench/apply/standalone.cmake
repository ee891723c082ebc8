# Builds bench/apply in a build tree of its own, before bench/CMakeLists.txt adds it:
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release \
#         -DCMAKE_PROJECT_INCLUDE=$PWD/bench/apply/standalone.cmake
#   cmake --build build-rel --target bench_apply && build-rel/apply
# This file runs right after the top-level project(); the bench's CMakeLists.txt is
# included once the top-level file has defined every module library.
set(_apply_list "${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt")
cmake_language(EVAL CODE
  "cmake_language(DEFER DIRECTORY \"${CMAKE_SOURCE_DIR}\" CALL include \"${_apply_list}\")")
