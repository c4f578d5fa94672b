/* The GCM context of the proxy's Windows build of mbedTLS (MBEDTLS_GCM_ALT).
 * Included by mbedtls/gcm.h after mbedtls/cipher.h, so it is C.
 *
 * GCM runs on a CNG key in GCM chaining mode, whose implementation uses the
 * processor's AES and carry-less multiply instructions. It serves what the
 * TLS record layer asks for: whole records, AES keys, a 12-byte IV. */
#ifndef CORVALEN_GCM_ALT_H
#define CORVALEN_GCM_ALT_H

typedef struct mbedtls_gcm_context {
    void *cng_key; /* BCRYPT_KEY_HANDLE in GCM chaining mode, or NULL before setkey */
} mbedtls_gcm_context;

#endif
