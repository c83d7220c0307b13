// The update list: which lines name a package, the cut, the choice of the
// highest name; and the addresses sent to the update server.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Platform.h"
#include "update/UpdateList.h"
#include "update/UpdateServer.h"

namespace qlr {
namespace {

TEST(UpdateListLine, CutTakesTheNameBeforeDotPakAndBlank) {
    struct Case {
        const char* line;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"QLR6-39.pak 2 MB", "QLR6-39"},
        {"File QLR6-40.pak (3 MB)", "QLR6-40"},
        {"QLR6-41.zip.pak x", "QLR6-41.zip"},
        {"QLR6-39.pak", ""},          // no blank at all
        {"QLR Update.pak 1 MB", ""},  // blank too early
        {"QLR6.pak x", "QLR6"},
        {"QLR.pak x", "QLR"},
        {"Foundation.pak 1 MB", std::nullopt},
        {"qlr6-39.pak 3 MB", std::nullopt},  // case-sensitive
        {"QLR6-39.PAK 3 MB", std::nullopt},
        {"x.pak QLR6-50 y", "QLR"},          // ".pak" before "QLR" still passes; p = 8
        {"QLR6-39.pak\t2 MB", "QLR6-39.p"},  // only a blank counts
        // A name is joined to a folder and an address: one that could lead elsewhere is no name.
        {"QLR\\..\\..\\..\\Windows\\evil.pak 1 MB", std::nullopt},
        {"QLR6-39\\evil.pak 1", std::nullopt},
        {"QLR/../../Windows/evil.pak 1", std::nullopt},
        {"QLR6-39:evil.pak 1", std::nullopt},
        {"QLRC:evil.pak 1", std::nullopt},
        {"QLR..x.pak 1", std::nullopt},
        {"QLR6-39\x01.pak 1", std::nullopt},
        {"QLR6-39\x7F.pak 1", std::nullopt},
        {"QLR6-39.1.pak 1", "QLR6-39.1"},  // single dots are part of a name
        {"QLR6-39\\.pak", ""},             // no blank: no name, nothing to check
    };
    for (const Case& c : cases) EXPECT_EQ(PackageNameFromLine(c.line), c.name) << c.line;
}

TEST(UpdateListLine, TailIsCutAt999Characters) {
    // A blank beyond the 999th character of the tail is not seen.
    std::string line = "QLR" + std::string(996, '9') + ".pak x";
    EXPECT_EQ(PackageNameFromLine(line), "");
    std::string fits = "QLR" + std::string(990, '9') + ".pak x";
    EXPECT_EQ(PackageNameFromLine(fits), "QLR" + std::string(990, '9'));
}

TEST(UpdateList, WorkedExampleChoosesTheHighest) {
    const UpdateOffer offer =
        ReadUpdateList("Packages\r\nQLR6-38.pak 3 MB\r\nQLR6-39.pak 3 MB\r\nQLR6-37.pak 2 MB\r\n");
    EXPECT_EQ(offer.names, (std::vector<std::string>{"QLR6-38", "QLR6-39", "QLR6-37"}));
    EXPECT_EQ(offer.best, "QLR6-39");
    EXPECT_EQ(offer.version, "6-39");
}

TEST(UpdateList, EveryLineEndReadsTheSame) {
    for (const char* end : {"\r\n", "\n", "\r"}) {
        const std::string text = std::string("QLR6-38.pak 3 MB") + end + "QLR6-40.pak 1 MB" + end + "QLR6-39.pak 2 MB";
        const UpdateOffer offer = ReadUpdateList(text);
        EXPECT_EQ(offer.names.size(), 3u);
        EXPECT_EQ(offer.best, "QLR6-40");
    }
}

TEST(UpdateList, OrdinalNotNumericComparison) {
    struct Case {
        const char* list;
        const char* best;
        const char* version;
    };
    const Case cases[] = {
        {"QLR6-39.pak a\nQLR6-40.pak b", "QLR6-40", "6-40"},
        {"QLR6-99.pak a\nQLR7-1.pak b", "QLR7-1", "7-1"},
        {"QLR6-39.pak a\nQLR6-9.pak b", "QLR6-9", "6-9"},
        {"QLR9-1.pak a\nQLR10-1.pak b", "QLR9-1", "9-1"},
        {"QLR6-39.pak a\nQLR6-39b.pak b", "QLR6-39b", "6-39b"},  // longer wins when one begins the other
        {"QLR6-39.pak a\nQLRa-1.pak b", "QLRa-1", "a-1"},
        {"QLR6-39.pak a\nQLR\xE9-1.pak b", "QLR\xE9-1", "\xE9-1"},  // unsigned bytes
        {"no packages here", "", ""},
        {"QLR Update.pak 1 MB", "", ""},
        {"x.pak QLR6-50 y", "QLR", ""},                                          // three characters give no version
        {"QLR6-39.pak a\nQLR\\..\\..\\Windows\\evil.pak b", "QLR6-39", "6-39"},  // '\\' sorts above '6'
        {"QLR\\..\\evil.pak a\nQLR:evil.pak b\nQLR/x.pak c", "", ""},
    };
    for (const Case& c : cases) {
        const UpdateOffer offer = ReadUpdateList(c.list);
        EXPECT_EQ(offer.best, c.best) << c.list;
        EXPECT_EQ(offer.version, c.version) << c.list;
    }
}

TEST(UpdateList, DuplicatesAndEmptyNamesAreListed) {
    const UpdateOffer offer =
        ReadUpdateList("QLR6-39.pak 1\nQLR6-39.pak 2\nQLR Update.pak 1 MB\nqlr6-50.pak 1\nQLR6-99\\..\\x.pak 1\n");
    EXPECT_EQ(offer.names, (std::vector<std::string>{"QLR6-39", "QLR6-39", ""}));
    EXPECT_EQ(offer.best, "QLR6-39");
}

TEST(UpdateList, LongLineIsExaminedWhole) {
    const UpdateOffer offer = ReadUpdateList("QLR6-39.pak 2 MB, uploaded on a Friday afternoon after testing\n");
    EXPECT_EQ(offer.names, std::vector<std::string>{"QLR6-39"});
}

// ---- addresses -------------------------------------------------------------

TEST(UpdateAddress, QueryValuesArriveAsTheSameText) {
    struct Case {
        const char* value;
        const char* encoded;
    };
    const Case cases[] = {
        {"Example School", "Example%20School"},
        {"A&B", "A%26B"},
        {"#1 = best?", "%231%20%3D%20best%3F"},
        {"AZaz09-._~", "AZaz09-._~"},
        {"100%", "100%25"},
        {"Caf\xE9+/", "Caf%E9%2B%2F"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(PercentEncode(c.value), c.encoded) << c.value;
    EXPECT_EQ(UpdateListUrl("http://h/q/", "A&B School", "x", "office"),
              "http://h/q/index.php?School=A%26B%20School&SMSID=x&USER=office");
}

class UpdateBase : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("QLR_UPDATE_BASE_URL")) saved_ = old;
    }
    void TearDown() override {
        if (saved_)
            setenv("QLR_UPDATE_BASE_URL", saved_->c_str(), 1);
        else
            unsetenv("QLR_UPDATE_BASE_URL");
    }
    std::optional<std::string> saved_;
};

TEST_F(UpdateBase, EnvironmentOverridesTheBuiltInAddress) {
    unsetenv("QLR_UPDATE_BASE_URL");
    EXPECT_EQ(UpdateBaseUrl(), QLR_UPDATE_BASE_URL);
    setenv("QLR_UPDATE_BASE_URL", "http://staging.example/qlr/", 1);
    EXPECT_EQ(UpdateBaseUrl(), "http://staging.example/qlr/");
    setenv("QLR_UPDATE_BASE_URL", "", 1);  // set but empty: as if unset
    EXPECT_EQ(UpdateBaseUrl(), QLR_UPDATE_BASE_URL);
}

TEST_F(UpdateBase, AddressWithoutFinalSlashIsRefused) {
    setenv("QLR_UPDATE_BASE_URL", "http://staging.example/qlr", 1);
    try {
        UpdateBaseUrl();
        FAIL() << "no exception";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "The update server address must end in \"/\": http://staging.example/qlr");
    }
}

}  // namespace
}  // namespace qlr
