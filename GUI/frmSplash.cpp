#include "frmSplash.h"

#include "ExportWriters.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

const char* const kCopyrightLine = velmo::exporting::kCopyrightText;
const char* const kContactLine = "Support: support@velmorcast.example";
const char* const kWebLine = "Web: https://www.velmorcast.example";

QPixmap ProductPicture(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A dark blue tile with a server tower and an envelope in front of it.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(22, 63, 120));
  p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.14, s * 0.14);
  p.setBrush(QColor(205, 215, 230));
  p.drawRoundedRect(QRectF(s * 0.14, s * 0.12, s * 0.34, s * 0.72), s * 0.04, s * 0.04);
  p.setBrush(QColor(90, 200, 120));
  for (int i = 0; i < 3; ++i) p.drawEllipse(QRectF(s * 0.2, s * (0.2 + 0.12 * i), s * 0.06, s * 0.06));
  QRectF env(s * 0.38, s * 0.46, s * 0.5, s * 0.34);
  p.setBrush(QColor(250, 196, 60));
  p.setPen(QPen(QColor(120, 80, 10), s / 48.0));
  p.drawRect(env);
  QPainterPath flap;
  flap.moveTo(env.topLeft());
  flap.lineTo(env.center().x(), env.top() + env.height() * 0.6);
  flap.lineTo(env.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
  return pm;
}

frmSplash::frmSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName("frmSplash");
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(6, 6, 6, 6);
  Frame1 = new QFrame(this);
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::Box);
  outer->addWidget(Frame1);

  auto* row = new QHBoxLayout(Frame1);
  Image1 = new QLabel(Frame1);
  Image1->setObjectName("Image1");
  Image1->setPixmap(ProductPicture(96));
  Image1->setAlignment(Qt::AlignTop);
  row->addWidget(Image1);

  auto* col = new QVBoxLayout();
  row->addLayout(col);
  lblReadme = new QLabel(Frame1);
  lblReadme->setObjectName("lblReadme");
  QFont title = lblReadme->font();
  title.setPointSize(title.pointSize() + 8);
  title.setBold(true);
  lblReadme->setFont(title);
  col->addWidget(lblReadme);
  Label3 = new QLabel("Velmorcast", Frame1);
  Label3->setObjectName("Label3");
  QFont sub = Label3->font();
  sub.setPointSize(sub.pointSize() + 3);
  sub.setItalic(true);
  Label3->setFont(sub);
  col->addWidget(Label3);
  Label1 = new QLabel(Frame1);
  Label1->setObjectName("Label1");
  col->addWidget(Label1);
  col->addStretch(1);
  Label4 = new QLabel(Frame1);
  Label4->setObjectName("Label4");
  col->addWidget(Label4);
  Label5 = new QLabel(Frame1);
  Label5->setObjectName("Label5");
  col->addWidget(Label5);

  resize(460, 240);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

void frmSplash::Form_Load() {
  // Three lines; a label breaks lines at "\n".
  lblReadme->setText("Velmorine\n            for\nExchange Server");
  Label5->setText(kCopyrightLine);
  Label4->setText(kContactLine);
  Label1->setText(" Version 1.4.2");
}
