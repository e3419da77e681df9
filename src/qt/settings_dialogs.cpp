#include "qt/settings_dialogs.h"

#include <algorithm>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "settings/profile.h"

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

IntKey KeyAt(int index) { return static_cast<IntKey>(index); }


constexpr int kExtensionsPerType = 8;
constexpr const char* kTypeNames[] = {"GIF", "BMP", "PCX", "TGA", "JPEG", "TIFF", "Metafiles and others",
                                      "Sounds", "Movies", "Slide lists", "Encoded mail", "ZIP archives"};

IntKey EnableKey(int type) { return static_cast<IntKey>(static_cast<int>(IntKey::GIFEnab) + type); }
StrKey ExtensionKey(int type, int i) {
  return static_cast<StrKey>(static_cast<int>(StrKey::GIFExt0) + type * kExtensionsPerType + i);
}

} // namespace

TOptionsDialog::TOptionsDialog(TProfile& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_names(new QListWidget), m_value(new QLineEdit), m_facts(new QLabel),
      m_help(new QPlainTextEdit) {
  setWindowTitle(tr("Configure Options"));
  m_opened.reserve(TProfile::Count());
  for (int i = 0; i < TProfile::Count(); ++i) {
    m_opened.push_back(settings.Get(KeyAt(i)));
    m_names->addItem(QString::fromUtf8(TProfile::Name(i)));
  }
  m_help->setReadOnly(true);
  m_help->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* details = new QVBoxLayout;
  details->addWidget(new QLabel(tr("Value:")));
  details->addWidget(m_value);
  details->addWidget(m_facts);
  details->addWidget(m_help, 1);
  auto* columns = new QHBoxLayout;
  columns->addWidget(m_names, 1);
  columns->addLayout(details, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addWidget(OkCancel(this));
  connect(m_names, &QListWidget::currentRowChanged, this, [this](int row) { ShowSetting(row); });
  m_values = m_opened;
  m_names->setCurrentRow(0);
  resize(640, 420);
}

// The value typed for the setting shown, as a decimal kept in its range.
void TOptionsDialog::TakeTypedValue() {
  if (m_shown < 0) return;
  bool number = false;
  const long long typed = m_value->text().trimmed().toLongLong(&number);
  if (number)
    m_values[m_shown] = static_cast<int32_t>(std::clamp<long long>(typed, TProfile::Min(m_shown), TProfile::Max(m_shown)));
}

void TOptionsDialog::ShowSetting(int index) {
  TakeTypedValue();
  m_shown = index;
  if (index < 0) return;
  m_value->setText(QString::number(m_values[index]));
  m_facts->setText(tr("Default %1, from %2 to %3")
                       .arg(TProfile::Default(index))
                       .arg(TProfile::Min(index))
                       .arg(TProfile::Max(index)));
  m_help->setPlainText(QString::fromUtf8(TProfile::Help(index)));
}

// Only what the user edited: the settings may have moved on while the
// dialog was open (a show that ended), and a value a mode forced stays
// forced unless the user gave it one.
void TOptionsDialog::Store() {
  TakeTypedValue();
  for (int i = 0; i < TProfile::Count(); ++i)
    if (m_values[i] != m_opened[i]) m_settings.Set(KeyAt(i), m_values[i]);
}

TDpiDialog::TDpiDialog(TProfile& settings, QWidget* parent) : QDialog(parent), m_settings(settings) {
  setWindowTitle(tr("Configure Dpi"));
  static const char* const kTypeNames[] = {"GIF", "BMP", "PCX", "TGA", "JPG", "TIF", "WMF"};
  static const char* const kColumns[] = {"1 bit", "8 bits", "24 bits"};
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr("Override")), 0, 0);
  for (int c = 0; c < 3; ++c) grid->addWidget(new QLabel(tr("Dpi, %1").arg(QLatin1String(kColumns[c]))), 0, c + 1);
  for (int type = 0; type < kTypes; ++type) {
    const int over = static_cast<int>(IntKey::GIFOver) + type;
    m_override[type] = new QCheckBox(QLatin1String(kTypeNames[type]));
    m_override[type]->setChecked(settings.Get(KeyAt(over)) != 0);
    grid->addWidget(m_override[type], type + 1, 0);
    for (int c = 0; c < 3; ++c) {
      const int key = static_cast<int>(IntKey::GIFDpi1) + c * kTypes + type;
      m_dpi[type][c] = new QSpinBox;
      m_dpi[type][c]->setRange(TProfile::Min(key), TProfile::Max(key));
      m_dpi[type][c]->setValue(settings.Get(KeyAt(key)));
      grid->addWidget(m_dpi[type][c], type + 1, c + 1);
    }
  }
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(OkCancel(this));
}

void TDpiDialog::Store() {
  for (int type = 0; type < kTypes; ++type) {
    m_settings.Set(KeyAt(static_cast<int>(IntKey::GIFOver) + type), m_override[type]->isChecked());
    for (int c = 0; c < 3; ++c)
      m_settings.Set(KeyAt(static_cast<int>(IntKey::GIFDpi1) + c * kTypes + type), m_dpi[type][c]->value());
  }
}

TExtensionsDialog::TExtensionsDialog(TProfile& settings, QWidget* parent) : QDialog(parent), m_settings(settings) {
  setWindowTitle(tr("Configure Extensions"));
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr("Open with Zerbalin")), 0, 0);
  grid->addWidget(new QLabel(tr("Extensions")), 0, 1);
  for (int type = 0; type < kTypes; ++type) {
    m_enabled[type] = new QCheckBox(QString::fromUtf8(kTypeNames[type]));
    m_enabled[type]->setChecked(settings.Get(EnableKey(type)) != 0);
    QStringList names;
    for (int i = 0; i < kExtensionsPerType; ++i)
      if (const std::string& name = settings.GetString(ExtensionKey(type, i)); !name.empty())
        names << QString::fromStdString(name);
    m_extensions[type] = new QLineEdit(names.join(QLatin1Char(' ')));
    grid->addWidget(m_enabled[type], type + 1, 0);
    grid->addWidget(m_extensions[type], type + 1, 1);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(OkCancel(this));
}

// Up to eight names a type, each beginning with '.'.
void TExtensionsDialog::Store() {
  for (int type = 0; type < kTypes; ++type) {
    m_settings.Set(EnableKey(type), m_enabled[type]->isChecked());
    const QStringList names = m_extensions[type]->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int stored = 0;
    for (const QString& name : names)
      if (name.startsWith(QLatin1Char('.')) && stored < kExtensionsPerType)
        m_settings.SetString(ExtensionKey(type, stored++), name.toLower().toStdString());
    while (stored < kExtensionsPerType) m_settings.SetString(ExtensionKey(type, stored++), "");
  }
}
