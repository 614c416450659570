# wavinfo: frame count, rate and tone level of a wave file (developer check).
add_executable(wavinfo ${CMAKE_CURRENT_LIST_DIR}/wavinfo.cpp)
set_target_properties(wavinfo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
