# GUI libraries: one static Qt library per folder of gui/, from the .cpp files
# of that folder (tests, fuzz targets and main.cpp excluded). Qt's moc runs on
# the folder's headers.
function(sorvel_add_gui_module name)
  cmake_parse_arguments(M "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  file(GLOB hdrs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT srcs)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE Qt6::Core Qt6::Gui Qt6::Widgets ${M_LIBS})
    return()
  endif()
  add_library(${name} STATIC ${srcs} ${hdrs})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Gui Qt6::Widgets ${M_LIBS})
endfunction()

# One test program per GUI folder from its *_test.cpp files, with a QApplication
# made by the shared test main. Every test runs headless (offscreen); tests
# whose name holds "Screenshot" run again in one CTest entry under Xvfb with a
# real X platform and write build/screenshots/<FormName>.png.
function(sorvel_add_gui_tests name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  if(NOT SORVEL_BUILD_TESTS)
    return()
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${name} ${tests})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${T_LIBS} sorvel_gui_testing Qt6::Test GTest::gtest GTest::gmock)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    TEST_FILTER "-*Screenshot*"
    PROPERTIES TIMEOUT 300 ENVIRONMENT "SORVEL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               ENVIRONMENT_MODIFICATION "SORVEL_BIN_DIR=set:${SORVEL_BIN_DIR};QT_QPA_PLATFORM=set:offscreen")
  add_test(NAME ${name}_screenshots
    COMMAND sh ${PROJECT_SOURCE_DIR}/testing/run_under_xvfb.sh 1600x1200x24 $<TARGET_FILE:${name}> --gtest_filter=*Screenshot*
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${name}_screenshots PROPERTIES TIMEOUT 300
    ENVIRONMENT "SORVEL_SOURCE_DIR=${PROJECT_SOURCE_DIR};SORVEL_BIN_DIR=${SORVEL_BIN_DIR};QT_QPA_PLATFORM=xcb;SORVEL_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/screenshots")
endfunction()

# libFuzzer targets of a GUI folder: fuzz/*_fuzz.cc linked with the folder's library.
function(sorvel_add_gui_fuzzers library)
  # A folder without sources yet is an interface library: nothing to fuzz.
  get_target_property(type ${library} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  sorvel_add_fuzzers(${library})
endfunction()
