# Helpers shared by every CMakeLists of the project.

# velmo_warnings(target): the project's warning level.
function(velmo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()

# velmo_add_com_library(NAME SOURCES ... LIBS ...): a shared library loaded
# by ProgID through the object factory. It is registered in the application
# folder's class registry right after it is linked.
function(velmo_add_com_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  velmo_warnings(${name})
  set_target_properties(${name} PROPERTIES PREFIX "lib" OUTPUT_NAME ${name})
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env VELMORCAST_HOME=${VELMO_APP_DIR}
            $<TARGET_FILE:vregsvr> $<TARGET_FILE:${name}>
    COMMENT "Registering ${name}")
  add_dependencies(${name} vregsvr)
endfunction()

# velmo_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [FIXTURES ...]
#                [PARTS suffix=filter ...]): one GoogleTest program under
# CTest. Window tests run offscreen. In the sanitizer build it runs through
# tests/sanitizer-run.sh, which collects the sanitizer reports of the test
# and of every program it starts. Each PARTS entry runs the cases its
# GoogleTest filter names as a test of its own, NAME_suffix, so that long
# cases run beside each other and each keeps well inside its TIMEOUT; NAME
# then runs every other case.
function(velmo_add_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES;PARTS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    INSTALL_RPATH "${VELMO_APP_DIR}")
  target_compile_definitions(${name} PRIVATE
    VELMO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELMO_APP_DIR="${VELMO_APP_DIR}"
    VELMO_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  if(VELMO_SANITIZE)
    set(run bash ${PROJECT_SOURCE_DIR}/tests/sanitizer-run.sh $<TARGET_FILE:${name}>)
  else()
    set(run $<TARGET_FILE:${name}>)
  endif()
  set(tests ${name})
  set(others "")
  foreach(part IN LISTS A_PARTS)
    string(FIND "${part}" "=" at)
    if(at LESS 1)
      message(FATAL_ERROR "velmo_add_test(${name}): PARTS entry '${part}' is not suffix=filter")
    endif()
    string(SUBSTRING "${part}" 0 ${at} suffix)
    math(EXPR at "${at} + 1")
    string(SUBSTRING "${part}" ${at} -1 filter)
    add_test(NAME ${name}_${suffix} COMMAND ${run} --gtest_filter=${filter})
    # A filter that names no case would pass having run nothing.
    set_tests_properties(${name}_${suffix} PROPERTIES FAIL_REGULAR_EXPRESSION "Running 0 tests from")
    list(APPEND tests ${name}_${suffix})
    if(others)
      string(APPEND others ":")
    endif()
    string(APPEND others "${filter}")
  endforeach()
  if(others)
    add_test(NAME ${name} COMMAND ${run} --gtest_filter=-${others})
  else()
    add_test(NAME ${name} COMMAND ${run})
  endif()
  set_tests_properties(${tests} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    TIMEOUT ${A_TIMEOUT})
  if(A_LABELS)
    set_tests_properties(${tests} PROPERTIES LABELS "${A_LABELS}")
  endif()
  if(A_FIXTURES)
    set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED "${A_FIXTURES}")
  endif()
endfunction()
