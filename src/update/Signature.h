#pragma once
// Signed packages. A signed package is a package followed by a trailer that
// the package reader never reaches (bytes after the last entry are not read):
//
//   "QLRSIG01" | int32 name length N, 1..255 | name | signature, 64 bytes |
//   int32 trailer size (8 + 4 + N + 64 + 4 + 8) | "QLRSIG01"
//
// The signature is ECDSA P-256 (r then s, big-endian) over the SHA-256 of
// every byte before it, so the name is signed with the content: an old
// package served under a newer name is caught. Integers are little-endian.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace qlr {

inline constexpr std::string_view kSignatureMagic = "QLRSIG01";
inline constexpr std::int32_t kMaxSignedNameLength = 255;
// Signature, trailer size and closing magic: what follows the signed bytes.
inline constexpr std::int64_t kTrailerAfterSigned = 64 + 4 + 8;
inline constexpr std::int64_t kMaxTrailerSize = 8 + 4 + kMaxSignedNameLength + kTrailerAfterSigned;

struct SignatureTrailer {
    enum class Kind { None, Damaged, Present };
    Kind kind = Kind::None;
    std::string name;
    crypto::P256Signature signature{};
    std::int64_t size = 0;  // bytes of the trailer, when present
};

// Reads the trailer from the last bytes of a file (at least the last
// kMaxTrailerSize, or the whole file when shorter). None: the file does not
// end in the magic. Damaged: it does, but the trailer does not hold together.
SignatureTrailer ParseTrailer(std::string_view fileTail);
// The trailer of a file, read from its end; nullopt when that cannot be read.
std::optional<SignatureTrailer> ReadTrailer(FileStream& file);

// The trailer's bytes before the signature (signed with the package), and after it.
std::string TrailerSignedPart(const std::string& name);
std::string TrailerClosingPart(const crypto::P256Signature& signature, const std::string& name);

// A name a package can be signed under: 1 to 255 bytes, no path or control characters.
bool IsSignableName(std::string_view name);

// Every "-----BEGIN PUBLIC KEY-----" block of a PEM text, as P-256 points.
// Throws RunError naming the block that is not an uncompressed P-256 key.
std::vector<crypto::P256PublicKey> ParsePublicKeys(std::string_view pem);

// The outcome of checking a package's signature against a set of keys.
struct SignatureCheck {
    enum class Verdict { NotSigned, BadSignature, Good };
    Verdict verdict = Verdict::NotSigned;
    std::string name;     // the signed name, when Good
    std::size_t key = 0;  // which key verified it (from 0), when Good
};

// Hashes the file from its start through a bounded buffer; never holds it whole.
SignatureCheck CheckSignature(FileStream& file, const std::vector<crypto::P256PublicKey>& keys);

// Hashes the signed bytes of a package as its reader takes them, front to
// back, so that the check covers the very bytes that were read: one read of
// the file serves the unpack and the signature.
class SignedBytesReader final : public FileStream {
public:
    // file must hold a trailer of kind Present.
    SignedBytesReader(FileStream& file, SignatureTrailer trailer);
    FileRead Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void*, std::size_t) override { return 0; }
    bool Sync() override { return false; }
    std::int64_t Size() override { return file_.Size(); }
    std::int64_t Position() override { return position_; }
    bool Seek(std::int64_t position) override;
    // Hashes the signed bytes the reader has not taken and checks the signature.
    SignatureCheck Finish(const std::vector<crypto::P256PublicKey>& keys);

private:
    FileStream& file_;
    SignatureTrailer trailer_;
    std::unique_ptr<crypto::Sha256> hash_;
    std::int64_t signedLength_ = 0, hashed_ = 0, position_ = 0;
};

// The digest a signature over the file's first signedLength bytes covers;
// false when the file ends early or a read fails.
bool HashPrefix(FileStream& file, std::int64_t signedLength, crypto::Sha256& hash);

// The refusal reason for a package expected under expectedName ("not signed",
// "bad signature", "signed as NAME"); empty when it may be unpacked.
std::string RefusalReason(const SignatureCheck& check, const std::string& expectedName);

}  // namespace qlr
