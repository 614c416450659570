# Coefficient generator of the decimation filter. The generated modules are
# kept in filter/; a test checks that they equal the generator's output, and
# the coeffgen-update target rewrites them after a change of the design.
add_library(coeffgen_design STATIC ${CMAKE_CURRENT_LIST_DIR}/coeffgen_design.cpp)
target_include_directories(coeffgen_design PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_executable(coeffgen ${CMAKE_CURRENT_LIST_DIR}/coeffgen.cpp)
target_link_libraries(coeffgen PRIVATE coeffgen_design)
set_target_properties(coeffgen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

add_custom_target(coeffgen-update
  COMMAND coeffgen ${PROJECT_SOURCE_DIR}/filter
  COMMENT "Regenerating the filter coefficient modules in filter/"
  VERBATIM)
