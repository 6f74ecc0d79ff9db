#pragma once
// The three option dialogs of the schedule input window: the repeat
// options (frmAdvanced, kept loaded but hidden so the task writer reads
// its controls), the months of a monthly task (frmMonths) and the run-as
// password (frmPassword).
#include <QDialog>

#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class UpDown;
class frmScheduleInput;

class frmAdvanced : public QDialog {
  Q_OBJECT

 public:
  explicit frmAdvanced(frmScheduleInput* input, QWidget* parent = nullptr);

  QLabel* Label2 = nullptr;
  QDateEdit* dtpStartDate = nullptr;
  QCheckBox* chkEndDate = nullptr;
  QDateEdit* dtpEndDate = nullptr;
  QGroupBox* FrameRepeatTask = nullptr;
  QCheckBox* chkRepeatTask = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* txtEvery = nullptr;
  UpDown* UpDownEvery = nullptr;
  QComboBox* cboEvery = nullptr;
  QLabel* Label1 = nullptr;
  QRadioButton* OptDuration = nullptr;
  QLineEdit* txtHour = nullptr;
  UpDown* UpDownHour = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* txtMinute = nullptr;
  UpDown* UpDownMinute = nullptr;
  QLabel* Label5 = nullptr;
  QCheckBox* chkTask = nullptr;
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdCancel = nullptr;

  void Enable_UDEvery();
  void Enable_UDHour();
  void Enable_UDMinute();
  // The repetition part of the schedule summary.
  std::string getAdvancedSet() const;
  // The date part of the schedule summary ("" when the start date is off).
  std::string getStartTime() const;

  void chkRepeatTask_Click();
  void chkEndDate_Click();
  void OptDuration_Click();
  void cmdOk_Click();
  void cmdCancel_Click();

  // Shows the dialog modally; OK and Cancel only hide it.
  void ShowModal();

 protected:
  void reject() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetRepeatControlsEnabled(bool on);
  frmScheduleInput* input_;
};

class frmMonths : public QDialog {
  Q_OBJECT

 public:
  explicit frmMonths(frmScheduleInput* input, QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  std::array<QCheckBox*, 12> chkmonths{};
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdCancel = nullptr;

  void Form_Load();
  void cmdOk_Click();
  void cmdCancel_Click();

  // "JANUARY" ... "DECEMBER" for box 0 to 11.
  static std::string MonthName(int index);

 private:
  frmScheduleInput* input_;
};

class frmPassword : public QDialog {
  Q_OBJECT

 public:
  explicit frmPassword(frmScheduleInput* input, QWidget* parent = nullptr);

  QLabel* Label15 = nullptr;
  QLineEdit* txtPassword = nullptr;
  QLabel* Label16 = nullptr;
  QLineEdit* txtCfmPassword = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdcancel = nullptr;

  void cmdOK_Click();
  void cmdcancel_Click();

 private:
  frmScheduleInput* input_;
};
