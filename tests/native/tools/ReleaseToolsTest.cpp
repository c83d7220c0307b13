// The release tools: qlrpak writes packages the program reads back and
// catches damage; qlr-server serves the list and the packages and logs
// every check-in.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <filesystem>

#include "app/main.h"
#include "native/support/ScriptedPlatform.h"
#include "platform/sandbox/CurlHttp.h"
#include "update/Signature.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

class Qlrpak : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qlrpak-test-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Local(const std::string& name, const std::string& content) {
        fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    Outcome Pak(const std::string& arguments) {
        return Shell(Quoted(BuiltProgram("qlrpak").string()) + " " + arguments);
    }
    std::string Pakfile() const { return Quoted((dir / "out.pak").string()); }

    fs::path dir;
};

TEST_F(Qlrpak, RoundTripThroughListVerifyExtractAndTheProgram) {
    const std::string program = Incompressible(100000, 21);
    const std::string notes = std::string(5000, 'n');
    const fs::path a = Local("a.bin", program), b = Local("notes.txt", notes);
    Outcome created = Pak("create " + Pakfile() + " " + Quoted("C:\\TSLData\\QLR\\QLR6-39.exe=" + a.string()) + " " +
                          Quoted("C:\\Temp\\QLR\\docs\\notes.txt=" + b.string()));
    ASSERT_EQ(created.status, 0) << created.output;

    Outcome listed = Pak("list " + Pakfile());
    ASSERT_EQ(listed.status, 0) << listed.output;
    std::vector<std::string> lines;
    std::stringstream text(listed.output);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << listed.output;
    EXPECT_EQ(lines[0], "2 files");
    EXPECT_EQ(lines[1].substr(0, 7), "100000\t");
    EXPECT_EQ(lines[1].substr(lines[1].rfind('\t')), "\tC:\\TSLData\\QLR\\QLR6-39.exe");
    EXPECT_EQ(lines[2].substr(lines[2].rfind('\t')), "\tC:\\Temp\\QLR\\docs\\notes.txt");
    // The compressed sizes account for every byte of the package.
    const std::uintmax_t compressedA = std::stoull(lines[1].substr(7)), compressedB = std::stoull(lines[2].substr(5));
    EXPECT_EQ(fs::file_size(dir / "out.pak"), 4 + (8 + 26 + compressedA) + (8 + 26 + compressedB));

    EXPECT_EQ(Pak("verify " + Pakfile()).status, 0);

    Outcome extracted = Pak("extract " + Pakfile() + " --to " + Quoted((dir / "root").string()));
    ASSERT_EQ(extracted.status, 0) << extracted.output;
    EXPECT_EQ(FileBytes(dir / "root" / "drive_c" / "TSLData" / "QLR" / "QLR6-39.exe"), program);
    EXPECT_EQ(FileBytes(dir / "root" / "drive_c" / "Temp" / "QLR" / "docs" / "notes.txt"), notes);

    // The program itself unpacks what the tool made.
    SandboxMachine machine;
    machine.MakeFolders("C:\\TSLData\\QLR");
    machine.MakeFolders("C:\\Temp\\QLR");
    fs::copy_file(dir / "out.pak", machine.Host("C:\\Temp\\QLR\\QLR6-39.pak"));
    TForm1 form(machine.platform());
    form.ProgramStarted = true;
    form.ExpectedFiles = 20;
    machine.MakeFolders("C:\\Temp\\QLR\\docs");
    EXPECT_TRUE(form.UnpackPackage("C:\\Temp\\QLR\\QLR6-39.pak"));
    EXPECT_EQ(machine.Read("C:\\TSLData\\QLR\\QLR6-39.exe"), program);
    EXPECT_EQ(machine.Read("C:\\Temp\\QLR\\docs\\notes.txt"), notes);
}

TEST_F(Qlrpak, TinyPackageIsPaddedPastTheServerMessageSize) {
    ASSERT_EQ(Pak("create " + Pakfile() + " " + Quoted("C:\\x.txt=" + Local("x", "x").string())).status, 0);
    EXPECT_EQ(fs::file_size(dir / "out.pak"), 501u);
    EXPECT_EQ(Pak("verify " + Pakfile()).status, 0);
}

TEST_F(Qlrpak, VerifyCatchesAFlippedByte) {
    const fs::path a = Local("a.bin", Incompressible(3000, 22));
    ASSERT_EQ(Pak("create " + Pakfile() + " " + Quoted("C:\\a.bin=" + a.string())).status, 0);
    const std::string good = FileBytes(dir / "out.pak");
    // Header bytes of the stream, its data and its checksum.
    for (std::size_t at : {std::size_t{4 + 4 + 8 + 4}, std::size_t{200}, std::size_t{1500}, good.size() - 1}) {
        std::string bad = good;
        bad[at] ^= 0x20;
        std::ofstream(dir / "out.pak", std::ios::binary | std::ios::trunc) << bad;
        Outcome verified = Pak("verify " + Pakfile());
        EXPECT_EQ(verified.status, 1) << "byte " << at;
        EXPECT_NE(verified.output.find("entry 1 (C:\\a.bin)"), std::string::npos) << verified.output;
    }
}

TEST_F(Qlrpak, CreateRefusesWhatTheProgramCannotReadBack) {
    const fs::path one = Local("one", "1");
    const fs::path empty = Local("empty", "");
    std::string many;
    for (int i = 0; i < 101; ++i) many += " " + Quoted("C:\\f" + std::to_string(i) + "=" + one.string());
    struct Case {
        const char* what;
        std::string arguments;
        int status;
    };
    const Case cases[] = {
        {"101 entries", many, 2},
        {"empty file", " " + Quoted("C:\\e=" + empty.string()), 2},
        {"empty name", " " + Quoted("=" + one.string()), 2},
        {"no name", " " + Quoted(one.string()), 2},
        {"missing file", " " + Quoted("C:\\m=" + (dir / "missing").string()), 1},
        {"a path the program refuses", " " + Quoted("D:\\x.txt=" + one.string()), 1},
    };
    Local("out.pak", "an earlier package");
    for (const Case& c : cases) {
        Outcome outcome = Pak("create " + Pakfile() + c.arguments);
        EXPECT_EQ(outcome.status, c.status) << c.what << ": " << outcome.output;
        EXPECT_EQ(FileBytes(dir / "out.pak"), "an earlier package") << c.what;
        EXPECT_FALSE(fs::exists(dir / "out.pak.part")) << c.what;
    }
    EXPECT_EQ(Pak("").status, 2);
    EXPECT_EQ(Pak("--help").status, 0);
}

TEST_F(Qlrpak, ExtractNeverWritesOutsideTheFolder) {
    for (const char* name :
         {"..\\escaped.txt", "C:\\x\\..\\..\\escaped.txt", "C:escaped.txt", "a\\\\b.txt", "C:\\x\\file.txt:stream"}) {
        std::ofstream(dir / "bad.pak", std::ios::binary | std::ios::trunc) << Padded(PackageBytes({{name, "data"}}));
        Outcome outcome =
            Pak("extract " + Quoted((dir / "bad.pak").string()) + " --to " + Quoted((dir / "root").string()));
        EXPECT_EQ(outcome.status, 1) << name;
        EXPECT_FALSE(fs::exists(dir / "escaped.txt")) << name;
    }
    std::ofstream(dir / "message.pak", std::ios::binary) << "Not Found";
    Outcome outcome = Pak("list " + Quoted((dir / "message.pak").string()));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.output.find("not a package"), std::string::npos) << outcome.output;
}

// ---- signatures ----------------------------------------------------------------

TEST_F(Qlrpak, SignAndVerifyNameTheKeyAndTheNameAndResigningReplacesTheTrailer) {
    const std::string mine = Quoted((dir / "mine.pem").string()), minePublic = Quoted((dir / "mine.pub").string());
    ASSERT_EQ(Pak("keygen " + mine + " " + minePublic).status, 0);
    EXPECT_EQ(fs::status(dir / "mine.pem").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string privateKey = FileBytes(dir / "mine.pem");
    EXPECT_EQ(Pak("keygen " + mine + " " + Quoted((dir / "other.pub").string())).status, 1);  // never replaced
    EXPECT_EQ(FileBytes(dir / "mine.pem"), privateKey);
    // Both keys in one file, as during a key rotation.
    std::ofstream(dir / "keys.pem") << FileBytes(TestKey("test-release-public.pem")) << FileBytes(dir / "mine.pub");
    const std::string keys = Quoted((dir / "keys.pem").string());

    const std::string package = Quoted((dir / "QLR6-39.pak").string());
    const fs::path a = Local("a.bin", Incompressible(3000, 23));
    Outcome created = Pak("create " + package + " --sign " + mine + " " + Quoted("C:\\a.bin=" + a.string()));
    ASSERT_EQ(created.status, 0) << created.output;
    Outcome verified = Pak("verify " + package + " --key " + keys);
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_NE(verified.output.find("signature: good, signed as QLR6-39 with key 2 of"), std::string::npos)
        << verified.output;
    const auto signedSize = fs::file_size(dir / "QLR6-39.pak");

    Outcome resigned =
        Pak("sign " + package + " --key " + Quoted(TestKey("test-release-private.pem").string()) + " --name QLR6-20");
    ASSERT_EQ(resigned.status, 0) << resigned.output;
    EXPECT_EQ(fs::file_size(dir / "QLR6-39.pak"), signedSize);  // one trailer, not two
    verified = Pak("verify " + package + " --key " + keys);
    EXPECT_NE(verified.output.find("signed as QLR6-20 with key 1 of"), std::string::npos) << verified.output;
    EXPECT_NE(verified.output.find("note: served as QLR6-39.pak it is refused (signed as QLR6-20)"), std::string::npos)
        << verified.output;
    verified = Pak("verify " + package);
    EXPECT_EQ(verified.status, 0);
    EXPECT_NE(verified.output.find("signed as QLR6-20 (not checked"), std::string::npos) << verified.output;

    // Refusals: another key, damage after signing, no signature.
    verified = Pak("verify " + package + " --key " + minePublic);
    EXPECT_EQ(verified.status, 1);
    EXPECT_NE(verified.output.find("signature: BAD"), std::string::npos) << verified.output;
    std::string bytes = FileBytes(dir / "QLR6-39.pak");
    bytes[bytes.size() - 20] ^= 0x40;
    std::ofstream(dir / "QLR6-39.pak", std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(Pak("verify " + package + " --key " + keys).status, 1);
    ASSERT_EQ(Pak("create " + Pakfile() + " " + Quoted("C:\\a.bin=" + a.string())).status, 0);
    verified = Pak("verify " + Pakfile() + " --key " + keys);
    EXPECT_EQ(verified.status, 1);
    EXPECT_NE(verified.output.find("signature: none (not signed)"), std::string::npos) << verified.output;
    EXPECT_EQ(Pak("verify " + Pakfile()).status, 0);

    // What can never be unpacked is not signed.
    std::ofstream(dir / "message.pak", std::ios::binary) << "Not Found";
    EXPECT_EQ(Pak("sign " + Quoted((dir / "message.pak").string()) + " --key " + mine).status, 1);
    EXPECT_EQ(FileBytes(dir / "message.pak"), "Not Found");
    EXPECT_EQ(Pak("sign " + Pakfile() + " --key " + mine + " --name " + Quoted("..\\QLR6-39")).status, 2);
    EXPECT_EQ(Pak("sign " + Pakfile()).status, 2);
}

// A trailer that does not hold together is a bad signature, never "not signed":
// the end of the file says one was meant to be there.
TEST(SignatureTrailer, ReadsOnlyATrailerThatHoldsTogether) {
    const std::string good = SignedPackage(std::string(600, 'p'), "QLR6-39");
    auto withInt32At = [](std::string bytes, std::size_t fromEnd, std::int32_t value) {
        std::string field;
        PutInt32(field, value);
        bytes.replace(bytes.size() - fromEnd, 4, field);
        return bytes;
    };
    const std::size_t nameLengthFromEnd = 12 + 64 + 7 + 4;  // size and magic, signature, name, the length itself
    struct Case {
        const char* what;
        std::string bytes;
        SignatureTrailer::Kind kind;
    };
    const Case cases[] = {
        {"signed", good, SignatureTrailer::Kind::Present},
        {"plain package", std::string(600, 'p'), SignatureTrailer::Kind::None},
        {"closing magic alone", "QLRSIG01", SignatureTrailer::Kind::None},
        {"trailer alone", good.substr(600), SignatureTrailer::Kind::Present},
        {"trailer size too small", withInt32At(good, 12, 88), SignatureTrailer::Kind::Damaged},
        {"trailer size past the file", withInt32At(good.substr(600), 12, 200), SignatureTrailer::Kind::Damaged},
        {"trailer size beyond the trailer", withInt32At(good, 12, 343), SignatureTrailer::Kind::Damaged},
        {"trailer size off by one", withInt32At(good, 12, 96), SignatureTrailer::Kind::Damaged},
        {"name length 0", withInt32At(good, nameLengthFromEnd, 0), SignatureTrailer::Kind::Damaged},
        {"name length 256", withInt32At(good, nameLengthFromEnd, 256), SignatureTrailer::Kind::Damaged},
        {"opening magic damaged", withInt32At(good, nameLengthFromEnd + 8, 0), SignatureTrailer::Kind::Damaged},
    };
    for (const Case& c : cases) {
        const SignatureTrailer trailer = ParseTrailer(c.bytes);
        EXPECT_EQ(trailer.kind, c.kind) << c.what;
        if (c.kind == SignatureTrailer::Kind::Present) {
            EXPECT_EQ(trailer.name, "QLR6-39");
            EXPECT_EQ(trailer.size, 8 + 4 + 7 + 64 + 4 + 8);
        }
    }
    // What a keyed build logs for each.
    EXPECT_EQ(RefusalReason({SignatureCheck::Verdict::NotSigned, "", 0}, "QLR6-39"), "not signed");
    EXPECT_EQ(RefusalReason({SignatureCheck::Verdict::BadSignature, "", 0}, "QLR6-39"), "bad signature");
    EXPECT_EQ(RefusalReason({SignatureCheck::Verdict::Good, "QLR6-39", 1}, "QLR6-39"), "");
    EXPECT_EQ(RefusalReason({SignatureCheck::Verdict::Good, "qlr6-39", 0}, "QLR6-39"), "signed as qlr6-39");
}

// r || s from the DER signature the openssl command line writes: SEQUENCE { INTEGER r, INTEGER s }.
std::string RawSignature(const std::string& der) {
    std::string raw;
    std::size_t at = 2;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(der.at(at), 0x02);
        const auto length = static_cast<unsigned char>(der.at(at + 1));
        std::string value = der.substr(at + 2, length);
        while (value.size() > 32 && value[0] == '\0') value.erase(0, 1);
        raw += std::string(32 - value.size(), '\0') + value;
        at += 2 + length;
    }
    return raw;
}

// The trailer's layout is all there is: one made with openssl alone is accepted.
TEST_F(Qlrpak, PackageSignedWithTheOpensslCommandLineIsTrustedByTheProgram) {
    ASSERT_EQ(Pak("create " + Pakfile() + " " +
                  Quoted("C:\\TSLData\\QLR\\QLR6-39.exe=" + Local("a.bin", Incompressible(2000, 24)).string()))
                  .status,
              0);
    std::string head = "QLRSIG01";
    PutInt32(head, 7);
    head += "QLR6-39";
    const std::string covered = FileBytes(dir / "out.pak") + head;
    Local("covered", covered);
    Outcome signature = Shell("openssl dgst -sha256 -sign " + Quoted(TestKey("test-release-private.pem").string()) +
                              " -out " + Quoted((dir / "sig.der").string()) + " " + Quoted((dir / "covered").string()));
    ASSERT_EQ(signature.status, 0) << signature.output;
    std::string package = covered + RawSignature(FileBytes(dir / "sig.der"));
    PutInt32(package, 8 + 4 + 7 + 64 + 4 + 8);
    package += "QLRSIG01";

    SandboxMachine machine;
    machine.Write("C:\\Temp\\QLR\\QLR6-39.pak", package);
    machine.MakeFolders("C:\\TSLData\\QLR");
    TForm1 form(machine.platform());
    form.ReleaseKeys = ParsePublicKeys(FileBytes(TestKey("test-release-public.pem")));
    EXPECT_TRUE(form.UnpackPackage("C:\\Temp\\QLR\\QLR6-39.pak"));
    EXPECT_TRUE(machine.Exists("C:\\TSLData\\QLR\\QLR6-39.exe"));
    // The same package under another name is refused and deleted.
    machine.Write("C:\\Temp\\QLR\\QLR6-40.pak", package);
    EXPECT_FALSE(form.UnpackPackage("C:\\Temp\\QLR\\QLR6-40.pak"));
    EXPECT_TRUE(form.Memo3.Text().ends_with("\r\nPackage refused: QLR6-40.pak (signed as QLR6-39)"))
        << form.Memo3.Text();
    EXPECT_FALSE(machine.Exists("C:\\Temp\\QLR\\QLR6-40.pak"));
}

// ---- qlr-server --------------------------------------------------------------

TEST(QlrServer, ListsThePackagesByNameWithTheirSizes) {
    PackageServer server;
    server.Put("QLR6-39.pak", std::string(1234, 'b'));
    server.Put("Foundation.pak", std::string(600, 'f'));
    server.Put("QLR6-38.pak", std::string(99, 'a'));
    server.Put("readme.txt", "not a package");
    const std::string list = server.BaseUrl() + "index.php?School=x&SMSID=x&USER=office";
    EXPECT_EQ(Get(list), "Foundation.pak 600\r\nQLR6-38.pak 99\r\nQLR6-39.pak 1234\r\n");
    // A package still being copied in is offered once it is whole.
    {
        std::ofstream copying(server.Folder() / "updates" / "QLR6-40.pak", std::ios::binary);
        copying << std::string(500, 'c') << std::flush;
        EXPECT_EQ(Get(list), "Foundation.pak 600\r\nQLR6-38.pak 99\r\nQLR6-39.pak 1234\r\n");
    }
    EXPECT_EQ(Get(list), "Foundation.pak 600\r\nQLR6-38.pak 99\r\nQLR6-39.pak 1234\r\nQLR6-40.pak 500\r\n");
}

TEST(QlrServer, ServesPackagesAndNothingElse) {
    PackageServer server;
    const std::string package = Incompressible(3 * 1024 * 1024 + 17, 30);
    server.Put("QLR6-39.pak", package);
    EXPECT_EQ(Get(server.BaseUrl() + "updates/QLR6-39.pak"), package);
    server.Put("readme.txt", "not a package");
    for (const char* path :
         {"updates/QLR6-40.pak", "updates/..%2Fcheckins.log", "updates/%2E%2E/checkins.log", "updates/",
          "updates/readme.txt", "checkins.log", "index.html", "rollout.txt", "published/index-00.txt"}) {
        EXPECT_NE(Get(server.BaseUrl() + path).find("404 Not Found"), std::string::npos) << path;
    }
}

TEST(QlrServer, LogsEachCheckInDecodedOnOneLine) {
    PackageServer server;
    Get(server.BaseUrl() + "index.php?School=A%26B%20School&SMSID=id%0Aforged&USER=office");
    Get(server.BaseUrl() + "index.php?School=Second&SMSID=2&USER=bob");
    const std::vector<std::string> lines = [&] {
        std::vector<std::string> all;
        std::stringstream text(server.CheckIns(2));
        for (std::string line; std::getline(text, line);) all.push_back(line);
        return all;
    }();
    ASSERT_EQ(lines.size(), 2u) << server.CheckIns();
    EXPECT_NE(lines[0].find("\t127.0.0.1\tSchool=A&B School\tSMSID=id\\x0Aforged\tUSER=office"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("\tSchool=Second\tSMSID=2\tUSER=bob"), std::string::npos) << lines[1];
}

// The port number of a base address "http://HOST:PORT/".
std::string PortOf(const std::string& base) {
    const auto colon = base.rfind(':');
    return base.substr(colon + 1, base.size() - colon - 2);
}

TEST(QlrServer, RefusesToStartWhenItsPortIsTaken) {
    PackageServer first;
    Outcome second = Shell("timeout 20 " + Quoted(BuiltProgram("qlr-server").string()) + " --root " +
                           Quoted(first.Folder().string()) + " --port " + PortOf(first.BaseUrl()));
    EXPECT_EQ(second.status, 1) << second.output;
    EXPECT_NE(second.output.find("cannot listen on 127.0.0.1:" + PortOf(first.BaseUrl()) +
                                 ": the port is already in use"),
              std::string::npos)
        << second.output;
    EXPECT_EQ(Get(first.BaseUrl() + "index.php?School=x&SMSID=x&USER=a"), "");  // the first one still answers
}

// Clients that connect and send their headers a byte at a time, or nothing.
class SlowClients {
public:
    SlowClients(int port, int count) {
        for (int i = 0; i < count; ++i) {
            int sock = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                throw std::runtime_error("cannot connect");
            const std::string start = "GET /index.php?School=slow HTTP/1.1\r\n";
            if (i % 2 == 0) send(sock, start.data(), start.size(), MSG_NOSIGNAL);
            sockets_.push_back(sock);
        }
        trickle_ = std::thread([this] {
            while (!stop_) {
                for (std::size_t i = 0; i < sockets_.size(); i += 2) send(sockets_[i], "X", 1, MSG_NOSIGNAL);
                for (int t = 0; t < 10 && !stop_; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    ~SlowClients() {
        stop_ = true;
        trickle_.join();
        for (int sock : sockets_) close(sock);
    }
    // How many the server has closed.
    int Dropped() const {
        int dropped = 0;
        for (int sock : sockets_) {
            char buffer[256];
            ssize_t n;
            while ((n = recv(sock, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            }
            dropped += n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        }
        return dropped;
    }

private:
    std::vector<int> sockets_;
    std::atomic<bool> stop_{false};
    std::thread trickle_;
};

TEST(QlrServer, SlowClientsNeitherDelayAListNorStayForever) {
    PackageServer server;
    server.Put("QLR6-39.pak", std::string(700, 'p'));
    // More than any pool of threads a server would keep, one per connection.
    constexpr int kSlow = 400;
    SlowClients slow(std::stoi(PortOf(server.BaseUrl())), kSlow);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(server.BaseUrl() + "index.php?School=x&SMSID=x&USER=a"), "QLR6-39.pak 700\r\n");
    // The goal is well under a second; the bound leaves room for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    // Headers that take longer than a few seconds, and idle connections, are dropped.
    int dropped = 0;
    for (int i = 0; i < 150 && (dropped = slow.Dropped()) < kSlow; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(dropped, kSlow);
}

// What a client sends, as raw bytes, and the status lines it gets back until the server closes.
std::vector<std::string> Exchange(int port, const std::string& sent, std::string& received) {
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    received.clear();
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(sock, sent.data(), sent.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(sent.size())) {
        timeval wait{20, 0};  // far beyond the server's own limits
        setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[4096];
        for (ssize_t n; (n = recv(sock, buffer, sizeof buffer, 0)) > 0;) received.append(buffer, n);
    }
    close(sock);
    std::vector<std::string> statuses;
    for (auto at = received.find("HTTP/1.1 "); at != std::string::npos; at = received.find("\r\nHTTP/1.1 ", at + 1))
        statuses.push_back(
            received.substr(at + (at == 0 ? 0 : 2), received.find('\r', at + 2) - at - (at == 0 ? 0 : 2)));
    return statuses;
}

TEST(QlrServer, AnswersEachRequestOfAConnectionAndRefusesWhatItCannotServe) {
    PackageServer server;
    server.Put("QLR6-39.pak", "abcdefgh");
    const int port = std::stoi(PortOf(server.BaseUrl()));
    const std::string list = "GET /index.php?School=x&SMSID=x&USER=a HTTP/1.1\r\nHost: a\r\n";
    struct Case {
        const char* what;
        std::string sent;
        std::vector<std::string> statuses;
        std::string ending;  // of all that came back
    };
    const Case cases[] = {
        {"two at once, the second closing",
         list + "\r\n" + list + "Connection: close\r\n\r\n",
         {"HTTP/1.1 200 OK", "HTTP/1.1 200 OK"},
         "Connection: close\r\n\r\nQLR6-39.pak 8\r\n"},
        {"HTTP/1.0 closes",
         "GET /updates/QLR6-39.pak HTTP/1.0\r\nRange: bytes=2-4\r\n\r\n",
         {"HTTP/1.1 206 Partial Content"},
         "Connection: close\r\n\r\ncde"},
        {"headers only",
         "HEAD /updates/QLR6-39.pak HTTP/1.1\r\nConnection: close\r\n\r\n",
         {"HTTP/1.1 200 OK"},
         "Content-Length: 8\r\nConnection: close\r\n\r\n"},
        {"a body", "POST /index.php HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", {"HTTP/1.1 405 Method Not Allowed"}, ""},
        {"a body with GET",
         "GET /index.php HTTP/1.1\r\nContent-Length: 3\r\n\r\nGET",
         {"HTTP/1.1 400 Bad Request"},
         ""},
        {"not HTTP", "HELLO\r\n\r\n", {"HTTP/1.1 400 Bad Request"}, ""},
        {"HTTP/2", "GET /index.php HTTP/2.0\r\n\r\n", {"HTTP/1.1 505 HTTP Version Not Supported"}, ""},
        {"folded header", list + " folded\r\n\r\n", {"HTTP/1.1 400 Bad Request"}, ""},
        {"headers beyond 16 KiB",
         list + "X: " + std::string(17000, 'x') + "\r\n\r\n",
         {"HTTP/1.1 431 Request Header Fields Too Large"},
         ""},
    };
    for (const Case& c : cases) {
        std::string received;
        EXPECT_EQ(Exchange(port, c.sent, received), c.statuses) << c.what << "\n" << received;
        EXPECT_TRUE(received.ends_with(c.ending)) << c.what << "\n" << received;
    }
    // A HEAD downloads nothing: only the two lists and the range are logged before the last list.
    Get(server.BaseUrl() + "index.php?School=last&SMSID=x&USER=a");
    const std::string log = server.Log(4);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
    EXPECT_NE(log.find("\tSchool=last\t"), std::string::npos) << log;
    EXPECT_NE(log.find("\tPackage=QLR6-39.pak\tStatus=206\tBytes=3\tComplete=OK\n"), std::string::npos) << log;
}

TEST(QlrServer, StopsCleanlyOnSignalsWithEveryCheckInLogged) {
    for (int signal : {SIGINT, SIGTERM}) {
        std::string pattern = (fs::temp_directory_path() / "qlr-server-stop-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        const fs::path output = fs::path(pattern) / "output.txt";
        const std::string root = pattern;
        const std::string program = BuiltProgram("qlr-server").string();
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--root"),
                        const_cast<char*>(root.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 500 && FileBytes(output).find("listening on http://127.0.0.1:") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string out = FileBytes(output);
        const auto url = out.find("http://");
        ASSERT_NE(url, std::string::npos) << out;
        Get(out.substr(url, out.find('\n', url) - url) + "index.php?School=last&SMSID=x&USER=a");
        kill(pid, signal);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 500 && !(ended = waitpid(pid, &status, WNOHANG) == pid); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!ended || !WIFEXITED(status)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "did not stop on signal " << signal;
        }
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_NE(FileBytes(fs::path(root) / "checkins.log").find("\tSchool=last\t"), std::string::npos);
        fs::remove_all(root);
    }
    EXPECT_EQ(Shell(Quoted(BuiltProgram("qlr-server").string()) + " --help").status, 0);
    EXPECT_EQ(Shell(Quoted(BuiltProgram("qlr-server").string()) + " --port 80").status, 2);  // no --root
}

}  // namespace
}  // namespace qlr::testing
