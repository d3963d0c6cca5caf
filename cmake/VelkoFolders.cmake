# Each source folder of the library is built as its own object library,
# velko_<folder>_objects, in dependency order (host, store, generate,
# engine, chunk, render, export, import). From the same objects two
# libraries are assembled:
#
#   velko_host, velko   the shipped libraries (installed; velko::velko);
#                       the host stand-in stays a library of its own, as
#                       the platform's library would be.
#   velko_testing       everything in one library for the tests, benchmarks
#                       and fuzz targets, with the test controls.
#
# A folder's sources that hold test controls (entry points a test uses to
# steer the host or the allocator, compiled only under VELKO_TEST_CONTROLS)
# are named with TEST_CONTROLS and compiled twice: without the controls
# for the shipped libraries, with them for velko_testing. The rest of the
# folder is compiled once.
#
# A side folder (velko_side_folder) takes its place in the order but in
# neither library: the record builder, which needs only the host.
#
# Beside the build, layers/<n>-<folder>.objects lists each folder's shipped
# objects in order, for scripts/check-layers.

# What every folder compiles against: the public headers, the project root
# for the folders' own headers, and the host's libraries.
add_library(velko_headers INTERFACE)
target_include_directories(velko_headers INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
target_link_libraries(velko_headers INTERFACE ICU::uc ICU::i18n ICU::data SQLite::SQLite3)

# Options every folder is compiled with; the fuzz build adds its
# instrumentation here (fuzz/CMakeLists.txt).
add_library(velko_library_options INTERFACE)

set_property(GLOBAL PROPERTY VELKO_FOLDERS "")
# Every folder in order, side folders included.
set_property(GLOBAL PROPERTY VELKO_LAYERS "")

function(velko_folder_options target)
  target_link_libraries(${target} PRIVATE velko_headers velko_library_options velko_warnings)
endfunction()

# velko_folder_library(<folder> [TEST_CONTROLS <source>...])
function(velko_folder_library folder)
  cmake_parse_arguments(arg "" "" "TEST_CONTROLS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(TRANSFORM arg_TEST_CONTROLS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE controlled)
  if(controlled)
    list(REMOVE_ITEM sources ${controlled})
  endif()

  get_property(folders GLOBAL PROPERTY VELKO_FOLDERS)
  add_library(velko_${folder}_objects OBJECT ${sources})
  velko_folder_options(velko_${folder}_objects)
  if(folders)
    # The folder below: its headers and build order.
    list(GET folders -1 lower)
    target_link_libraries(velko_${folder}_objects PRIVATE velko_${lower}_objects)
  endif()
  if(controlled)
    add_library(velko_${folder}_shipped OBJECT ${controlled})
    add_library(velko_${folder}_controls OBJECT EXCLUDE_FROM_ALL ${controlled})
    target_compile_definitions(velko_${folder}_controls PRIVATE VELKO_TEST_CONTROLS)
    foreach(target velko_${folder}_shipped velko_${folder}_controls)
      velko_folder_options(${target})
    endforeach()
  endif()
  set_property(GLOBAL APPEND PROPERTY VELKO_FOLDERS ${folder})
  set_property(GLOBAL APPEND PROPERTY VELKO_LAYERS ${folder})
endfunction()

# velko_side_folder(<folder>): the folder's sources as velko_<folder>_objects,
# compiled like a library folder, placed in the order after the folders
# declared before it, and left out of velko and velko_testing.
function(velko_side_folder folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(velko_${folder}_objects OBJECT ${sources})
  velko_folder_options(velko_${folder}_objects)
  set_property(GLOBAL APPEND PROPERTY VELKO_LAYERS ${folder})
  set_property(GLOBAL APPEND PROPERTY VELKO_SIDE_FOLDERS ${folder})
endfunction()

# The objects of a folder: `variant` is shipped or controls.
function(velko_folder_objects out folder variant)
  set(objects $<TARGET_OBJECTS:velko_${folder}_objects>)
  if(TARGET velko_${folder}_${variant})
    list(APPEND objects $<TARGET_OBJECTS:velko_${folder}_${variant}>)
  endif()
  set(${out} ${objects} PARENT_SCOPE)
endfunction()

function(velko_assemble_libraries)
  get_property(folders GLOBAL PROPERTY VELKO_LAYERS)
  get_property(side_folders GLOBAL PROPERTY VELKO_SIDE_FOLDERS)
  set(shipped)
  set(testing)
  set(index 0)
  # Lists of an earlier order would be read with these.
  file(REMOVE_RECURSE ${PROJECT_BINARY_DIR}/layers)
  foreach(folder IN LISTS folders)
    velko_folder_objects(folder_shipped ${folder} shipped)
    if(NOT folder IN_LIST side_folders)
      velko_folder_objects(folder_testing ${folder} controls)
      if(NOT folder STREQUAL "host")
        list(APPEND shipped ${folder_shipped})
      endif()
      list(APPEND testing ${folder_testing})
    endif()
    math(EXPR index "${index} + 1")
    file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/layers/${index}-${folder}.objects
      CONTENT "$<JOIN:${folder_shipped},\n>\n")
  endforeach()

  velko_folder_objects(host_shipped host shipped)
  add_library(velko_host STATIC ${host_shipped})
  add_library(velko::host ALIAS velko_host)
  target_include_directories(velko_host PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(velko_host PUBLIC ICU::uc ICU::i18n ICU::data SQLite::SQLite3)

  add_library(velko ${shipped})
  add_library(velko::velko ALIAS velko)
  target_include_directories(velko PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(velko PUBLIC velko_host)
  set_target_properties(velko PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

  add_library(velko_testing STATIC EXCLUDE_FROM_ALL ${testing})
  target_link_libraries(velko_testing PUBLIC velko_headers velko_library_options)
endfunction()
