# mbedTLS for the proxy's TLS layer, as the imported target tls_mbedtls.
#   windows tree: Debian's mbedtls source package, fetched and checked by
#     tools/debian-source.sh and built with its own CMake for MinGW (static
#     libraries) into build/windows/third_party/ at configure time;
#   native tree: Debian's libmbedtls-dev (the same upstream version).
# In the windows tree mbedTLS is built with MBEDTLS_GCM_ALT: its GCM API comes
# from gcm_cng/ (tls_gcm_cng), which hands TLS records to CNG's AES-GCM.
if(TARGET tls_mbedtls)
  return()
endif()

set(CORVALEN_MBEDTLS_VERSION 2.28.3-1)
set(CORVALEN_MBEDTLS_DSC_SHA256 a8bf91b5ffb40654efb0ebe0c962ac1e87b8eed5e104880982eaa70dd4bb33e3)

add_library(tls_mbedtls INTERFACE IMPORTED GLOBAL)

if(WIN32)
  set(tp ${CMAKE_BINARY_DIR}/third_party)
  set(src ${tp}/mbedtls-src)
  set(bin ${tp}/mbedtls-build)
  set(prefix ${tp}/mbedtls-mingw)
  set(gcm_dir ${CMAKE_CURRENT_LIST_DIR}/gcm_cng)
  # The library is rebuilt when the GCM context it is compiled against changes.
  file(SHA256 ${gcm_dir}/gcm_alt.h gcm_alt_sha)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${gcm_dir}/gcm_alt.h)
  set(stamp "${CORVALEN_MBEDTLS_VERSION} ${CORVALEN_MBEDTLS_DSC_SHA256} gcm-alt ${gcm_alt_sha}")
  set(have "")
  if(EXISTS ${prefix}/.built)
    file(READ ${prefix}/.built have)
  endif()
  if(NOT have STREQUAL stamp)
    execute_process(
      COMMAND bash ${CMAKE_SOURCE_DIR}/tools/debian-source.sh mbedtls ${CORVALEN_MBEDTLS_VERSION}
              ${CORVALEN_MBEDTLS_DSC_SHA256} ${src}
      RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "fetching Debian's mbedtls source failed")
    endif()
    message(STATUS "Building mbedTLS ${CORVALEN_MBEDTLS_VERSION} for MinGW")
    file(REMOVE_RECURSE ${bin} ${prefix})
    execute_process(
      COMMAND ${CMAKE_COMMAND} -S ${src} -B ${bin} -G Ninja
              -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
              -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${prefix}
              -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DGEN_FILES=OFF
              -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DUSE_SHARED_MBEDTLS_LIBRARY=OFF
              -DMBEDTLS_FATAL_WARNINGS=OFF
              "-DCMAKE_C_FLAGS=-DMBEDTLS_GCM_ALT -I${gcm_dir}"
      OUTPUT_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      set(jobs $ENV{JOBS})
      if(NOT jobs)
        set(jobs 1)
      endif()
      execute_process(COMMAND ${CMAKE_COMMAND} --build ${bin} --target install -j ${jobs}
                      OUTPUT_QUIET RESULT_VARIABLE rc)
    endif()
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "building mbedTLS for MinGW failed")
    endif()
    file(WRITE ${prefix}/.built "${stamp}")
  endif()
  # mbedtls_gcm_* on CNG. It comes after libmbedcrypto on the link line, which
  # calls it, and uses libmbedcrypto's zeroize; its one object is pulled in up
  # front (--undefined) so that the order cannot drop it.
  add_library(tls_gcm_cng STATIC ${gcm_dir}/gcm_cng.cpp)
  target_include_directories(tls_gcm_cng PRIVATE ${prefix}/include ${gcm_dir} ${CMAKE_SOURCE_DIR})
  target_compile_definitions(tls_gcm_cng PRIVATE MBEDTLS_GCM_ALT)
  target_link_libraries(tls_gcm_cng PUBLIC ${prefix}/lib/libmbedcrypto.a bcrypt)
  set_target_properties(tls_mbedtls PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${prefix}/include;${gcm_dir}"
    INTERFACE_COMPILE_DEFINITIONS MBEDTLS_GCM_ALT
    INTERFACE_LINK_OPTIONS "-Wl,--undefined=mbedtls_gcm_init"
    INTERFACE_LINK_LIBRARIES "${prefix}/lib/libmbedtls.a;${prefix}/lib/libmbedx509.a;${prefix}/lib/libmbedcrypto.a;tls_gcm_cng;ws2_32;bcrypt;advapi32")
else()
  find_path(MBEDTLS_INCLUDE_DIR mbedtls/ssl.h)
  find_library(MBEDTLS_LIB mbedtls)
  find_library(MBEDX509_LIB mbedx509)
  find_library(MBEDCRYPTO_LIB mbedcrypto)
  if(NOT MBEDTLS_INCLUDE_DIR OR NOT MBEDTLS_LIB OR NOT MBEDX509_LIB OR NOT MBEDCRYPTO_LIB)
    message(FATAL_ERROR "mbedTLS not found (apt-get install libmbedtls-dev)")
  endif()
  set_target_properties(tls_mbedtls PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${MBEDTLS_INCLUDE_DIR}
    INTERFACE_LINK_LIBRARIES "${MBEDTLS_LIB};${MBEDX509_LIB};${MBEDCRYPTO_LIB}")
endif()
