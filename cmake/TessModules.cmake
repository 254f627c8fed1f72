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
  set(T_ENVIRONMENT_PROPERTY)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${T_LIBS} tess_testing GTest::gmock)
  list(LENGTH T_ENVIRONMENT env_count)
  if(env_count GREATER 1)
    message(FATAL_ERROR "tess_tests(${name}): at most one ENVIRONMENT entry")
  elseif(env_count EQUAL 1)
    set(T_ENVIRONMENT_PROPERTY ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  # The common environment comes from the tests' own main (support/test_main.cpp):
  # gtest_discover_tests cannot pass more than one ENVIRONMENT entry.
  gtest_discover_tests(${name}_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" ${T_ENVIRONMENT_PROPERTY})
  add_dependencies(${name}_tests translations)
endfunction()
