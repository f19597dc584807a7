# Search speed: which line search kernels the core holds.
#   KOVREL_PORTABLE=ON      only the portable kernel (what a processor without
#                           AVX2 runs); CI tests this build too.
#   KOVREL_PLAIN_SEARCH=ON  the plain search and encoder instead of the fast
#                           ones, to time the program against.
option(KOVREL_PORTABLE "Use only the portable line search kernel" OFF)
option(KOVREL_PLAIN_SEARCH "Build the plain line search and tile encoder into the program" OFF)
option(KOVREL_BUILD_BENCHMARKS "Build the benchmarks when Google Benchmark is installed" ON)
option(KOVREL_STATIC_RUNTIME "Link the C++ runtime into kovrel (faster start)" ON)

if(NOT KOVREL_PORTABLE AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$"
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_sources(kovrel_core PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/quantise/line_search_avx2.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/quantise/line_search_avx512.cpp)
  target_compile_definitions(kovrel_core PRIVATE KOVREL_X86_KERNELS)
  if(MINGW)
    # Windows x64 aligns the stack to 16 bytes only, and gcc does not realign
    # it for the 32- and 64-byte vectors it spills: the assembler writes
    # every aligned vector move as an unaligned one (as fast on aligned
    # data), so that such a spill cannot fault.
    target_compile_options(kovrel_core PRIVATE -Wa,-muse-unaligned-vector-move)
  endif()
endif()
if(KOVREL_PLAIN_SEARCH)
  target_compile_definitions(kovrel_core PRIVATE KOVREL_PLAIN_SEARCH)
endif()

add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench)

# Loading and relocating the shared C++ runtime costs each run about 3 ms of
# processor time here, a fifth of a 256 x 192 conversion: the program carries
# its own copy instead. Linking the C library in as well saves the dynamic
# loader's work and page faults, about 0.5 ms more. The sanitizers need the
# shared runtime.
if(KOVREL_STATIC_RUNTIME AND NOT KOVREL_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  check_cxx_source_compiles("int main() { return 0; }" KOVREL_CAN_LINK_STATIC)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(KOVREL_CAN_LINK_STATIC)
    target_link_options(kovrel PRIVATE -static)
  else()
    target_link_options(kovrel PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endif()
