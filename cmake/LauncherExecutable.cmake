# A launcher executable: the shared core with an entry point, and its own version information and
# update channel as resources (resources/launcher_build.rc.in), which it reads at start and the
# publisher's tool reads before offering it. The product is Gatehouse; the demo and the tests build
# more with other versions and channels. `version` is up to four dotted numbers; `public_key` is
# one key, or two separated by a comma.
function(add_launcher_executable target version manifest_url public_key)
    if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
        message(FATAL_ERROR "${target}: the version must be one to four dotted numbers, got '${version}'")
    endif()
    string(REPLACE "." ";" parts "${version}")
    list(LENGTH parts count)
    while(count LESS 4)
        list(APPEND parts 0)
        math(EXPR count "${count} + 1")
    endwhile()
    foreach(part IN LISTS parts)
        if(part GREATER 65535)
            message(FATAL_ERROR "${target}: each part of the version must be at most 65535, got '${version}'")
        endif()
    endforeach()
    list(JOIN parts ", " version_commas)
    list(JOIN parts "." version_text)
    string(REGEX REPLACE "\\.0$" "" version_text "${version_text}") # 0.6.1.0 shows as 0.6.1
    # Without an address the channel is off, whatever key was given.
    if(manifest_url STREQUAL "")
        set(public_key "")
    endif()
    foreach(value IN ITEMS manifest_url public_key)
        string(REPLACE "\\" "\\\\" ${value} "${${value}}")
        string(REPLACE "\"" "\\\"" ${value} "${${value}}")
    endforeach()
    # `public_key` is one key, or two separated by a comma while the operator moves to a new key.
    set(public_keys "")
    if(NOT public_key STREQUAL "")
        string(REPLACE "," "\", \"" public_keys "\"${public_key}\"")
    endif()
    set(generated "${CMAKE_BINARY_DIR}/generated/${target}")
    set(channel_document "${generated}/update-channel.json")
    file(CONFIGURE OUTPUT "${channel_document}"
         CONTENT "{\"manifestUrl\": \"@manifest_url@\", \"publicKeys\": [@public_keys@]}\n" @ONLY)
    configure_file("${PROJECT_SOURCE_DIR}/resources/launcher_build.rc.in" "${generated}/launcher_build.rc" @ONLY)
    # windres' dependency file does not list RCDATA inputs.
    set_source_files_properties("${generated}/launcher_build.rc" PROPERTIES OBJECT_DEPENDS "${channel_document}")

    add_executable(${target} WIN32 "${PROJECT_SOURCE_DIR}/src/ui/main.cpp" "${generated}/launcher_build.rc")
    target_link_libraries(${target} PRIVATE launcher_ui launcher_resources launcher_builtin_config
                                            launcher_options)
    if(MINGW)
        # Release builds ship without symbols: the executable players download stays small.
        target_link_options(${target} PRIVATE -municode $<$<CONFIG:Release,MinSizeRel>:-s>)
    endif()
endfunction()
