#pragma once
// The settings dialogs of the Utilities menu: Configure options lists every
// number setting with its default, range and help; Configure dpi sets the
// resolution each file type's pictures are taken to have; Configure
// extensions, for each of the twelve file types, whether the program opens
// its files from the desktop and the extensions that make a file of that
// type.
#include <vector>

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;
class TProfile;

class TOptionsDialog : public QDialog {
public:
  TOptionsDialog(TProfile& settings, QWidget* parent = nullptr);
  // Copies the values the user changed into the settings (after OK).
  void Store();

private:
  void ShowSetting(int index);
  void TakeTypedValue();

  TProfile& m_settings;
  // The values being edited, and as they were when the dialog opened; the
  // settings change only on OK.
  std::vector<int32_t> m_values;
  std::vector<int32_t> m_opened;
  int m_shown = -1;
  QListWidget* m_names;
  QLineEdit* m_value;
  QLabel* m_facts;
  QPlainTextEdit* m_help;
};

class TDpiDialog : public QDialog {
public:
  TDpiDialog(TProfile& settings, QWidget* parent = nullptr);
  void Store();

private:
  static constexpr int kTypes = 7;
  TProfile& m_settings;
  QCheckBox* m_override[kTypes] = {};
  QSpinBox* m_dpi[kTypes][3] = {};
};

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
