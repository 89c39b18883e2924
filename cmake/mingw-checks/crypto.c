/* libcrypto from the cache: an Ed25519 signature made, verified, and refused once altered,
 * as the update check verifies it. */
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <stdio.h>

static int verify(EVP_PKEY* key, const unsigned char* sig, size_t sigLen, const unsigned char* msg,
                  size_t msgLen) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    int ok = EVP_DigestVerifyInit(ctx, NULL, NULL, NULL, key) == 1 &&
             EVP_DigestVerify(ctx, sig, sigLen, msg, msgLen) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

int main(void) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(NULL, NULL, "ED25519");
    if (!key)
        return 1;
    unsigned char msg[] = "Quorvane-2.99.exe";
    unsigned char sig[64];
    size_t sigLen = sizeof sig;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (EVP_DigestSignInit(ctx, NULL, NULL, NULL, key) != 1 ||
        EVP_DigestSign(ctx, sig, &sigLen, msg, sizeof msg) != 1)
        return 2;
    EVP_MD_CTX_free(ctx);
    if (!verify(key, sig, sigLen, msg, sizeof msg))
        return 3;
    msg[0] ^= 1;
    if (verify(key, sig, sigLen, msg, sizeof msg))
        return 4;
    EVP_PKEY_free(key);
    printf("%s: Ed25519 signature verified, altered message refused\n", OPENSSL_VERSION_TEXT);
    return 0;
}
