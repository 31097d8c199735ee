// Installer signatures with OpenSSL's libcrypto.
#include "platform/Signature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

namespace kivo::platform {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

Key ReadPublicKey(const std::string& pem) {
    std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    // Only an elliptic-curve key on P-256 is accepted.
    if (!key || !EVP_PKEY_is_a(key.get(), "EC")) return nullptr;
    char curve[64] = {};
    std::size_t length = 0;
    if (EVP_PKEY_get_group_name(key.get(), curve, sizeof curve, &length) != 1 ||
        std::string(curve, length) != "prime256v1")
        return nullptr;
    return key;
}

}  // namespace

bool VerifyFileSignature(const std::string& path, const std::string& signature, const std::string& publicKeyPem) {
    const Key key = ReadPublicKey(publicKeyPem);
    if (!key || signature.empty()) return false;
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bool ok = true;
    char buffer[65536];
    std::size_t got = 0;
    while (ok && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        ok = EVP_DigestVerifyUpdate(context.get(), buffer, got) == 1;
    ok = ok && std::ferror(file) == 0;
    std::fclose(file);
    return ok && EVP_DigestVerifyFinal(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                                       signature.size()) == 1;
}

}  // namespace kivo::platform
