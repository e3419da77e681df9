#include "qt/extensions_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "settings/profile.h"

namespace {

constexpr int kExtensionsPerType = 8;
constexpr const char* kTypeNames[] = {"GIF", "BMP", "PCX", "TGA", "JPEG", "TIFF", "Metafiles and others",
                                      "Sounds", "Movies", "Slide lists", "Encoded mail", "ZIP archives"};

IntKey EnableKey(int type) { return static_cast<IntKey>(static_cast<int>(IntKey::GIFEnab) + type); }
StrKey ExtensionKey(int type, int i) {
  return static_cast<StrKey>(static_cast<int>(StrKey::GIFExt0) + type * kExtensionsPerType + i);
}

} // namespace

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
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
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
