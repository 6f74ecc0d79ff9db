#pragma once
// frmFilterWizard: the row filter of the page the current browse window
// shows. The user picks a field, an operator and one of the values the
// page's table holds for that field, adds conditions joined by AND or OR,
// groups them with parentheses, and OK stores them as the page's filter
// row (VELMORCFilterCustomize, QueryType "0") and refills the browse
// window's grid through GetQuery(2).
#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QListWidget;
class QPushButton;
class QToolBar;
class ExchWindow;

class frmFilterWizard : public QDialog {
  Q_OBJECT

 public:
  explicit frmFilterWizard(QWidget* parent = nullptr);
  ~frmFilterWizard() override;

  QComboBox* cbField = nullptr;
  QComboBox* cbOperator = nullptr;
  QComboBox* cbData = nullptr;
  QPushButton* cmdAdd = nullptr;
  QPushButton* cmdORToFilter = nullptr;
  QToolBar* tbFilter = nullptr;  // buttons 1 to 6
  QListWidget* lbFilter = nullptr;
  QPushButton* cmdOk = nullptr;
  QPushButton* cmdCancel = nullptr;
  QListWidget* List1 = nullptr;  // hidden

  // Fills the operators and fields and loads the saved filter of the
  // current browse window's page. Runs once, before the dialog is shown.
  void Form_Load();
  void cbField_Click();
  void cmdAdd_Click();
  void cmdORToFilter_Click();
  // 1 Insert '(', 2 Insert ')', 3 Delete '(', 4 Delete ')', 5 Delete
  // Condition, 6 Delete All; other indexes do nothing.
  void tbFilter_ButtonClick(int index);
  void cmdOk_Click();
  void cmdCancel_Click();
  // 13 runs OK, 27 closes the dialog without saving.
  void HandleDialogKey(int keyCode);

  // The list's entries, in order.
  std::vector<std::string> Entries() const;

  // Loads and shows the dialog modally.
  void ShowModal();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string NewEntryText() const;
  void SetEntry(int row, const std::string& text);
  void SetListEmptyState();
  void Unload();

  bool loaded_ = false;
};

// Installs the filter wizard as the main window's Filter command.
void InstallFilterWizardSeam();
