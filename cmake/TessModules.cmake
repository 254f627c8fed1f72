# One static library per module: every .cpp of src/<module>/ goes in, and the
# module's public headers are reached as "<module>/<name>.hpp".
function(tess_module name)
  cmake_parse_arguments(M "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(tess_${name} STATIC ${sources})
    target_include_directories(tess_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tess_${name} PUBLIC ${M_DEPS})
  else()  # a module whose first file has not landed yet
    add_library(tess_${name} INTERFACE)
    target_include_directories(tess_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tess_${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# One test program per module folder of tests/: every *_test.cpp goes in.
function(tess_tests name)
  cmake_parse_arguments(T "" "" "LIBS;LABELS;ENVIRONMENT" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${T_LIBS} tess_testing GTest::gtest_main GTest::gmock)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set(env "TESSELLARIUM_DATA_DIR=${TESS_DATA_DIR}" "LC_ALL=C.UTF-8" ${T_ENVIRONMENT})
  gtest_discover_tests(${name}_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "${env}")
  add_dependencies(${name}_tests translations)
endfunction()
