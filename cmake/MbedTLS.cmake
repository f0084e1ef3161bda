# Mbed TLS for Network Time Security, as scripts/build-mbedtls.sh leaves it: static libraries
# under build/mbedtls/<arch>, built from Debian's source package when they are not there yet.
#   mbedtls::mbedtls  TLS, X.509 and the crypto beneath them
if(WIN32)
    set(RIZI_MBEDTLS_ARCH ${CMAKE_SYSTEM_PROCESSOR})
    if(RIZI_MBEDTLS_ARCH STREQUAL "x86")
        set(RIZI_MBEDTLS_ARCH i686)
    elseif(RIZI_MBEDTLS_ARCH STREQUAL "AMD64")
        set(RIZI_MBEDTLS_ARCH x86_64)
    endif()
else()
    set(RIZI_MBEDTLS_ARCH linux)
endif()
set(RIZI_MBEDTLS_DEFAULT_DIR "${PROJECT_SOURCE_DIR}/build/mbedtls/${RIZI_MBEDTLS_ARCH}")
set(RIZI_MBEDTLS_DIR "${RIZI_MBEDTLS_DEFAULT_DIR}" CACHE PATH
    "Mbed TLS 3.6 built by scripts/build-mbedtls.sh for this architecture (empty: the default)")
# Empty means the default: the rockspec passes $(MBEDTLS_DIR), which LuaRocks leaves empty when
# the user names no folder.
if(RIZI_MBEDTLS_DIR STREQUAL "")
    set_property(CACHE RIZI_MBEDTLS_DIR PROPERTY VALUE "${RIZI_MBEDTLS_DEFAULT_DIR}")
endif()
if(NOT EXISTS "${RIZI_MBEDTLS_DIR}/lib/libmbedtls.a")
    message(STATUS "Mbed TLS: building it for ${RIZI_MBEDTLS_ARCH} (scripts/build-mbedtls.sh)")
    execute_process(COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/build-mbedtls.sh"
                            ${RIZI_MBEDTLS_ARCH}
                    RESULT_VARIABLE RIZI_MBEDTLS_BUILT)
    if(NOT RIZI_MBEDTLS_BUILT EQUAL 0 OR NOT EXISTS "${RIZI_MBEDTLS_DIR}/lib/libmbedtls.a")
        message(FATAL_ERROR "RIZI_MBEDTLS_DIR must hold Mbed TLS 3.6's include/ and lib/ "
                            "(run scripts/build-mbedtls.sh ${RIZI_MBEDTLS_ARCH})")
    endif()
endif()
add_library(mbedtls::mbedtls INTERFACE IMPORTED)
# Its headers as system headers: our warnings are not theirs.
target_include_directories(mbedtls::mbedtls SYSTEM INTERFACE "${RIZI_MBEDTLS_DIR}/include")
target_link_libraries(mbedtls::mbedtls INTERFACE
    "${RIZI_MBEDTLS_DIR}/lib/libmbedtls.a" "${RIZI_MBEDTLS_DIR}/lib/libmbedx509.a"
    "${RIZI_MBEDTLS_DIR}/lib/libmbedcrypto.a")
if(WIN32)
    # Its random numbers come from BCryptGenRandom; its certificate code reads IP addresses
    # with inet_pton (Vista's Winsock 2).
    target_link_libraries(mbedtls::mbedtls INTERFACE bcrypt ws2_32)
else()
    target_link_libraries(mbedtls::mbedtls INTERFACE pthread)
endif()
