#pragma once
// What the shell's shared procedures use of a browse window and of the
// custom report window. The windows themselves implement these.
#include <string>

class QWidget;
namespace velmo {
class FlexGrid;
}

// The selected node of a server tree.
struct TreeNodeInfo {
  bool valid = false;      // false when nothing is selected
  std::string text;
  std::string key;         // the directory path stored in [Object Path]
  int index = 0;           // 1 for the first node of the tree
  std::string parentText;  // "" for the root
};

// A browse window (frmExch).
class ExchWindow {
 public:
  virtual ~ExchWindow() = default;
  virtual QWidget* Window() = 0;  // the MDI child itself

  int iFrmID = 0;              // its slot in gfrmExchWindows
  std::string strServerName;
  std::string strUserName;  // Connect As user, "" for the current logon
  std::string strPassword;
  QWidget* frmCustom = nullptr;  // its own column chooser, made on first use

  virtual velmo::FlexGrid* Grd1() = 0;
  virtual TreeNodeInfo SelectedNode() = 0;     // of tvwServers
  virtual bool TypeTabVisible() = 0;           // tabType
  virtual std::string TypeTabCaption() = 0;    // caption of tabType's selected tab
  virtual std::string PropTabKey() = 0;        // key (TabName) of tabProp's selected tab
  virtual std::string PropTabCaption() = 0;    // caption of tabProp's selected tab
  virtual void GetAllInfo(int mode) = 0;
  virtual void DisplayInfo(const std::string& query) = 0;
};

// The custom report window (frmCustomReport), read by the shared procedures
// while gbCustomReport is set.
class CustomReportWindow {
 public:
  virtual ~CustomReportWindow() = default;
  std::string strCRServerName;
  virtual velmo::FlexGrid* grd1() = 0;
  virtual TreeNodeInfo SelectedNode() = 0;
  virtual bool TypeTabVisible() = 0;
  virtual std::string TypeTabCaption() = 0;
};
