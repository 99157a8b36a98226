# What every build of the core library shares: the language level, the
# default build type and the one list of its sources (support, primitives
# and services: everything except the Node-API binding). Included by the
# root project, fuzz/ and tests/valgrind/, which compile the same sources
# with their own flags. A new source file under these folders needs no
# edit here.
set(CMAKE_CXX_STANDARD 23)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

get_filename_component(TARNWICK_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(TARNWICK_CORE_INCLUDE_DIR ${TARNWICK_ROOT}/src)
file(GLOB_RECURSE TARNWICK_CORE_SOURCES CONFIGURE_DEPENDS
  ${TARNWICK_ROOT}/src/support/*.cpp ${TARNWICK_ROOT}/src/crypto/*.cpp
  ${TARNWICK_ROOT}/src/vorel/*.cpp ${TARNWICK_ROOT}/src/ohos/asym/*.cpp)
