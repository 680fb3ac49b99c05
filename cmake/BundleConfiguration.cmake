# The bundle configuration file of zelt-share, one cache variable per key. An empty variable
# leaves its key out of the file, which the program reads as an absent value.
set(ZELT_APP_GROUP_IDENTIFIER "app.zelt.shared" CACHE STRING
    "ZeltAppGroupIdentifier: the suite shared with the main application")
set(ZELT_KEYCHAIN_ACCESS_GROUP "app.zelt.shared" CACHE STRING
    "ZeltKeychainAccessGroup: the access group of the shared session item")
set(ZELT_ORB_BUILD_THREAD_ID "" CACHE STRING
    "ZeltOrbBuildThreadID: set in development builds; enables ZeltDevBaseOrigin")
set(ZELT_DEV_BASE_ORIGIN "" CACHE STRING
    "ZeltDevBaseOrigin: the development service origin, e.g. https://localhost:8443")
set(ZELT_KEYCHAIN_BACKEND "secret-service" CACHE STRING
    "ZeltKeychainBackend: secret-service or file")
set_property(CACHE ZELT_KEYCHAIN_BACKEND PROPERTY STRINGS secret-service file)
set(ZELT_DEV_CERTIFICATE_AUTHORITIES "" CACHE STRING
    "ZeltDevCertificateAuthorities: PEM file trusted while the development origin is in use")

set(ZELT_BUNDLE_CONFIGURATION_FILE ${CMAKE_BINARY_DIR}/share/zelt/ZeltShareExtension.json)

set(_zelt_bundle "{}")
foreach(_pair
        "ZeltAppGroupIdentifier=ZELT_APP_GROUP_IDENTIFIER"
        "ZeltKeychainAccessGroup=ZELT_KEYCHAIN_ACCESS_GROUP"
        "ZeltOrbBuildThreadID=ZELT_ORB_BUILD_THREAD_ID"
        "ZeltDevBaseOrigin=ZELT_DEV_BASE_ORIGIN"
        "ZeltKeychainBackend=ZELT_KEYCHAIN_BACKEND"
        "ZeltDevCertificateAuthorities=ZELT_DEV_CERTIFICATE_AUTHORITIES")
    string(REPLACE "=" ";" _pair "${_pair}")
    list(GET _pair 0 _key)
    list(GET _pair 1 _variable)
    if(NOT "${${_variable}}" STREQUAL "")
        # Quoted through a JSON string so that any character in the value stays intact.
        string(REPLACE "\\" "\\\\" _escaped "${${_variable}}")
        string(REPLACE "\"" "\\\"" _escaped "${_escaped}")
        string(REPLACE "\n" "\\n" _escaped "${_escaped}")
        string(REPLACE "\t" "\\t" _escaped "${_escaped}")
        string(JSON _zelt_bundle SET "${_zelt_bundle}" "${_key}" "\"${_escaped}\"")
    endif()
endforeach()
file(CONFIGURE OUTPUT ${ZELT_BUNDLE_CONFIGURATION_FILE} CONTENT "${_zelt_bundle}\n" @ONLY)
