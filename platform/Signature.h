#pragma once
// Signatures of downloaded installers: ECDSA over P-256 with SHA-256, the
// signature DER-encoded (as `openssl dgst -sha256 -sign` writes it), the
// public key a PEM "PUBLIC KEY" block (SubjectPublicKeyInfo).
#include <string>

namespace kivo::platform {

// True when `signature` is a valid signature of the whole file at `path`
// under `publicKeyPem`; false for anything else (an unreadable file, a
// malformed key or signature, a signature of other bytes).
bool VerifyFileSignature(const std::string& path, const std::string& signature, const std::string& publicKeyPem);

}  // namespace kivo::platform
