// Signatures on Windows: the system's CNG (bcrypt.dll, from the system folder). Only calls present
// on every supported Windows: BCryptHash itself is newer, so hashes are made
// with BCryptCreateHash / BCryptHashData.

#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Handles.h"
#include "platform/win32/SystemDlls.h"

namespace qlr::crypto {

namespace {

using win32::UniqueCngAlgorithm;
using win32::UniqueCngHash;
using win32::UniqueCngKey;
namespace bcrypt = win32::bcrypt;

bool Succeeded(NTSTATUS status) { return status >= 0; }

UniqueCngAlgorithm OpenAlgorithm(LPCWSTR name) {
    UniqueCngAlgorithm algorithm;
    if (!Succeeded(bcrypt::BCryptOpenAlgorithmProvider(algorithm.put(), name, nullptr, 0))) algorithm.reset();
    return algorithm;
}

class CngSha256 final : public Sha256 {
public:
    CngSha256() : algorithm_(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
        DWORD objectLength = 0, written = 0;
        if (!algorithm_ || !Succeeded(bcrypt::BCryptGetProperty(algorithm_.get(), BCRYPT_OBJECT_LENGTH,
                                                                reinterpret_cast<PUCHAR>(&objectLength),
                                                                sizeof objectLength, &written, 0)))
            throw RunError("SHA-256 is not available");
        // Older systems want the caller to hold the hash object's memory.
        object_.resize(objectLength);
        if (!Succeeded(bcrypt::BCryptCreateHash(algorithm_.get(), hash_.put(), object_.data(),
                                                static_cast<ULONG>(object_.size()), nullptr, 0, 0)))
            throw RunError("SHA-256 is not available");
    }
    void Update(const void* data, std::size_t count) override {
        auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
        while (count > 0) {
            const ULONG piece = static_cast<ULONG>(count > 0x40000000u ? 0x40000000u : count);
            if (!Succeeded(bcrypt::BCryptHashData(hash_.get(), bytes, piece, 0))) throw RunError("SHA-256 failed");
            bytes += piece;
            count -= piece;
        }
    }
    Sha256Digest Finish() override {
        Sha256Digest digest{};
        if (!Succeeded(bcrypt::BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
            throw RunError("SHA-256 failed");
        return digest;
    }

private:
    UniqueCngAlgorithm algorithm_;
    std::vector<UCHAR> object_;  // declared before hash_: outlives it
    UniqueCngHash hash_;
};

}  // namespace

std::unique_ptr<Sha256> StartSha256() { return std::make_unique<CngSha256>(); }

bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) {
    UniqueCngAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm) return false;
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, key.data(), key.size());
    UniqueCngKey publicKey;
    if (!Succeeded(bcrypt::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, publicKey.put(), blob,
                                               sizeof blob, 0)))
        return false;
    Sha256Digest hash = digest;
    P256Signature rs = signature;
    return bcrypt::BCryptVerifySignature(publicKey.get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                                         rs.data(), static_cast<ULONG>(rs.size()), 0) == 0;
}

// Keys are made and packages signed on the maker's Linux machine.
P256KeyPair MakeP256KeyPair() { throw RunError("making keys needs the Linux build of the tools (OpenSSL)"); }

P256Signature SignP256(const std::string&, const Sha256Digest&) {
    throw RunError("signing needs the Linux build of the tools (OpenSSL)");
}

}  // namespace qlr::crypto
