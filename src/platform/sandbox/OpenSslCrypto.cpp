// Signatures on the sandbox and in the tools: OpenSSL's libcrypto.

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "platform/Platform.h"

namespace qlr::crypto {

namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;
using Bignum = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
void FreeOpenSsl(unsigned char* p) { OPENSSL_free(p); }

// SubjectPublicKeyInfo of a P-256 key, up to the uncompressed point's 0x04.
constexpr unsigned char kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

class OpenSslSha256 final : public Sha256 {
public:
    OpenSslSha256() : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            throw RunError("SHA-256 is not available");
    }
    void Update(const void* data, std::size_t count) override {
        if (EVP_DigestUpdate(context_.get(), data, count) != 1) throw RunError("SHA-256 failed");
    }
    Sha256Digest Finish() override {
        Sha256Digest digest{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1 || length != digest.size())
            throw RunError("SHA-256 failed");
        return digest;
    }

private:
    MdContext context_;
};

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

std::unique_ptr<Sha256> StartSha256() { return std::make_unique<OpenSslSha256>(); }

bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) {
    unsigned char spki[sizeof kSpkiPrefix + 64];
    std::memcpy(spki, kSpkiPrefix, sizeof kSpkiPrefix);
    std::memcpy(spki + sizeof kSpkiPrefix, key.data(), key.size());
    const unsigned char* cursor = spki;
    Pkey pkey(d2i_PUBKEY(nullptr, &cursor, sizeof spki));
    if (!pkey) return false;  // not a point on the curve

    EcdsaSig sig(ECDSA_SIG_new());
    Bignum r(BN_bin2bn(signature.data(), 32, nullptr)), s(BN_bin2bn(signature.data() + 32, 32, nullptr));
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
    // The signature object owns both numbers now.
    (void)r.release();
    (void)s.release();
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    if (derLength <= 0) return false;
    std::unique_ptr<unsigned char, Deleter<FreeOpenSsl>> owned(der);

    PkeyContext context(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    return context && EVP_PKEY_verify_init(context.get()) == 1 &&
           EVP_PKEY_verify(context.get(), der, static_cast<std::size_t>(derLength), digest.data(), digest.size()) == 1;
}

P256KeyPair MakeP256KeyPair() {
    Pkey pkey(EVP_EC_gen("P-256"));
    if (!pkey) throw RunError("cannot make a P-256 key");
    Bio privateText(BIO_new(BIO_s_mem())), publicText(BIO_new(BIO_s_mem()));
    if (!privateText || !publicText ||
        PEM_write_bio_PrivateKey(privateText.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_PUBKEY(publicText.get(), pkey.get()) != 1)
        throw RunError("cannot write the key pair");
    return {BioText(privateText.get()), BioText(publicText.get())};
}

P256Signature SignP256(const std::string& privatePem, const Sha256Digest& digest) {
    Bio text(BIO_new_mem_buf(privatePem.data(), static_cast<int>(privatePem.size())));
    Pkey pkey(text ? PEM_read_bio_PrivateKey(text.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!pkey) throw RunError("not a private key in PEM form (or it is encrypted)");
    char group[64] = {};
    if (!EVP_PKEY_is_a(pkey.get(), "EC") || EVP_PKEY_get_group_name(pkey.get(), group, sizeof group, nullptr) != 1 ||
        (std::strcmp(group, "prime256v1") != 0 && std::strcmp(group, "P-256") != 0))
        throw RunError("not a P-256 (prime256v1) key");

    PkeyContext context(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    std::size_t derLength = 0;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_sign(context.get(), nullptr, &derLength, digest.data(), digest.size()) != 1)
        throw RunError("cannot sign");
    std::string der(derLength, '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    if (EVP_PKEY_sign(context.get(), out, &derLength, digest.data(), digest.size()) != 1) throw RunError("cannot sign");
    const unsigned char* cursor = out;
    EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derLength)));
    if (!sig) throw RunError("cannot sign");
    P256Signature signature{};
    if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature.data(), 32) != 32 ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature.data() + 32, 32) != 32)
        throw RunError("cannot sign");
    return signature;
}

}  // namespace qlr::crypto
