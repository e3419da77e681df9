#pragma once
// The screen saver's settings dialog: the files it shows, their type, the
// display effect, the frames, delays and switches of the show, the colours
// and the password. It edits a settings profile; the caller writes it when
// the dialog ends with OK.
#include <QDialog>
#include <utility>
#include <vector>

class TProfile;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

class TSaverDialog : public QDialog {
public:
  TSaverDialog(TProfile& settings, QWidget* parent = nullptr);

  // Stores the fields in the settings (after OK).
  void Store();

private:
  void ChooseColour(bool background);
  void SetPassword();

  TProfile& m_settings;
  QLineEdit* m_files;
  QComboBox* m_fileType;
  QComboBox* m_effect;
  QSpinBox* m_across;
  QSpinBox* m_down;
  QSpinBox* m_imageDelay;
  QSpinBox* m_soundDelay;
  std::vector<std::pair<QCheckBox*, int>> m_switches; // check box, IntKey
};
