// Release signatures: `kivo-server sign --key private.pem FILE` writes
// FILE.sig, the ECDSA P-256 signature over SHA-256 of FILE, DER-encoded (the
// form `openssl dgst -sha256 -sign` writes and the programs verify).
#pragma once

#include <string>

namespace kivo::server {

// Signs `file` with the private key in `keyPem`; writes `file` + ".sig".
// Throws std::runtime_error saying what failed.
void SignFile(const std::string& keyPem, const std::string& file);

// The `sign` command line: args after "sign". Returns the exit status.
int RunSign(int argc, char** argv);

}  // namespace kivo::server
