#include "testing/gui/fake_forms.h"

#include <QCoreApplication>
#include <memory>

namespace sorvel::testing {

class FakeForms::MainForm final : public MainWindowForm {
 public:
  explicit MainForm(FakeForms* owner) : owner_(owner) {}
  ~MainForm() override { delete window_; }
  void Show() override {
    owner_->calls_ << QStringLiteral("main:show");
    window_ = new QWidget;
    window_->setWindowTitle(QStringLiteral("Sorvel"));
    window_->resize(320, 200);
    window_->show();
    owner_->main_window_ = window_;
    if (owner_->on_main_shown) owner_->on_main_shown(window_);
  }
  bool FileProjectLoad(const QString& file_name) override {
    owner_->calls_ << QStringLiteral("main:load ") + file_name;
    return owner_->project_loads;
  }
  void Unload() override {
    owner_->calls_ << QStringLiteral("main:unload");
    delete window_;
  }

 private:
  FakeForms* owner_;
  QPointer<QWidget> window_;
};

class FakeForms::WellWriteForm final : public LayoutWriteDialog {
 public:
  explicit WellWriteForm(FakeForms* owner) : owner_(owner) {}
  QWidget* Form() override { return &form_; }
  int ShowOpen(Tazol&, const QString& title, const QString& drive_name) override {
    owner_->calls_ << QStringLiteral("well-write ") + title + QLatin1Char('|') + drive_name;
    if (owner_->well_write_results_.empty()) return 0;
    int discs = owner_->well_write_results_.front();
    owner_->well_write_results_.pop_front();
    return discs;
  }

 private:
  FakeForms* owner_;
  QWidget form_;
};

class FakeForms::DiscWriteForm final : public ImageWriteDialog {
 public:
  explicit DiscWriteForm(FakeForms* owner) : owner_(owner) {}
  void ShowOpen(const QString& image_file) override {
    owner_->calls_ << QStringLiteral("write-image ") + image_file;
    if (owner_->on_write_image) owner_->on_write_image(image_file);
  }

 private:
  FakeForms* owner_;
};

class FakeForms::IsReadyForm final : public InsertDiscPrompt {
 public:
  explicit IsReadyForm(FakeForms* owner) : owner_(owner) {}
  bool ShowOpen(Trelin&, bool writable) override {
    owner_->calls_ << QStringLiteral("is-ready ") + (writable ? QStringLiteral("1") : QStringLiteral("0"));
    if (owner_->is_ready_results_.empty()) return false;
    bool ready = owner_->is_ready_results_.front();
    owner_->is_ready_results_.pop_front();
    return ready;
  }

 private:
  FakeForms* owner_;
};

FakeForms::FakeForms() {
  factories_.main_form = [this] { return std::make_unique<MainForm>(this); };
  factories_.well_write_form = [this] { return std::make_unique<WellWriteForm>(this); };
  factories_.disc_write_form = [this] { return std::make_unique<DiscWriteForm>(this); };
  factories_.is_ready_form = [this] { return std::make_unique<IsReadyForm>(this); };
  previous_ = InstallFormFactories(&factories_);
}

FakeForms::~FakeForms() { InstallFormFactories(previous_); }

}  // namespace sorvel::testing
