// The bar as a run moves it: each download or unpack starts from where the
// bar stands and adds its own percentage; the window is only there when the
// application was not started early.

#include <gtest/gtest.h>

#include "app/main.h"
#include "native/support/ScriptedPlatform.h"

namespace qlr::testing {
namespace {

constexpr const char* kUrl = "http://updates.example/qlr/updates/QLR6-39.pak";
constexpr const char* kLocal = "C:\\Temp\\QLR\\QLR6-39.pak";

// Records every value the bar is asked to show.
struct ShownValues : NativeControl {
    std::vector<std::string>& shown;
    explicit ShownValues(std::vector<std::string>& s) : shown(s) {}
    void SetText(const std::string& text) override { shown.push_back(text); }
    void SetBounds(const Bounds&) override {}
    void Repaint() override {}
};

class GaugeAcrossSteps : public ::testing::Test {
protected:
    void SetUp() override {
        machine.MakeFolders("C:\\Temp\\QLR");
        machine.MakeFolders("C:\\TSLData\\QLR");
        form.Memo3.Clear();
        form.ProgramStarted = false;
    }
    std::vector<std::string> GaugeLines() const {
        std::vector<std::string> out;
        for (const auto& line : CrLfLines(form.Memo3.Text()))
            if (line.rfind("Gauge = ", 0) == 0) out.push_back(line);
        return out;
    }
    // A package whose size is past the short-message limit.
    std::string Package(int entries) {
        std::vector<PackageEntry> list;
        for (int i = 0; i < entries; ++i)
            list.push_back({"C:\\TSLData\\QLR\\part" + std::to_string(i) + ".bin", NoiseBytes(300, i + 1)});
        return PackageBytes(list);
    }

    SandboxMachine machine;
    ScriptedPlatform http{machine.platform()};
    TForm1 form{http};
    std::vector<std::string> shown;
};

TEST_F(GaugeAcrossSteps, DownloadThenUnpackAddUpFromTheStartPosition) {
    form.ShowProgressWindow();
    ASSERT_TRUE(form.f_progress);
    TGauge& gauge = form.f_progress->Gauge1;
    gauge.AttachPeer(std::make_unique<ShownValues>(shown));
    gauge.SetProgress(10);

    // 400 of 1000 bytes: 40 %, on top of 10.
    form.ExpectedBytes = 1000;
    http.replies[kUrl] = {NoiseBytes(400, 3)};
    form.DownloadFile(kUrl, kLocal);
    EXPECT_EQ(gauge.Progress(), 50);

    // Two entries of ten: 10 % and 20 %, on top of 50.
    form.ExpectedFiles = 10;
    machine.Write(kLocal, Package(2));
    EXPECT_TRUE(form.UnpackPackage(kLocal));
    EXPECT_EQ(gauge.Progress(), 70);

    EXPECT_EQ(GaugeLines(), (std::vector<std::string>{"Gauge = 10", "Gauge = 50"}));
    EXPECT_EQ(shown, (std::vector<std::string>{"10%", "50%", "60%", "70%"}));
}

TEST_F(GaugeAcrossSteps, TwoFullStepsStopAtHundred) {
    form.ShowProgressWindow();
    TGauge& gauge = form.f_progress->Gauge1;
    gauge.AttachPeer(std::make_unique<ShownValues>(shown));
    form.ExpectedBytes = 1000;
    http.replies[kUrl] = {NoiseBytes(1500, 4)};  // 150 %
    form.DownloadFile(kUrl, kLocal);
    EXPECT_EQ(gauge.Progress(), 100);
    form.ExpectedFiles = 2;
    machine.Write(kLocal, Package(2));
    EXPECT_TRUE(form.UnpackPackage(kLocal));
    EXPECT_EQ(gauge.Progress(), 100);
    EXPECT_EQ(GaugeLines(), (std::vector<std::string>{"Gauge = 0", "Gauge = 100"}));
    EXPECT_EQ(shown.back(), "100%");
}

}  // namespace
}  // namespace qlr::testing
