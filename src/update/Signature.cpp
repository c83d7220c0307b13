#include "update/Signature.h"

#include <array>
#include <cstring>

namespace qlr {

namespace {

std::int32_t Int32At(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<std::int32_t>(value);
}

void PutInt32(std::string& out, std::int64_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::int64_t TrailerSize(std::size_t nameLength) {
    return 8 + 4 + static_cast<std::int64_t>(nameLength) + kTrailerAfterSigned;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict base64 with optional padding; blanks and line breaks are skipped.
bool DecodeBase64(std::string_view text, std::string& out) {
    std::uint32_t bits = 0;
    int count = 0, padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || padding > 0) return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            out.push_back(static_cast<char>(bits >> 16));
            out.push_back(static_cast<char>(bits >> 8));
            out.push_back(static_cast<char>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2) return false;
    if (count == 2) out.push_back(static_cast<char>(bits >> 4));
    if (count == 3) {
        out.push_back(static_cast<char>(bits >> 10));
        out.push_back(static_cast<char>(bits >> 2));
    }
    return true;
}

// The SubjectPublicKeyInfo of a P-256 key up to its uncompressed point, which
// follows as 0x04, X, Y: the only layout such a key has.
constexpr unsigned char kP256SpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

}  // namespace

SignatureTrailer ParseTrailer(std::string_view tail) {
    SignatureTrailer trailer;
    if (tail.size() < 12 || tail.substr(tail.size() - 8) != kSignatureMagic) return trailer;
    trailer.kind = SignatureTrailer::Kind::Damaged;
    const std::int64_t size = Int32At(tail, tail.size() - 12);
    if (size < TrailerSize(1) || size > kMaxTrailerSize || size > static_cast<std::int64_t>(tail.size()))
        return trailer;
    const std::string_view body = tail.substr(tail.size() - static_cast<std::size_t>(size));
    if (body.substr(0, 8) != kSignatureMagic) return trailer;
    const std::int32_t nameLength = Int32At(body, 8);
    if (nameLength < 1 || nameLength > kMaxSignedNameLength || TrailerSize(nameLength) != size) return trailer;
    trailer.kind = SignatureTrailer::Kind::Present;
    trailer.size = size;
    trailer.name = std::string(body.substr(12, static_cast<std::size_t>(nameLength)));
    std::memcpy(trailer.signature.data(), body.data() + 12 + nameLength, trailer.signature.size());
    return trailer;
}

std::string TrailerSignedPart(const std::string& name) {
    std::string out(kSignatureMagic);
    PutInt32(out, static_cast<std::int64_t>(name.size()));
    return out + name;
}

std::string TrailerClosingPart(const crypto::P256Signature& signature, const std::string& name) {
    std::string out(reinterpret_cast<const char*>(signature.data()), signature.size());
    PutInt32(out, TrailerSize(name.size()));
    out += kSignatureMagic;
    return out;
}

bool IsSignableName(std::string_view name) {
    if (name.empty() || name.size() > static_cast<std::size_t>(kMaxSignedNameLength)) return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '\\' || c == '/' || c == ':') return false;
    }
    return name != "." && name != "..";
}

std::vector<crypto::P256PublicKey> ParsePublicKeys(std::string_view pem) {
    constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----", kEnd = "-----END PUBLIC KEY-----";
    std::vector<crypto::P256PublicKey> keys;
    for (std::size_t at = pem.find(kBegin); at != std::string_view::npos; at = pem.find(kBegin, at)) {
        const std::string which = "public key " + std::to_string(keys.size() + 1);
        const std::size_t body = at + kBegin.size();
        const std::size_t end = pem.find(kEnd, body);
        if (end == std::string_view::npos) throw RunError(which + " has no END line");
        std::string der;
        if (!DecodeBase64(pem.substr(body, end - body), der)) throw RunError(which + " is not valid base64");
        if (der.size() != sizeof kP256SpkiPrefix + 64 ||
            std::memcmp(der.data(), kP256SpkiPrefix, sizeof kP256SpkiPrefix) != 0)
            throw RunError(which + " is not an uncompressed P-256 (prime256v1) key");
        crypto::P256PublicKey key{};
        std::memcpy(key.data(), der.data() + sizeof kP256SpkiPrefix, key.size());
        keys.push_back(key);
        at = end + kEnd.size();
    }
    return keys;
}

std::string RefusalReason(const SignatureCheck& check, const std::string& expectedName) {
    switch (check.verdict) {
        case SignatureCheck::Verdict::NotSigned: return "not signed";
        case SignatureCheck::Verdict::BadSignature: return "bad signature";
        case SignatureCheck::Verdict::Good: break;
    }
    return check.name == expectedName ? std::string() : "signed as " + check.name;
}

}  // namespace qlr
