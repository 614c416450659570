# wavinfo: frame count, rate and tone level of a wave file (developer check).
# Its reader and sine fit are a library that the tests measure with too.
add_library(wavetone STATIC ${CMAKE_CURRENT_LIST_DIR}/wavetone.cpp)
target_include_directories(wavetone PUBLIC ${CMAKE_CURRENT_LIST_DIR})
add_executable(wavinfo ${CMAKE_CURRENT_LIST_DIR}/wavinfo.cpp)
target_link_libraries(wavinfo PRIVATE wavetone)
set_target_properties(wavinfo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
