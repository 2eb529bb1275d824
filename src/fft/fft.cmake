# The real-FFT exports and the KISS FFT build behind them. Included from src/CMakeLists.txt
# right after kesto_core is declared.
include(${PROJECT_SOURCE_DIR}/cmake/kissfft.cmake)

target_sources(kesto_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/fft_exports.cpp)

# PRIVATE on an object library still reaches whatever links its objects (the shared library,
# the unit tests) as a link-only dependency, so the static KISS FFT and the OpenMP runtime end
# up inside libKestoVideoClient without exposing KISS FFT's headers to the rest of the code.
target_link_libraries(kesto_core PRIVATE kesto::kissfft)
add_dependencies(kesto_core kesto_kissfft_build)
