# Deployment values of one build. The defaults point at services on this machine, so a default build
# talks to the local demo services; an operator passes their own values. The hosts are what an
# operator sets; the addresses made from them are derived unless given (empty means derived), so a
# changed host never leaves an address of the old one behind in the cache.
set(LAUNCHER_LAN_LOGIN_HOST "127.0.0.1" CACHE STRING
    "Host of the login proxy on the local network (plain HTTP, port 9915)")
set(LAUNCHER_PACKAGE_HOST "127.0.0.1" CACHE STRING
    "Host of the client package server (plain HTTP, port 80)")
set(LAUNCHER_REGISTRATION_HOST "127.0.0.1" CACHE STRING
    "Host of the HTTPS registration page (/register.aspx)")
set(LAUNCHER_LOGIN_PROXY_URL "" CACHE STRING
    "Built-in login address (an HTTPS address in a production build); empty: http://<LAN login host>:9915/api/GameLoginLog/GetUidTalvo")
set(LAUNCHER_SDK_SCRIPT_URL "" CACHE STRING
    "Built-in sdkScriptUrl (carried in the document, read by nothing); empty: https://<registration host>/sdk/talvo-sdk.js")
set(LAUNCHER_API_DOMAIN "" CACHE STRING
    "Built-in apiDomain (carried in the document, read by nothing); empty: https://<registration host>")
# The client package a fresh install downloads. Empty: the package of this tree, on the package host.
set(LAUNCHER_CLIENT_PACKAGE_URL "" CACHE STRING
    "Address of the client package a fresh install downloads; empty: this tree's package on the package host")
set(LAUNCHER_CLIENT_PACKAGE_SHA256 "" CACHE STRING
    "SHA-256 of that package (64 hexadecimal digits); required with LAUNCHER_CLIENT_PACKAGE_URL")
set(LAUNCHER_CLIENT_PACKAGE_VERSION "" CACHE STRING
    "Version of that package, as the installed client records it; required with LAUNCHER_CLIENT_PACKAGE_URL")
set(LAUNCHER_CLIENT_EXECUTABLE_PATH "" CACHE STRING
    "Game executable inside that package; empty: TalvoPC/talvo-曜石纪元.exe")
set(LAUNCHER_UPDATE_MANIFEST_URL "" CACHE STRING
    "Address of the signed update manifest (HTTPS, or http://<package host>/K3ClientRes/exe/TalvoPC/...); empty turns updates off")
set(LAUNCHER_UPDATE_PUBLIC_KEY "" CACHE STRING
    "ECDSA P-256 public key that signs the update manifest, as printed by gatehouse-pack keygen; two separated by a comma while moving to a new key")

foreach(host IN ITEMS LAUNCHER_LAN_LOGIN_HOST LAUNCHER_PACKAGE_HOST LAUNCHER_REGISTRATION_HOST)
    if(NOT ${host} MATCHES "^[A-Za-z0-9.-]+$")
        message(FATAL_ERROR "${host} must be a plain host name or IPv4 address, got '${${host}}'")
    endif()
endforeach()

# Returns the cache variable `name`, or `derived` when it is empty, in `out`.
function(launcher_deployment_value out name derived)
    if("${${name}}" STREQUAL "")
        set(${out} "${derived}" PARENT_SCOPE)
    else()
        set(${out} "${${name}}" PARENT_SCOPE)
    endif()
endfunction()

launcher_deployment_value(builtin_login_proxy_url LAUNCHER_LOGIN_PROXY_URL
                          "http://${LAUNCHER_LAN_LOGIN_HOST}:9915/api/GameLoginLog/GetUidTalvo")
launcher_deployment_value(builtin_sdk_script_url LAUNCHER_SDK_SCRIPT_URL
                          "https://${LAUNCHER_REGISTRATION_HOST}/sdk/talvo-sdk.js")
launcher_deployment_value(builtin_api_domain LAUNCHER_API_DOMAIN "https://${LAUNCHER_REGISTRATION_HOST}")

# The package values describe one package: a digest or version of another package beside this
# tree's address (or the reverse) would make a launcher that fails every first install.
if(LAUNCHER_CLIENT_PACKAGE_URL STREQUAL "")
    foreach(value IN ITEMS LAUNCHER_CLIENT_PACKAGE_SHA256 LAUNCHER_CLIENT_PACKAGE_VERSION
                           LAUNCHER_CLIENT_EXECUTABLE_PATH)
        if(NOT ${value} STREQUAL "")
            message(FATAL_ERROR "${value} describes the client package of LAUNCHER_CLIENT_PACKAGE_URL, "
                                "which is not set: give the package's address too")
        endif()
    endforeach()
    set(builtin_package_url
        "http://${LAUNCHER_PACKAGE_HOST}/K3ClientRes/exe/TalvoPC/2026-11-09/TalvoPC.zip?v=3813A66F29E4AC58")
    set(builtin_package_sha256 "3813A66F29E4AC582B2E725E305BE6BF79F86849195B3656336F652339B966E9")
    set(builtin_package_version "2026-11-09.3")
else()
    foreach(value IN ITEMS LAUNCHER_CLIENT_PACKAGE_SHA256 LAUNCHER_CLIENT_PACKAGE_VERSION)
        if(${value} STREQUAL "")
            message(FATAL_ERROR "${value} is required with LAUNCHER_CLIENT_PACKAGE_URL: "
                                "a release pins the package it installs")
        endif()
    endforeach()
    set(builtin_package_url "${LAUNCHER_CLIENT_PACKAGE_URL}")
    set(builtin_package_sha256 "${LAUNCHER_CLIENT_PACKAGE_SHA256}")
    set(builtin_package_version "${LAUNCHER_CLIENT_PACKAGE_VERSION}")
endif()
launcher_deployment_value(builtin_executable_path LAUNCHER_CLIENT_EXECUTABLE_PATH "TalvoPC/talvo-曜石纪元.exe")

# Written into the document as JSON strings, escaped; whether the launcher accepts them is for its
# own rules to say (tools/config_check, run by the build).
foreach(value IN ITEMS builtin_login_proxy_url builtin_sdk_script_url builtin_api_domain builtin_package_url
                       builtin_package_sha256 builtin_package_version builtin_executable_path)
    string(REPLACE "\\" "\\\\" ${value} "${${value}}")
    string(REPLACE "\"" "\\\"" ${value} "${${value}}")
endforeach()

if(NOT LAUNCHER_UPDATE_MANIFEST_URL STREQUAL "")
    if(NOT LAUNCHER_UPDATE_MANIFEST_URL MATCHES "^(https://|http://${LAUNCHER_PACKAGE_HOST}/K3ClientRes/exe/TalvoPC/)[^\"\\ ]+$")
        message(FATAL_ERROR "LAUNCHER_UPDATE_MANIFEST_URL must be an HTTPS address or lie under "
                            "http://${LAUNCHER_PACKAGE_HOST}/K3ClientRes/exe/TalvoPC/, got '${LAUNCHER_UPDATE_MANIFEST_URL}'")
    endif()
    # One key, or two separated by a comma while the operator moves to a new key.
    if(NOT LAUNCHER_UPDATE_PUBLIC_KEY MATCHES "^[0-9A-Fa-f]+(,[0-9A-Fa-f]+)?$")
        message(FATAL_ERROR "LAUNCHER_UPDATE_PUBLIC_KEY must be the public key gatehouse-pack keygen printed, "
                            "or two of them separated by a comma")
    endif()
    string(REPLACE "," ";" update_keys "${LAUNCHER_UPDATE_PUBLIC_KEY}")
    foreach(update_key IN LISTS update_keys)
        string(LENGTH "${update_key}" key_length)
        if(NOT key_length EQUAL 128)
            message(FATAL_ERROR "LAUNCHER_UPDATE_PUBLIC_KEY: each key must be 128 hexadecimal digits")
        endif()
    endforeach()
endif()

# The demo's key pair is public (tools/demo-update-key.json): a build that trusted it would install
# whatever anyone signs. Only the demo launcher and the tests' builds use it, through their own targets.
file(READ "${CMAKE_CURRENT_LIST_DIR}/../tools/demo-update-key.json" demo_key_document)
string(JSON LAUNCHER_DEMO_UPDATE_PUBLIC_KEY GET "${demo_key_document}" publicKey)
string(TOLOWER "${LAUNCHER_UPDATE_PUBLIC_KEY}" given_keys)
string(REPLACE "," ";" given_keys "${given_keys}")
string(TOLOWER "${LAUNCHER_DEMO_UPDATE_PUBLIC_KEY}" demo_key)
if(demo_key IN_LIST given_keys)
    message(FATAL_ERROR "LAUNCHER_UPDATE_PUBLIC_KEY is the public demo key of tools/demo-update-key.json, "
                        "whose private key anyone can read: make your own with gatehouse-pack keygen")
endif()

set(LAUNCHER_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/deployment_values.h.in" "${LAUNCHER_GENERATED_DIR}/deployment_values.h" @ONLY)
configure_file("${CMAKE_CURRENT_LIST_DIR}/../resources/builtin-config.json.in" "${LAUNCHER_GENERATED_DIR}/builtin-config.json" @ONLY)
