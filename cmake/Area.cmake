# plonemail_area(NAME DEPS ...): the static library of one source area,
# built from every .cpp file in the calling directory.
function(plonemail_area name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(lib plonemail_${name})
  if(srcs)
    add_library(${lib} STATIC ${srcs})
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${lib} PUBLIC ${A_DEPS})
  else()
    add_library(${lib} INTERFACE)
    target_include_directories(${lib} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${lib} INTERFACE ${A_DEPS})
  endif()
endfunction()

# plonemail_unit_tests(AREA LIBS ...): one GoogleTest program per test area,
# built from every .cpp file in the calling directory, its tests labelled AREA.
function(plonemail_unit_tests area)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe unit_${area})
  add_executable(${exe} ${srcs})
  target_link_libraries(${exe} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${exe} PRIVATE
    PLONEMAIL_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
  gtest_discover_tests(${exe}
    TEST_PREFIX "${PLONEMAIL_TEST_PREFIX}${area}."
    PROPERTIES LABELS ${area}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60)
endfunction()
