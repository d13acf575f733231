# plonemail_area(NAME [SYSTEM_DIR DIR] [EXCLUDE FILE...] DEPS ...): the static
# library of one source area, built from every .cpp file in the calling
# directory (but the EXCLUDE ones) and in its subfolder DIR (the system's own
# sources, whose headers only it sees).
function(plonemail_area name)
  cmake_parse_arguments(A "" "SYSTEM_DIR" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(file ${A_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  if(A_SYSTEM_DIR)
    file(GLOB system_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${A_SYSTEM_DIR}/*.cpp)
    list(APPEND srcs ${system_srcs})
  endif()
  set(lib plonemail_${name})
  if(srcs)
    add_library(${lib} STATIC ${srcs})
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    if(A_SYSTEM_DIR)
      target_include_directories(${lib} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${A_SYSTEM_DIR})
    endif()
    target_link_libraries(${lib} PUBLIC ${A_DEPS})
  else()
    add_library(${lib} INTERFACE)
    target_include_directories(${lib} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${lib} INTERFACE ${A_DEPS})
  endif()
endfunction()

# plonemail_unit_tests(AREA LIBS ...): one GoogleTest program per test area,
# built from every .cpp file in the calling directory and in its subfolder
# of the system's name (PLONEMAIL_SYSTEM_DIR: tests of what only that system
# has, which see the system's own headers of the area), its tests labelled AREA.
function(plonemail_unit_tests area)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${PLONEMAIL_SYSTEM_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe unit_${area})
  add_executable(${exe} ${srcs})
  target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src/${area}/${PLONEMAIL_SYSTEM_DIR})
  target_link_libraries(${exe} PRIVATE ${A_LIBS} plonemail_test_host GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${exe} PRIVATE
    PLONEMAIL_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator every start costs: one test per program, not per case.
    add_test(NAME ${PLONEMAIL_TEST_PREFIX}${area}.all COMMAND ${exe})
    set_tests_properties(${PLONEMAIL_TEST_PREFIX}${area}.all PROPERTIES LABELS ${area} TIMEOUT 900)
  else()
    gtest_discover_tests(${exe}
      TEST_PREFIX "${PLONEMAIL_TEST_PREFIX}${area}."
      PROPERTIES LABELS ${area}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
