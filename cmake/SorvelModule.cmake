# One static library per source folder: every .cpp below the folder except tests
# (*_test.cpp), exports (*_exports.cpp, linked into the shared library) and
# program entry points (main.cpp).
function(sorvel_module_sources out dir)
  file(GLOB_RECURSE all CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER all EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER all EXCLUDE REGEX "_exports\\.cpp$")
  list(FILTER all EXCLUDE REGEX "/main\\.cpp$")
  set(${out} ${all} PARENT_SCOPE)
endfunction()

function(sorvel_add_module name)
  cmake_parse_arguments(M "" "" "LIBS" ${ARGN})
  sorvel_module_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR})
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
  endif()
  if(M_LIBS)
    if(srcs)
      target_link_libraries(${name} PUBLIC ${M_LIBS})
    else()
      target_link_libraries(${name} INTERFACE ${M_LIBS})
    endif()
  endif()
endfunction()

# One test program per folder from its *_test.cpp files; each test case is a CTest test.
function(sorvel_add_tests name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  if(NOT SORVEL_BUILD_TESTS)
    return()
  endif()
  file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${name} ${tests})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} sorvel_testing GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    # One value per property: the discovery script splits list values into separate arguments.
    PROPERTIES TIMEOUT 300 ENVIRONMENT "SORVEL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               ENVIRONMENT_MODIFICATION "SORVEL_BIN_DIR=set:${SORVEL_BIN_DIR}")
endfunction()

# libFuzzer targets (clang only, -DSORVEL_FUZZ=ON): one program per fuzz/*_fuzz.cc
# of the folder, linked with the folder's library; each runs as
#   build-fuzz/fuzz/<name> -max_total_time=60
function(sorvel_add_fuzzers library)
  if(NOT SORVEL_FUZZ)
    return()
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SORVEL_FUZZ needs clang++ (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
  file(GLOB fuzzers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzz.cc)
  foreach(src ${fuzzers})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${library})
  endforeach()
endfunction()
