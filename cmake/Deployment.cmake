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

set(LAUNCHER_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file(cmake/deployment_values.h.in "${LAUNCHER_GENERATED_DIR}/deployment_values.h" @ONLY)
configure_file(resources/builtin-config.json.in "${LAUNCHER_GENERATED_DIR}/builtin-config.json" @ONLY)
