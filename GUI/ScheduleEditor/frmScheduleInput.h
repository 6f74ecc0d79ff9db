#pragma once
// The schedule input window: the kind of schedule, its start time, the
// kind's own settings, the run-as account and its password. It opens with
// the task last registered (read from the settings file) and its OK
// registers the task again (SaveScheduledTask). Time boxes are on a
// 12-hour clock.
#include <QDialog>

#include <array>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class UpDown;
class frmAdvanced;
class frmSchedule;

class frmScheduleInput : public QDialog {
  Q_OBJECT

 public:
  // schedule: the schedule window whose blnIsCancelClicked this window
  // sets (may be null).
  explicit frmScheduleInput(frmSchedule* schedule, QWidget* parent = nullptr);
  ~frmScheduleInput() override;

  QLabel* Image1 = nullptr;
  QLabel* lblSelected = nullptr;
  QFrame* Frame6 = nullptr;
  QLabel* Label14 = nullptr;
  QLineEdit* txtRunas = nullptr;
  QLabel* Label17 = nullptr;
  QPushButton* cmdSetPassword = nullptr;
  QFrame* Frame1 = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* cboScheduleTask = nullptr;
  QLabel* lblStartTime = nullptr;
  QLineEdit* txtStartTime = nullptr;
  std::array<QLineEdit*, 3> txtam{};
  UpDown* UpDownStartTime = nullptr;
  QPushButton* cmdAdvanced = nullptr;
  QGroupBox* frTaskDaily = nullptr;
  QLabel* lblEvery = nullptr;
  QLineEdit* txtEverydays = nullptr;
  UpDown* UpDownEverydays = nullptr;
  QLabel* lblDays = nullptr;
  std::array<QCheckBox*, 7> chkday{};
  QRadioButton* optDay = nullptr;
  QRadioButton* optThe = nullptr;
  QComboBox* cboWeek = nullptr;
  QComboBox* cboDay = nullptr;
  QLabel* lblmonthly = nullptr;
  QPushButton* cmdMonths = nullptr;
  QLabel* lblOnce = nullptr;
  QDateEdit* dpOnce = nullptr;
  QFrame* Frame2 = nullptr;
  QPushButton* cmdok = nullptr;
  QPushButton* cmdCancel = nullptr;

  // Chosen months, upper-case names joined by "|".
  std::string strSelectedMonths;
  // The run-as password set through the password dialog.
  std::string strPassword;
  // The date and time separators of the fixed date forms.
  std::string strDateSep = "/";
  std::string strTimeSep = ":";

  // The repeat options dialog, loaded with this window.
  frmAdvanced& Advanced() { return *advanced_; }

  // Fills the lists, sets the defaults and restores the saved task.
  void Form_Load();
  // Puts a saved task line (its 14 fields) back into the window and the
  // advanced dialog.
  void RestoreTask(const std::vector<std::string>& field);

  // Kind panels.
  void SetDaily(bool blnShow);
  void SetWeekly(bool blnShow);
  void SetMonthly(bool blnShow);
  void SetOnce(bool blnShow);
  void SetIdle(bool blnShow);

  // The kind part of the summary.
  std::string getEveryday() const;
  // Sets lblSelected from the advanced dialog and getEveryday().
  void RefreshSummary();

  void cboScheduleTask_Click();
  void optDay_Click();
  void optThe_Click();
  void txtRunas_Change();
  void cmdAdvanced_Click();
  void cmdMonths_Click();
  void cmdSetPassword_Click();
  void cmdok_Click();
  void cmdCancel_Click();
  void txtEverydays_Validate();
  void UpDownEverydays_Change();
  void txtam_GotFocus(int index);
  void txtam_Change(int index);
  void UpDownStartTime_Click();

  // Shows the window modally; it unloads itself when it closes.
  int ShowModal();
  // Esc or the close box: nothing saved, the cancel flag left alone.
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Unload();
  bool Refuse(const std::string& prompt, int icon);
  frmSchedule* schedule_;
  std::unique_ptr<frmAdvanced> advanced_;
  std::string strAmPm = "AM";
  bool blnIsLoading = false;
  int iTimePart = 0;
  bool closing_ = false;
};
