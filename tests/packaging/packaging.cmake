# Installing and packaging: the install rules into a temporary prefix, with the installed
# programs run and their manual pages and desktop entry checked; the Debian package's control
# file and contents.
set(packaging_test_dir ${CMAKE_CURRENT_LIST_DIR})
set(packaging_defs
  TILU_BUILD_DIR="${CMAKE_BINARY_DIR}"
  TILU_CMAKE_COMMAND="${CMAKE_COMMAND}"
  TILU_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}")
if(TILU_INSTALL_TEST_TOOLS)
  list(APPEND packaging_defs TILU_INSTALLS_TEST_TOOLS=1)
endif()

foreach(name test_install test_package)
  add_executable(${name} ${packaging_test_dir}/${name}.cpp)
  target_link_libraries(${name} PRIVATE tilu_test_support GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE ${packaging_defs})
  add_dependencies(${name} tilu sarv sarv-playlist)
  add_test(NAME ${name} COMMAND ${name})
endforeach()
set_tests_properties(test_install PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 180)
set_tests_properties(test_package PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 300)
