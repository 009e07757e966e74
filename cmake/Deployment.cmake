# Deployment values of one build. The defaults point at services on this machine, so a
# default build talks to the local demo services; an operator passes their own values.
set(LAUNCHER_LAN_LOGIN_HOST "127.0.0.1" CACHE STRING
    "Host of the login proxy on the local network (plain HTTP, port 9915)")
set(LAUNCHER_PACKAGE_HOST "127.0.0.1" CACHE STRING
    "Host of the client package server (plain HTTP, port 80)")
set(LAUNCHER_LOGIN_PROXY_URL
    "http://${LAUNCHER_LAN_LOGIN_HOST}:9915/api/GameLoginLog/GetUidTalvo" CACHE STRING
    "Built-in login address (an HTTPS address in a production build)")
set(LAUNCHER_REGISTRATION_HOST "127.0.0.1" CACHE STRING
    "Host of the HTTPS registration page (/register.aspx)")
set(LAUNCHER_SDK_SCRIPT_URL "https://${LAUNCHER_REGISTRATION_HOST}/sdk/talvo-sdk.js" CACHE STRING
    "Built-in sdkScriptUrl (carried in the document, read by nothing)")
set(LAUNCHER_API_DOMAIN "https://${LAUNCHER_REGISTRATION_HOST}" CACHE STRING
    "Built-in apiDomain (carried in the document, read by nothing)")
set(LAUNCHER_UPDATE_MANIFEST_URL "" CACHE STRING
    "Address of the signed update manifest (HTTPS, or http://<package host>/K3ClientRes/exe/TalvoPC/...); empty turns updates off")
set(LAUNCHER_UPDATE_PUBLIC_KEY "" CACHE STRING
    "ECDSA P-256 public key that signs the update manifest, as printed by gatehouse-pack keygen; two separated by a comma while moving to a new key")

foreach(host IN ITEMS LAUNCHER_LAN_LOGIN_HOST LAUNCHER_PACKAGE_HOST LAUNCHER_REGISTRATION_HOST)
    if(NOT ${host} MATCHES "^[A-Za-z0-9.-]+$")
        message(FATAL_ERROR "${host} must be a plain host name or IPv4 address, got '${${host}}'")
    endif()
endforeach()
foreach(value IN ITEMS LAUNCHER_LOGIN_PROXY_URL LAUNCHER_SDK_SCRIPT_URL LAUNCHER_API_DOMAIN)
    if(${value} MATCHES "[\"\\\\]")
        message(FATAL_ERROR "${value} must not contain quotes or backslashes")
    endif()
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
