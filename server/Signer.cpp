#include "Signer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace kivo::server {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

void SignFile(const std::string& keyPem, const std::string& file) {
    std::FILE* keyFile = std::fopen(keyPem.c_str(), "rb");
    if (keyFile == nullptr) throw std::runtime_error("cannot read the key " + keyPem);
    std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr));
    std::fclose(keyFile);
    if (!key || !EVP_PKEY_is_a(key.get(), "EC")) throw std::runtime_error(keyPem + " holds no EC private key");

    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) throw std::runtime_error("cannot read " + file);

    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size()) != 1)
        throw std::runtime_error("cannot sign " + file);
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
        throw std::runtime_error("cannot sign " + file);
    signature.resize(length);

    std::ofstream out(file + ".sig", std::ios::binary | std::ios::trunc);
    out << signature;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + file + ".sig");
}

int RunSign(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[0], "--key") != 0) {
        std::cerr << "usage: kivo-server sign --key PRIVATE.pem FILE\n";
        return 2;
    }
    try {
        SignFile(argv[1], argv[2]);
    } catch (const std::exception& e) {
        std::cerr << "kivo-server sign: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace kivo::server
