#include "frmReadme.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>

#include <algorithm>
#include <fstream>
#include <string>

#include "AppFolder.h"
#include "FlexGrid.h"
#include "frmSplash.h"
#include "modGlobals.h"

namespace {

constexpr auto Px = velmo::TwipsToPx;

// A line of Readme.txt or License.txt: UTF-8 when it is valid UTF-8 (the
// files shipped are ASCII); a file an administrator replaced with one saved
// as 8-bit text is read as Windows-1252, so its accented letters show.
QString LineText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  QStringDecoder cp1252("windows-1252");
  if (cp1252.isValid()) return cp1252(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

frmReadme::frmReadme(QWidget* parent) : QDialog(parent) {
  setObjectName("frmReadme");
  setWindowTitle("Velmorcast Readme");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  txtReadme = new QPlainTextEdit(this);
  txtReadme->setObjectName("txtReadme");
  txtReadme->setReadOnly(true);
  txtReadme->setLineWrapMode(QPlainTextEdit::NoWrap);

  cmdClose = new QPushButton("Close", this);
  cmdClose->setObjectName("cmdClose");
  cmdClose->setDefault(true);
  cmdClose->resize(Px(1215), Px(375));
  connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);

  Frame1 = new QFrame(this);
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::Box);
  Frame1->setGeometry(Px(120), Px(120), Px(5265), Px(2235));

  Picture1 = new QLabel(Frame1);
  Picture1->setObjectName("Picture1");
  Picture1->setPixmap(ProductPicture(48));
  Picture1->setGeometry(Px(150), Px(180), 48, 48);

  lblReadme = new QLabel(Frame1);
  lblReadme->setObjectName("lblReadme");
  QFont bold = lblReadme->font();
  bold.setBold(true);
  bold.setPointSize(bold.pointSize() + 2);
  lblReadme->setFont(bold);
  lblReadme->setGeometry(Px(1080), Px(150), Px(4050), Px(330));

  Label3 = new QLabel("(Velmorcast)", Frame1);
  Label3->setObjectName("Label3");
  Label3->setGeometry(Px(1080), Px(480), Px(4050), Px(270));

  Label1 = new QLabel(Frame1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(Px(1080), Px(750), Px(4050), Px(270));

  Label2 = new QLabel(Frame1);
  Label2->setObjectName("Label2");
  Label2->setWordWrap(true);
  Label2->setGeometry(Px(1080), Px(1080), Px(4050), Px(450));

  Label4 = new QLabel(Frame1);
  Label4->setObjectName("Label4");
  Label4->setGeometry(Px(1080), Px(1560), Px(4050), Px(540));

  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(txtReadme),
                     static_cast<QWidget*>(cmdClose)})
    w->installEventFilter(this);
  txtReadme->viewport()->installEventFilter(this);

  resize(Px(5505), Px(2985));
}

void frmReadme::Form_Load() {
  const std::string title = std::string(kProductTitle);
  switch (iReadmeORLicenseORAbout) {
    case 0:
    case 1:
      resize(Px(8000), Px(6000));
      for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                         static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                         static_cast<QWidget*>(Picture1), static_cast<QWidget*>(Frame1)})
        w->hide();
      if (iReadmeORLicenseORAbout == 0)
        setWindowTitle(QString::fromStdString(title + " " + kVersionText + " Readme"));
      else
        setWindowTitle(QString::fromStdString(title + " License"));
      txtReadme->show();
      LoadReadmeText();
      break;
    case 2:
      setWindowTitle(QString::fromStdString("About " + title));
      txtReadme->hide();
      lblReadme->setText("Velmorine for Exchange Server");
      Label2->setText(kCopyrightLine);
      Label4->setText(QString(kContactLine) + "\n" + kWebLine);
      Label1->setText(" Version 1.4.2");
      break;
    default:
      break;
  }
  Form_Resize();
}

void frmReadme::LoadReadmeText() {
  txtReadme->setReadOnly(false);
  txtReadme->clear();
  const char* name = iReadmeORLicenseORAbout == 0 ? "\\Readme.txt" : "\\License.txt";
  QString text;
  std::ifstream in(velmo::AppPath(name), std::ios::binary);
  if (in) {
    std::string line;
    // Every line, the last one too when it has no line end, is shown with
    // a line end after it.
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      text += LineText(line);
      text += '\n';
    }
  }
  txtReadme->setPlainText(text);
  txtReadme->setReadOnly(true);
}

int frmReadme::ShowModal() {
  Form_Load();
  return exec();
}

void frmReadme::Form_Resize() {
  // Sizes are kept at zero or more when the window is made very small.
  const int innerW = width();
  const int innerH = height();
  const int top = std::max(0, innerH - cmdClose->height() - Px(50));
  const int left = std::max(0, innerW - cmdClose->width() - Px(150));
  cmdClose->move(left, top);
  txtReadme->setGeometry(0, 0, innerW, std::max(0, top - Px(50)));
}

void frmReadme::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Form_Resize();
}

bool frmReadme::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Escape) {
      accept();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmReadme::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
