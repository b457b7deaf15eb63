# How Ulmora's libraries, tests and the layering check are declared.

# ulmora_add_library(NAME SOURCES ... [PUBLIC_HEADERS ...] [MEDIA_HEADERS ...] [DEPS ...] [PRIVATE_DEPS ...])
# One static library of a folder of src/: target ulmora_NAME, alias ulmora::NAME. Its own sources see
# every header of their folder; the targets that link it see only PUBLIC_HEADERS, so what a library keeps
# to itself cannot leak upward. Headers are staged as symbolic links, so includes keep their
# "folder/file.h" form and edits need no new configure run.
# MEDIA_HEADERS carry GStreamer or V4L2 types: only ulmora::NAME_media exports them (with the private
# dependencies), for the libraries and tools that work with the media framework themselves.
# DEPS: what the public headers need (passed on); PRIVATE_DEPS: what only the sources use.
# ulmora::NAME_internal adds every header and the private dependencies, for tests and benchmarks.
function(ulmora_add_library name)
  cmake_parse_arguments(L "" "" "SOURCES;PUBLIC_HEADERS;MEDIA_HEADERS;DEPS;PRIVATE_DEPS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(stage ${CMAKE_BINARY_DIR}/include/${name})
  file(REMOVE_RECURSE ${stage})
  file(MAKE_DIRECTORY ${stage}/all ${stage}/public/${folder} ${stage}/media/${folder})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${stage}/all/${folder} SYMBOLIC)
  foreach(set public media)
    string(TOUPPER ${set} upper)
    foreach(header ${L_${upper}_HEADERS})
      if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
        message(FATAL_ERROR "${name}: ${set} header ${header} does not exist")
      endif()
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${stage}/${set}/${folder}/${header} SYMBOLIC)
    endforeach()
  endforeach()

  add_library(ulmora_${name} STATIC ${L_SOURCES})
  add_library(ulmora::${name} ALIAS ulmora_${name})
  target_include_directories(ulmora_${name} PRIVATE ${stage}/all INTERFACE ${stage}/public)
  target_link_libraries(ulmora_${name} PUBLIC ${L_DEPS} PRIVATE ${L_PRIVATE_DEPS})

  add_library(ulmora_${name}_media INTERFACE)
  add_library(ulmora::${name}_media ALIAS ulmora_${name}_media)
  target_include_directories(ulmora_${name}_media INTERFACE ${stage}/media)
  target_link_libraries(ulmora_${name}_media INTERFACE ulmora_${name} ${L_PRIVATE_DEPS})

  add_library(ulmora_${name}_internal INTERFACE)
  add_library(ulmora::${name}_internal ALIAS ulmora_${name}_internal)
  target_include_directories(ulmora_${name}_internal INTERFACE ${stage}/all)
  target_link_libraries(ulmora_${name}_internal INTERFACE ulmora_${name} ${L_PRIVATE_DEPS})
endfunction()

# ulmora_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...]): one gtest binary, each case its own ctest
# entry. Tests look inside what they test: LIBS are usually ulmora::X_internal, and the tests' own helpers
# are reached as "folder/tests/file.h".
# Label "threads": the suite starts threads of its own or runs a pipeline; the tsan preset runs these.
function(ulmora_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(T_LABELS)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}" TIMEOUT 120)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  endif()
endfunction()
