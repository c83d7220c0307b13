#include <algorithm>
#include <vector>

#include "update/Signature.h"

namespace qlr {

bool HashPrefix(FileStream& file, std::int64_t signedLength, crypto::Sha256& hash) {
    if (!file.Seek(0)) return false;
    std::vector<char> buffer(std::size_t{64} * 1024);
    for (std::int64_t left = signedLength; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, std::int64_t(buffer.size())));
        const std::size_t got = file.Read(buffer.data(), want).count;
        if (got == 0) return false;
        hash.Update(buffer.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
    return true;
}

std::optional<SignatureTrailer> ReadTrailer(FileStream& file) {
    const std::int64_t size = file.Size();
    if (size < 0) return std::nullopt;
    std::string tail(static_cast<std::size_t>(std::min(size, kMaxTrailerSize)), '\0');
    if (!file.Seek(size - static_cast<std::int64_t>(tail.size()))) return std::nullopt;
    const FileRead read = file.Read(tail.data(), tail.size());
    if (read.failed || read.count != tail.size()) return std::nullopt;
    return ParseTrailer(tail);
}

namespace {

SignatureCheck Verify(const crypto::Sha256Digest& digest, const SignatureTrailer& trailer,
                      const std::vector<crypto::P256PublicKey>& keys) {
    SignatureCheck check;
    check.verdict = SignatureCheck::Verdict::BadSignature;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (crypto::VerifyP256(keys[i], digest, trailer.signature)) {
            check.verdict = SignatureCheck::Verdict::Good;
            check.name = trailer.name;
            check.key = i;
            break;
        }
    }
    return check;
}

}  // namespace

SignatureCheck CheckSignature(FileStream& file, const std::vector<crypto::P256PublicKey>& keys) {
    SignatureCheck check;
    const std::int64_t fileSize = file.Size();
    if (fileSize <= 0) return check;
    const std::optional<SignatureTrailer> read = ReadTrailer(file);
    if (!read) {
        check.verdict = SignatureCheck::Verdict::BadSignature;
        return check;
    }
    const SignatureTrailer& trailer = *read;
    if (trailer.kind == SignatureTrailer::Kind::None) return check;
    check.verdict = SignatureCheck::Verdict::BadSignature;
    if (trailer.kind == SignatureTrailer::Kind::Damaged) return check;

    auto hash = crypto::StartSha256();
    if (!HashPrefix(file, fileSize - kTrailerAfterSigned, *hash)) return check;
    return Verify(hash->Finish(), trailer, keys);
}

SignedBytesReader::SignedBytesReader(FileStream& file, SignatureTrailer trailer)
    : file_(file), trailer_(std::move(trailer)), hash_(crypto::StartSha256()) {
    signedLength_ = std::max<std::int64_t>(0, file_.Size() - kTrailerAfterSigned);
    position_ = file_.Position();
}

FileRead SignedBytesReader::Read(void* buffer, std::size_t count) {
    const FileRead read = file_.Read(buffer, count);
    // Only an unbroken run from the start is hashed; Finish reads whatever a seek skipped.
    if (position_ == hashed_ && hashed_ < signedLength_) {
        const auto take = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(read.count), signedLength_ - hashed_));
        hash_->Update(buffer, take);
        hashed_ += static_cast<std::int64_t>(take);
    }
    position_ += static_cast<std::int64_t>(read.count);
    return read;
}

bool SignedBytesReader::Seek(std::int64_t position) {
    if (!file_.Seek(position)) return false;
    position_ = position;
    return true;
}

SignatureCheck SignedBytesReader::Finish(const std::vector<crypto::P256PublicKey>& keys) {
    SignatureCheck bad;
    bad.verdict = SignatureCheck::Verdict::BadSignature;
    if (hashed_ < signedLength_) {
        std::vector<char> buffer(std::size_t{64} * 1024);
        if (!Seek(hashed_)) return bad;
        while (hashed_ < signedLength_) {
            const FileRead read = Read(buffer.data(), buffer.size());
            if (read.failed || read.count == 0) return bad;
        }
    }
    return Verify(hash_->Finish(), trailer_, keys);
}
}  // namespace qlr
