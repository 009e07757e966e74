# Third-party code comes from Debian's packages, never from this repository.

# nlohmann/json is header-only and lives in the host's /usr/include, which must never be on the
# cross compiler's include path (glibc's headers would shadow MinGW's). Expose just its folder.
find_path(NLOHMANN_JSON_HOST_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH)
if(NOT NLOHMANN_JSON_HOST_DIR)
    message(FATAL_ERROR "nlohmann/json not found: run scripts/setup (package nlohmann-json3-dev)")
endif()
set(NLOHMANN_JSON_SHIM "${CMAKE_BINARY_DIR}/nlohmann-json-include")
file(MAKE_DIRECTORY "${NLOHMANN_JSON_SHIM}")
file(CREATE_LINK "${NLOHMANN_JSON_HOST_DIR}/nlohmann" "${NLOHMANN_JSON_SHIM}/nlohmann" SYMBOLIC)
add_library(nlohmann_json_shim INTERFACE)
target_include_directories(nlohmann_json_shim SYSTEM INTERFACE "${NLOHMANN_JSON_SHIM}")

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
