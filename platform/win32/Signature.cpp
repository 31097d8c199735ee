// Installer signatures with CNG. The P-256 public key and the DER signature
// are taken apart here into the raw forms BCryptVerifySignature takes.
#include "platform/Signature.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace kivo::platform {

namespace {

using Bytes = std::vector<unsigned char>;

// The DER of a SubjectPublicKeyInfo up to the point: SEQUENCE, the algorithm
// (id-ecPublicKey, prime256v1), the BIT STRING header, and 0x04 (uncompressed).
const unsigned char kP256KeyPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                        0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                        0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
constexpr std::size_t kCoordinate = 32;

bool PemToDer(const std::string& pem, Bytes& der) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
        return false;
    der.resize(size);
    return CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                &size, nullptr, nullptr) != FALSE;
}

// BCRYPT_ECCKEY_BLOB followed by X and Y.
bool PublicKeyBlob(const Bytes& der, Bytes& blob) {
    if (der.size() != sizeof kP256KeyPrefix + 2 * kCoordinate ||
        std::memcmp(der.data(), kP256KeyPrefix, sizeof kP256KeyPrefix) != 0)
        return false;
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinate};
    blob.assign(reinterpret_cast<unsigned char*>(&header), reinterpret_cast<unsigned char*>(&header) + sizeof header);
    blob.insert(blob.end(), der.begin() + sizeof kP256KeyPrefix, der.end());
    return true;
}

// One DER INTEGER at `at` as a 32-byte big-endian number appended to `out`.
bool ReadInteger(const std::string& der, std::size_t& at, Bytes& out) {
    if (at + 2 > der.size() || der[at] != 0x02) return false;
    std::size_t length = static_cast<unsigned char>(der[at + 1]);
    at += 2;
    if (length == 0 || length > kCoordinate + 1 || at + length > der.size()) return false;
    std::size_t start = at;
    at += length;
    while (length > kCoordinate) {
        if (der[start] != 0) return false;
        ++start;
        --length;
    }
    out.insert(out.end(), kCoordinate - length, 0);
    out.insert(out.end(), der.begin() + static_cast<std::ptrdiff_t>(start),
               der.begin() + static_cast<std::ptrdiff_t>(start + length));
    return true;
}

// SEQUENCE { INTEGER r, INTEGER s } as r || s.
bool RawSignature(const std::string& der, Bytes& raw) {
    if (der.size() < 8 || der[0] != 0x30 || static_cast<unsigned char>(der[1]) != der.size() - 2) return false;
    std::size_t at = 2;
    return ReadInteger(der, at, raw) && ReadInteger(der, at, raw) && at == der.size();
}

bool HashFile(const std::string& path, Bytes& digest) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    std::vector<unsigned char> buffer(65536);
    std::size_t got = 0;
    while (ok && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, buffer.data(), static_cast<ULONG>(got), 0));
    ok = ok && std::ferror(file) == 0;
    std::fclose(file);
    digest.assign(32, 0);
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

}  // namespace

bool VerifyFileSignature(const std::string& path, const std::string& signature, const std::string& publicKeyPem) {
    Bytes der, blob, raw, digest;
    if (!PemToDer(publicKeyPem, der) || !PublicKeyBlob(der, blob) || !RawSignature(signature, raw) ||
        !HashFile(path, digest))
        return false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                                                 static_cast<ULONG>(blob.size()), 0));
    ok = ok && BCRYPT_SUCCESS(BCryptVerifySignature(key, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                                    raw.data(), static_cast<ULONG>(raw.size()), 0));
    if (key != nullptr) BCryptDestroyKey(key);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

}  // namespace kivo::platform
