# Third-party code comes from the system's packages, never from this repository.

if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
    # nlohmann/json is header-only and lives in the host's /usr/include, which must never be on
    # the cross compiler's include path (glibc's headers would shadow MinGW's). Expose just its
    # own folder through a build-local link.
    find_path(NLOHMANN_JSON_HOST_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
    if(NOT NLOHMANN_JSON_HOST_DIR)
        message(FATAL_ERROR "nlohmann/json not found: run scripts/setup (package nlohmann-json3-dev)")
    endif()
    set(NLOHMANN_JSON_SHIM "${CMAKE_BINARY_DIR}/nlohmann-json-include")
    file(MAKE_DIRECTORY "${NLOHMANN_JSON_SHIM}")
    file(CREATE_LINK "${NLOHMANN_JSON_HOST_DIR}/nlohmann" "${NLOHMANN_JSON_SHIM}/nlohmann" SYMBOLIC)
    add_library(launcher_json INTERFACE)
    target_include_directories(launcher_json SYSTEM INTERFACE "${NLOHMANN_JSON_SHIM}")
    set(LAUNCHER_GTEST_SOURCE_DIR /usr/src/googletest)
else()
    # A native Windows toolchain (for example with vcpkg) provides the packages itself.
    find_package(nlohmann_json 3.11 CONFIG REQUIRED)
    add_library(launcher_json INTERFACE)
    target_link_libraries(launcher_json INTERFACE nlohmann_json::nlohmann_json)
endif()

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
