#include "qt/saver_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/password.h"
#include "settings/profile.h"
#include "settings/profile_tables.h"
#include "view/slide_list.h"

namespace {

constexpr int kFileTypes = 15;
constexpr const char* kEffects[] = {"Direct",          "Fast",     "Horizontal", "Vertical", "Horizontal Blinds",
                                    "Vertical Blinds", "Check In", "Check Out",  "Box In",   "Box Out",
                                    "Dissolve",        "Random"};
constexpr size_t kMaxFileSpec = 259;

struct TSwitchField {
  const char* label;
  IntKey key;
};
constexpr TSwitchField kShowSwitches[] = {
    {"Random frames", IntKey::ThumbnailsRandom}, {"Frame outline", IntKey::ThumbnailsOutline},
    {"Sound enable", IntKey::SoundEnable},       {"Sound synchronous", IntKey::SoundSynchronous},
    {"Password", IntKey::SlideshowPassword},     {"Display in color", IntKey::DisplayInColor},
    {"Random order", IntKey::RandomOrder},
};
constexpr TSwitchField kJpegSwitches[] = {{"Two pass", IntKey::JPEGTwoPass},
                                          {"Use dithering", IntKey::JPEGUseDithering},
                                          {"Use monochrome", IntKey::JPEGUseMonochrome}};
constexpr TSwitchField kAutomaticSwitches[] = {{"Scale", IntKey::AutoScale},   {"Fit", IntKey::AutoFit},
                                               {"Crop", IntKey::AutoCrop},     {"Dither", IntKey::AutoDither},
                                               {"Search", IntKey::AutoSearch}, {"Resume", IntKey::AutoResume}};

QSpinBox* NumberField(const TProfile& settings, IntKey key) {
  auto* field = new QSpinBox;
  const TIntSetting& setting = IntSetting(key);
  field->setRange(setting.min, setting.max);
  field->setValue(settings.Get(key));
  return field;
}

} // namespace

TSaverDialog::TSaverDialog(TProfile& settings, QWidget* parent) : QDialog(parent), m_settings(settings) {
  setWindowTitle(QStringLiteral("Zerbalin Screen Saver Setup"));
  auto* form = new QFormLayout;
  m_files = new QLineEdit(QString::fromStdString(settings.GetString(StrKey::FileSpec)));
  m_files->setMaxLength(static_cast<int>(kMaxFileSpec));
  form->addRow(QStringLiteral("Files:"), m_files);
  m_fileType = new QComboBox;
  for (int32_t index = 1; index <= kFileTypes; ++index)
    m_fileType->addItem(QString::fromLatin1(TSlideList::FileTypeLabel(index)));
  m_fileType->setCurrentIndex(std::clamp(settings.Get(IntKey::OpenIndex), 1, kFileTypes) - 1);
  form->addRow(QStringLiteral("File type:"), m_fileType);
  m_effect = new QComboBox;
  for (const char* effect : kEffects) m_effect->addItem(QString::fromLatin1(effect));
  m_effect->setCurrentIndex(std::clamp(settings.Get(IntKey::Effect), 1, static_cast<int>(std::size(kEffects))) - 1);
  form->addRow(QStringLiteral("Display effect:"), m_effect);
  m_across = NumberField(settings, IntKey::ThumbnailsAcross);
  m_down = NumberField(settings, IntKey::ThumbnailsDown);
  form->addRow(QStringLiteral("Frames across:"), m_across);
  form->addRow(QStringLiteral("Frames down:"), m_down);
  m_imageDelay = NumberField(settings, IntKey::DelayBetweenImages);
  m_soundDelay = NumberField(settings, IntKey::DelayBetweenSounds);
  form->addRow(QStringLiteral("Image delay (seconds):"), m_imageDelay);
  form->addRow(QStringLiteral("Sound delay (seconds):"), m_soundDelay);

  auto group = [this, &settings](const char* title, const auto& fields) {
    auto* box = new QGroupBox(QString::fromLatin1(title));
    auto* grid = new QGridLayout(box);
    int i = 0;
    for (const TSwitchField& field : fields) {
      auto* check = new QCheckBox(QString::fromLatin1(field.label));
      check->setChecked(settings.Get(field.key) != 0);
      grid->addWidget(check, i / 2, i % 2);
      m_switches.emplace_back(check, static_cast<int>(field.key));
      ++i;
    }
    return box;
  };
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(group("Show", kShowSwitches));
  layout->addWidget(group("JPEG", kJpegSwitches));
  layout->addWidget(group("Automatic", kAutomaticSwitches));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* background = buttons->addButton(QStringLiteral("Background..."), QDialogButtonBox::ActionRole);
  QPushButton* foreground = buttons->addButton(QStringLiteral("Foreground..."), QDialogButtonBox::ActionRole);
  QPushButton* password = buttons->addButton(QStringLiteral("Password..."), QDialogButtonBox::ActionRole);
  QPushButton* about = buttons->addButton(QStringLiteral("About..."), QDialogButtonBox::ActionRole);
  connect(background, &QPushButton::clicked, this, [this] { ChooseColour(true); });
  connect(foreground, &QPushButton::clicked, this, [this] { ChooseColour(false); });
  connect(password, &QPushButton::clicked, this, [this] { SetPassword(); });
  connect(about, &QPushButton::clicked, this, [this] {
    QMessageBox::about(this, QStringLiteral("About Zerbalin"),
                       QStringLiteral("Zerbalin 6.0\nImage viewer, converter and slide-show player."));
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void TSaverDialog::Store() {
  m_settings.SetString(StrKey::FileSpec, m_files->text().toStdString().substr(0, kMaxFileSpec));
  m_settings.Set(IntKey::OpenIndex, m_fileType->currentIndex() + 1);
  m_settings.Set(IntKey::Effect, m_effect->currentIndex() + 1);
  m_settings.Set(IntKey::ThumbnailsAcross, m_across->value());
  m_settings.Set(IntKey::ThumbnailsDown, m_down->value());
  m_settings.Set(IntKey::DelayBetweenImages, m_imageDelay->value());
  m_settings.Set(IntKey::DelayBetweenSounds, m_soundDelay->value());
  for (const auto& [check, key] : m_switches) m_settings.Set(static_cast<IntKey>(key), check->isChecked() ? 1 : 0);
}

// The colours change at once in the edited settings; Cancel still writes
// nothing.
void TSaverDialog::ChooseColour(bool background) {
  const IntKey red = background ? IntKey::BackgroundRed : IntKey::ForegroundRed;
  const IntKey green = background ? IntKey::BackgroundGreen : IntKey::ForegroundGreen;
  const IntKey blue = background ? IntKey::BackgroundBlue : IntKey::ForegroundBlue;
  const QColor chosen =
      QColorDialog::getColor(QColor(m_settings.Get(red), m_settings.Get(green), m_settings.Get(blue)), this,
                             background ? QStringLiteral("Background Color") : QStringLiteral("Foreground Color"));
  if (!chosen.isValid()) return;
  m_settings.Set(red, chosen.red());
  m_settings.Set(green, chosen.green());
  m_settings.Set(blue, chosen.blue());
}

// The shared password: the old one when one is set, the new one twice.
void TSaverDialog::SetPassword() {
  const std::string file = PasswordFile();
  auto ask = [this](const QString& label, std::string& text) {
    bool ok = false;
    const QString typed =
        QInputDialog::getText(this, QStringLiteral("Change Password"), label, QLineEdit::Password, QString(), &ok);
    text = typed.left(static_cast<int>(kMaxPasswordLength)).toStdString();
    return ok;
  };
  std::string old, typed, retyped;
  if (PasswordIsSet(file) && !ask(QStringLiteral("Old password:"), old)) return;
  if (!ask(QStringLiteral("New password:"), typed) || !ask(QStringLiteral("Retype new password:"), retyped)) return;
  switch (::SetPassword(file, old, typed, retyped)) {
  case TSetPasswordResult::kDone: return;
  case TSetPasswordResult::kOldIncorrect:
    QMessageBox::warning(this, QStringLiteral("Zerbalin"), QString::fromLatin1(kIncorrectPasswordMessage));
    return;
  case TSetPasswordResult::kNotIdentical:
    QMessageBox::warning(this, QStringLiteral("Zerbalin"), QString::fromLatin1(kPasswordsDifferMessage));
    return;
  case TSetPasswordResult::kNotSaved:
    QMessageBox::warning(this, QStringLiteral("Zerbalin"), QStringLiteral("The password could not be saved."));
    return;
  }
}
