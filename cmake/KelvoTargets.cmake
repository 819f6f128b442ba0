# Helpers shared by every folder of the project.

# Warnings as errors on the project's own code.
function(kelvo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# Source lists are written out: a file is built because a list names it. A .cpp in a folder that is
# in no list would otherwise lie there unnoticed (never built, never tested), so configure stops on
# one. The folder itself is checked, and each sub-folder a listed file lies in (the per-system
# implementations of src/platform); other sub-folders (separate child programs) are listed by their
# own targets.
function(kelvo_check_listed)
  set(folders ".")
  foreach(file IN LISTS ARGN)
    get_filename_component(folder "${file}" DIRECTORY)
    if(folder)
      list(APPEND folders "${folder}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  foreach(folder IN LISTS folders)
    file(GLOB present RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
    foreach(file IN LISTS present)
      if(NOT file IN_LIST ARGN)
        message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${file} is in no source list: add it to "
                            "${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.txt or remove it")
      endif()
    endforeach()
  endforeach()
endfunction()

# kelvo_library(<name> SOURCES <files...> [DEPS <targets...>])
# One static library per source folder, exported as kelvo::<name>.
function(kelvo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  kelvo_check_listed(${ARG_SOURCES})
  add_library(kelvo_${name} STATIC ${ARG_SOURCES})
  target_include_directories(kelvo_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kelvo_${name} PUBLIC ${ARG_DEPS})
  kelvo_warnings(kelvo_${name})
  add_library(kelvo::${name} ALIAS kelvo_${name})
endfunction()

# kelvo_test(<name> SOURCES <files...> [DEPS <targets...>] [OWN_MAIN])
# One GoogleTest executable whose cases are registered one by one with CTest. OWN_MAIN: the sources
# bring their own main (GUI tests create the application object first).
set(KELVO_ABSENT_MACHINE_FOLDER "${CMAKE_BINARY_DIR}/no-machine-folder")
function(kelvo_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;DEPS" ${ARGN})
  kelvo_check_listed(${ARG_SOURCES})
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
