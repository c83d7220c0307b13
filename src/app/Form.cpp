#include "app/main.h"

namespace qlr {

namespace {
struct LabelDesign {
    const char* caption;
    int left, top;
};
// Captions of the labels above the controls, at their design places.
constexpr LabelDesign kLabels[] = {
    {"Program versions available on this computer", 72, 32},
    {"Running Program", 77, 135},
    {"Directory Page", 77, 175},
    {"Dir of available progs", 72, 232},
    {"Programs detected", 336, 224},
    {"Highest", 560, 224},
    {"Available Version", 704, 224},
    {"Latest Version Downloaded", 784, 136},
    {"Bytes Read", 872, 224},
    {"Needed", 1008, 224},
    {"Files ", 872, 272},
    {"Needed", 1008, 272},
    {"Progress", 560, 312},
    {"Error Message", 72, 456},
    {"Label11", 352, 72},
};
}  // namespace

TForm1::TForm1(Platform& platform)
    : FL("FL", {72, 56, 177, 73}, platform),
      Edit1("Edit1", {72, 152, 657, 21}, "Edit1"),
      Edit2("Edit2", {560, 240, 121, 21}, "Edit2"),
      Edit3("Edit3", {784, 152, 129, 21}, "Edit3"),
      Edit4("Edit4", {704, 240, 121, 21}, "Edit4"),
      Edit5("Edit5", {872, 240, 121, 21}, "Edit5"),
      Edit6("Edit6", {72, 192, 657, 21}, "Edit6"),
      Edit7("Edit7", {1008, 240, 121, 21}, "Edit7"),
      Edit8("Edit8", {1144, 240, 50, 21}, "Edit8"),
      Edit9("Edit9", {872, 288, 121, 21}, "Edit9"),
      Edit10("Edit10", {1008, 288, 121, 21}, "Edit10"),
      Edit11("Edit11", {1144, 288, 50, 21}, "Edit8"),
      Memo1("Memo1", {72, 248, 217, 177}, "Memo1"),
      Memo2("Memo2", {328, 248, 201, 177}, "Memo2"),
      Memo3("Memo3", {560, 328, 641, 121}, "Memo3"),
      Memo4("Memo4", {72, 472, 1129, 121}, "Memo4"),
      Timer1(platform, 1000),
      platform_(platform) {
    for (const auto& label : kLabels)
        Labels.push_back(std::make_unique<TLabel>("Label", Bounds{label.left, label.top, 0, 13}, label.caption));
    Timer1.OnTimer = [this] { Timer1Timer(); };
    CreateNativeWindow();
}

TForm1::~TForm1() = default;

void TForm1::CreateNativeWindow() {
    window_ = platform_.CreateMainWindow(WindowBounds, Caption);
    if (!window_) return;
    for (auto& label : Labels) window_->AddControl(ControlKind::Label, label->GetBounds(), label->Caption);
    for (TEdit* edit : {&Edit1, &Edit2, &Edit3, &Edit4, &Edit5, &Edit6, &Edit7, &Edit8, &Edit9, &Edit10, &Edit11})
        edit->AttachPeer(window_->AddControl(ControlKind::Edit, edit->GetBounds(), edit->Text()));
    for (TMemo* memo : {&Memo1, &Memo2, &Memo3, &Memo4})
        memo->AttachPeer(window_->AddControl(ControlKind::Memo, memo->GetBounds(), memo->Text()));
    FL.AttachPeer(window_->AddControl(ControlKind::FileList, FL.GetBounds(), ""));
}

}  // namespace qlr
