#pragma once
// Configure extensions: for each of the twelve file types, whether the
// program opens its files from the desktop, and the extensions that make a
// file of that type.
#include <QDialog>

class QCheckBox;
class QLineEdit;
class TProfile;

class TExtensionsDialog : public QDialog {
public:
  TExtensionsDialog(TProfile& settings, QWidget* parent = nullptr);
  // Stores the fields in the settings (after OK).
  void Store();

private:
  static constexpr int kTypes = 12;
  TProfile& m_settings;
  QCheckBox* m_enabled[kTypes] = {};
  QLineEdit* m_extensions[kTypes] = {};
};
