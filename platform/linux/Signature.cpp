// Installer signatures with OpenSSL's libcrypto, loaded with the first check
// rather than with the program: the library is large, and only an update
// needs it.
#include "platform/Signature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "platform/linux/SharedLibrary.h"

namespace kivo::platform {

namespace {

struct Crypto {
    decltype(&BIO_new_mem_buf) bio_new_mem_buf;
    decltype(&BIO_free_all) bio_free_all;
    decltype(&PEM_read_bio_PUBKEY) pem_read_bio_pubkey;
    decltype(&EVP_PKEY_is_a) pkey_is_a;
    decltype(&EVP_PKEY_get_group_name) pkey_get_group_name;
    decltype(&EVP_PKEY_free) pkey_free;
    decltype(&EVP_MD_CTX_new) md_ctx_new;
    decltype(&EVP_MD_CTX_free) md_ctx_free;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_DigestVerifyInit) verify_init;
    decltype(&EVP_DigestVerifyUpdate) verify_update;
    decltype(&EVP_DigestVerifyFinal) verify_final;
};

const Crypto* Load() {
    // The soname the headers were made for.
    void* library = OpenLibrary("libcrypto.so.3");
    if (library == nullptr) return nullptr;
    static Crypto crypto;
    const bool bound =
        Bind(library, "BIO_new_mem_buf", crypto.bio_new_mem_buf) &&
        Bind(library, "BIO_free_all", crypto.bio_free_all) &&
        Bind(library, "PEM_read_bio_PUBKEY", crypto.pem_read_bio_pubkey) &&
        Bind(library, "EVP_PKEY_is_a", crypto.pkey_is_a) &&
        Bind(library, "EVP_PKEY_get_group_name", crypto.pkey_get_group_name) &&
        Bind(library, "EVP_PKEY_free", crypto.pkey_free) && Bind(library, "EVP_MD_CTX_new", crypto.md_ctx_new) &&
        Bind(library, "EVP_MD_CTX_free", crypto.md_ctx_free) && Bind(library, "EVP_sha256", crypto.sha256) &&
        Bind(library, "EVP_DigestVerifyInit", crypto.verify_init) &&
        Bind(library, "EVP_DigestVerifyUpdate", crypto.verify_update) &&
        Bind(library, "EVP_DigestVerifyFinal", crypto.verify_final);
    return bound ? &crypto : nullptr;
}

// The library, loaded once by whichever thread asks first; null when it
// cannot be had, and then no signature is good.
const Crypto* Library() {
    static const Crypto* const crypto = Load();
    return crypto;
}

template <typename T>
using Owned = std::unique_ptr<T, void (*)(T*)>;

Owned<EVP_PKEY> ReadPublicKey(const Crypto& crypto, const std::string& pem) {
    Owned<EVP_PKEY> none(nullptr, crypto.pkey_free);
    Owned<BIO> bio(crypto.bio_new_mem_buf(pem.data(), static_cast<int>(pem.size())), crypto.bio_free_all);
    if (!bio) return none;
    Owned<EVP_PKEY> key(crypto.pem_read_bio_pubkey(bio.get(), nullptr, nullptr, nullptr), crypto.pkey_free);
    // Only an elliptic-curve key on P-256 is accepted.
    if (!key || !crypto.pkey_is_a(key.get(), "EC")) return none;
    char curve[64] = {};
    std::size_t length = 0;
    if (crypto.pkey_get_group_name(key.get(), curve, sizeof curve, &length) != 1 ||
        std::string(curve, length) != "prime256v1")
        return none;
    return key;
}

}  // namespace

bool VerifyFileSignature(const std::string& path, const std::string& signature, const std::string& publicKeyPem) {
    const Crypto* crypto = Library();
    if (crypto == nullptr) return false;
    const Owned<EVP_PKEY> key = ReadPublicKey(*crypto, publicKeyPem);
    if (!key || signature.empty()) return false;
    Owned<EVP_MD_CTX> context(crypto->md_ctx_new(), crypto->md_ctx_free);
    if (!context || crypto->verify_init(context.get(), nullptr, crypto->sha256(), nullptr, key.get()) != 1)
        return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bool ok = true;
    char buffer[65536];
    std::size_t got = 0;
    while (ok && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        ok = crypto->verify_update(context.get(), buffer, got) == 1;
    ok = ok && std::ferror(file) == 0;
    std::fclose(file);
    return ok && crypto->verify_final(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                                      signature.size()) == 1;
}

}  // namespace kivo::platform
