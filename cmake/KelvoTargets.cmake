# Helpers shared by every folder of the project.

# Warnings as errors on the project's own code.
function(kelvo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# kelvo_library(<name> [DEPS <targets...>])
# One static library per source folder, made of every .cpp in the folder; exported as kelvo::<name>.
function(kelvo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(kelvo_${name} STATIC ${sources})
    target_include_directories(kelvo_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kelvo_${name} PUBLIC ${ARG_DEPS})
    kelvo_warnings(kelvo_${name})
  else()
    add_library(kelvo_${name} INTERFACE)
    target_include_directories(kelvo_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kelvo_${name} INTERFACE ${ARG_DEPS})
  endif()
  add_library(kelvo::${name} ALIAS kelvo_${name})
endfunction()

# kelvo_test(<name> SOURCES <files...> [DEPS <targets...>] [OWN_MAIN])
# One GoogleTest executable whose cases are registered one by one with CTest. OWN_MAIN: the sources
# bring their own main (GUI tests create the application object first).
set(KELVO_ABSENT_MACHINE_FOLDER "${CMAKE_BINARY_DIR}/no-machine-folder")
function(kelvo_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
  endif()
  kelvo_warnings(${name})
  # PROGRAMDATA names a machine folder that never exists: no test sees this computer's real one (its
  # machine key, saved sign-in or settings); tests that need one make their own. Each property holds
  # one value: the discovered tests' property list is flattened, so "A=1;B=2" would not survive.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                                  ENVIRONMENT_MODIFICATION "PROGRAMDATA=set:${KELVO_ABSENT_MACHINE_FOLDER}")
endfunction()
