// The pictures of the main window's image lists, drawn with QPainter on a
// 32 by 32 grid and rendered at 16 and 32 pixels.
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>
#include <string>

#include "Mdifrm.h"

namespace {

using Glyph = std::function<void(QPainter&)>;

const QColor kOutline(40, 40, 48);

void Pen(QPainter& p, const QColor& c = kOutline, qreal w = 1.6) { p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)); }

void Tower(QPainter& p, qreal x, qreal y, const QColor& body) {
  Pen(p);
  p.setBrush(body);
  p.drawRoundedRect(QRectF(x, y, 11, 22), 1.5, 1.5);
  p.drawLine(QPointF(x + 2.5, y + 5), QPointF(x + 8.5, y + 5));
  p.drawLine(QPointF(x + 2.5, y + 8.5), QPointF(x + 8.5, y + 8.5));
  p.setBrush(QColor(60, 200, 90));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(x + 5.5, y + 17), 1.8, 1.8);
}

void Page(QPainter& p, QRectF r) {
  Pen(p);
  p.setBrush(Qt::white);
  QPainterPath path;
  path.moveTo(r.left(), r.top());
  path.lineTo(r.right() - 6, r.top());
  path.lineTo(r.right(), r.top() + 6);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.drawPath(path);
  for (qreal y = r.top() + 8; y < r.bottom() - 3; y += 4) p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
  Pen(p, c, 3.0);
  p.drawLine(from, to);
  const qreal angle = std::atan2(to.y() - from.y(), to.x() - from.x());
  const qreal a = 0.55, len = 6;
  p.drawLine(to, to - QPointF(len * std::cos(angle - a), len * std::sin(angle - a)));
  p.drawLine(to, to - QPointF(len * std::cos(angle + a), len * std::sin(angle + a)));
}

void Plus(QPainter& p) {
  Pen(p, QColor(255, 255, 255), 1.0);
  p.setBrush(QColor(30, 140, 60));
  p.drawEllipse(QRectF(19, 19, 12, 12));
  Pen(p, Qt::white, 2.4);
  p.drawLine(QPointF(25, 21.5), QPointF(25, 28.5));
  p.drawLine(QPointF(21.5, 25), QPointF(28.5, 25));
}

void Printer(QPainter& p) {
  Pen(p);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(9, 3, 14, 10));
  p.setBrush(QColor(110, 110, 120));
  p.drawRoundedRect(QRectF(3, 11, 26, 12), 2, 2);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(8, 19, 16, 10));
  p.drawLine(QPointF(11, 23), QPointF(21, 23));
  p.drawLine(QPointF(11, 26), QPointF(19, 26));
}

void ExportGlyph(QPainter& p) {
  Page(p, QRectF(3, 3, 17, 25));
  Arrow(p, QPointF(12, 16), QPointF(29, 16), QColor(20, 130, 60));
}

void Star(QPainter& p, const QColor& fill) {
  QPainterPath path;
  for (int i = 0; i < 10; ++i) {
    const qreal r = (i % 2 == 0) ? 14 : 6;
    const qreal a = -M_PI / 2 + i * M_PI / 5;
    QPointF pt(16 + r * std::cos(a), 16.5 + r * std::sin(a));
    if (i == 0)
      path.moveTo(pt);
    else
      path.lineTo(pt);
  }
  path.closeSubpath();
  Pen(p, QColor(150, 100, 0));
  p.setBrush(fill);
  p.drawPath(path);
}

void Box(QPainter& p, bool ticked) {
  Pen(p);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5, 5, 22, 22));
  if (ticked) {
    Pen(p, QColor(20, 130, 60), 3.5);
    p.drawLine(QPointF(9, 16), QPointF(14, 22));
    p.drawLine(QPointF(14, 22), QPointF(24, 9));
  }
}

void Cylinder(QPainter& p, const QColor& fill) {
  Pen(p);
  p.setBrush(fill);
  QPainterPath body;
  body.moveTo(5, 8);
  body.lineTo(5, 25);
  body.arcTo(QRectF(5, 21, 22, 8), 180, 180);
  body.lineTo(27, 8);
  body.closeSubpath();
  p.drawPath(body);
  p.setBrush(fill.lighter(135));
  p.drawEllipse(QRectF(5, 4, 22, 8));
}

void Envelope(QPainter& p, QRectF r, const QColor& fill) {
  Pen(p);
  p.setBrush(fill);
  p.drawRect(r);
  QPainterPath flap;
  flap.moveTo(r.topLeft());
  flap.lineTo(r.center().x(), r.top() + r.height() * 0.6);
  flap.lineTo(r.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
}

void Person(QPainter& p, qreal x, qreal y, qreal s, const QColor& fill) {
  Pen(p);
  p.setBrush(fill.lighter(160));
  p.drawEllipse(QRectF(x + 3 * s, y, 6 * s, 6 * s));
  p.setBrush(fill);
  QPainterPath body;
  body.moveTo(x, y + 16 * s);
  body.cubicTo(x, y + 7 * s, x + 12 * s, y + 7 * s, x + 12 * s, y + 16 * s);
  body.closeSubpath();
  p.drawPath(body);
}

void Globe(QPainter& p, QRectF r, const QColor& fill) {
  Pen(p);
  p.setBrush(fill);
  p.drawEllipse(r);
  p.setBrush(Qt::NoBrush);
  Pen(p, kOutline, 1.0);
  p.drawEllipse(QRectF(r.center().x() - r.width() / 4, r.top(), r.width() / 2, r.height()));
  p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
}

void Gear(QPainter& p, const QColor& fill) {
  Pen(p);
  p.setBrush(fill);
  QPainterPath path;
  const int teeth = 8;
  for (int i = 0; i < teeth * 2; ++i) {
    const qreal r = (i % 2 == 0) ? 14 : 10.5;
    const qreal a0 = i * M_PI / teeth - M_PI / (teeth * 2);
    const qreal a1 = a0 + M_PI / teeth;
    QPointF p0(16 + r * std::cos(a0), 16 + r * std::sin(a0));
    QPointF p1(16 + r * std::cos(a1), 16 + r * std::sin(a1));
    if (i == 0)
      path.moveTo(p0);
    else
      path.lineTo(p0);
    path.lineTo(p1);
  }
  path.closeSubpath();
  p.drawPath(path);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(16, 16), 4, 4);
}

void Letters(QPainter& p, const char* text, const QColor& c, qreal size, QRectF where = QRectF(0, 0, 32, 32)) {
  QFont f("Sans");
  f.setBold(true);
  f.setPixelSize(static_cast<int>(size));
  p.setFont(f);
  p.setPen(c);
  p.drawText(where, Qt::AlignCenter, text);
}

void Link(QPainter& p, const QColor& c) {
  Pen(p, c, 3.0);
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(3, 11, 15, 10), 5, 5);
  p.drawRoundedRect(QRectF(14, 11, 15, 10), 5, 5);
}

void Folder(QPainter& p, const QColor& fill) {
  Pen(p);
  p.setBrush(fill.darker(115));
  QPainterPath back;
  back.moveTo(3, 8);
  back.lineTo(12, 8);
  back.lineTo(15, 11);
  back.lineTo(29, 11);
  back.lineTo(29, 27);
  back.lineTo(3, 27);
  back.closeSubpath();
  p.drawPath(back);
  p.setBrush(fill);
  p.drawRect(QRectF(3, 14, 26, 13));
}

Glyph GlyphFor(const std::string& key) {
  if (key == "Connect")
    return [](QPainter& p) {
      Pen(p, kOutline, 2.4);
      p.drawLine(QPointF(4, 28), QPointF(11, 21));
      p.setBrush(QColor(40, 160, 70));
      Pen(p);
      p.drawRoundedRect(QRectF(10, 10, 12, 12), 2, 2);
      Pen(p, kOutline, 2.6);
      p.drawLine(QPointF(19, 13), QPointF(26, 6));
      p.drawLine(QPointF(22, 17), QPointF(28, 11));
    };
  if (key == "Filter")
    return [](QPainter& p) {
      Pen(p);
      p.setBrush(QColor(60, 120, 210));
      QPolygonF funnel({QPointF(3, 5), QPointF(29, 5), QPointF(19, 17), QPointF(19, 27), QPointF(13, 29),
                        QPointF(13, 17)});
      p.drawPolygon(funnel);
    };
  if (key == "Customize")
    return [](QPainter& p) {
      Pen(p);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(3, 4, 26, 24));
      p.setBrush(QColor(60, 120, 210));
      p.drawRect(QRectF(3, 4, 26, 6));
      p.drawLine(QPointF(12, 4), QPointF(12, 28));
      p.drawLine(QPointF(20, 4), QPointF(20, 28));
    };
  if (key == "Export") return ExportGlyph;
  if (key == "Export+")
    return [](QPainter& p) {
      ExportGlyph(p);
      Plus(p);
    };
  if (key == "Preview")
    return [](QPainter& p) {
      Page(p, QRectF(3, 2, 18, 24));
      Pen(p, kOutline, 2.0);
      p.setBrush(QColor(200, 230, 255, 200));
      p.drawEllipse(QPointF(18, 17), 7, 7);
      Pen(p, kOutline, 3.5);
      p.drawLine(QPointF(23, 22), QPointF(29, 28));
    };
  if (key == "Print") return Printer;
  if (key == "Print+")
    return [](QPainter& p) {
      Printer(p);
      Plus(p);
    };
  if (key == "Favourites" || key == "Favorites") return [](QPainter& p) { Star(p, QColor(250, 200, 40)); };
  if (key == "Schedule")
    return [](QPainter& p) {
      Pen(p);
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(16, 16), 13, 13);
      Pen(p, kOutline, 2.2);
      p.drawLine(QPointF(16, 16), QPointF(16, 8));
      p.drawLine(QPointF(16, 16), QPointF(22, 19));
    };
  if (key == "Help")
    return [](QPainter& p) {
      Pen(p);
      p.setBrush(QColor(40, 100, 200));
      p.drawEllipse(QPointF(16, 16), 13, 13);
      Letters(p, "?", Qt::white, 20);
    };
  if (key == "Exit")
    return [](QPainter& p) {
      Pen(p);
      p.setBrush(QColor(150, 100, 60));
      p.drawRect(QRectF(4, 3, 14, 26));
      Arrow(p, QPointF(14, 16), QPointF(29, 16), QColor(200, 40, 40));
    };
  if (key == "Check") return [](QPainter& p) { Box(p, true); };
  if (key == "Uncheck") return [](QPainter& p) { Box(p, false); };
  if (key == "Server") return [](QPainter& p) { Tower(p, 10.5, 5, QColor(190, 195, 205)); };
  if (key == "Servers")
    return [](QPainter& p) {
      Tower(p, 3, 3, QColor(170, 175, 190));
      Tower(p, 17, 7, QColor(200, 205, 215));
    };
  if (key == "PrivateIS") return [](QPainter& p) { Cylinder(p, QColor(80, 140, 220)); };
  if (key == "PublicIS") return [](QPainter& p) { Cylinder(p, QColor(240, 150, 50)); };
  if (key == "SA")
    return [](QPainter& p) {
      Gear(p, QColor(150, 160, 175));
      Letters(p, "SA", QColor(20, 20, 90), 9);
    };
  if (key == "MTA")
    return [](QPainter& p) {
      Envelope(p, QRectF(3, 9, 20, 14), QColor(250, 230, 150));
      Arrow(p, QPointF(18, 26), QPointF(30, 26), QColor(20, 130, 60));
    };
  if (key == "Organization")
    return [](QPainter& p) {
      Pen(p);
      p.setBrush(QColor(170, 120, 90));
      p.drawRect(QRectF(6, 6, 20, 23));
      p.setBrush(QColor(210, 230, 250));
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) p.drawRect(QRectF(9 + c * 5.5, 9 + r * 5.5, 3.5, 3.5));
    };
  if (key == "Site") return [](QPainter& p) { Globe(p, QRectF(3, 3, 26, 26), QColor(90, 170, 230)); };
  if (key == "Configuration") return [](QPainter& p) { Gear(p, QColor(120, 150, 200)); };
  if (key == "Connections") return [](QPainter& p) { Link(p, QColor(90, 90, 100)); };
  if (key == "Connector") return [](QPainter& p) { Link(p, QColor(40, 130, 180)); };
  if (key == "SiteConnector")
    return [](QPainter& p) {
      Globe(p, QRectF(2, 2, 14, 14), QColor(90, 170, 230));
      Globe(p, QRectF(16, 16, 14, 14), QColor(90, 170, 230));
      Pen(p, QColor(40, 130, 60), 2.4);
      p.drawLine(QPointF(13, 13), QPointF(19, 19));
    };
  if (key == "Protocols")
    return [](QPainter& p) {
      Arrow(p, QPointF(4, 10), QPointF(28, 10), QColor(40, 120, 200));
      Arrow(p, QPointF(28, 22), QPointF(4, 22), QColor(200, 110, 40));
    };
  if (key == "MB") return [](QPainter& p) { Envelope(p, QRectF(3, 7, 26, 18), QColor(250, 230, 150)); };
  if (key == "DL")
    return [](QPainter& p) {
      Person(p, 2, 6, 1.1, QColor(60, 120, 200));
      Person(p, 15, 9, 1.1, QColor(60, 160, 90));
    };
  if (key == "CR")
    return [](QPainter& p) {
      Person(p, 2, 6, 1.2, QColor(150, 90, 170));
      Globe(p, QRectF(17, 16, 13, 13), QColor(90, 170, 230));
    };
  if (key == "PF") return [](QPainter& p) { Folder(p, QColor(245, 200, 90)); };
  if (key == "Newsfeed")
    return [](QPainter& p) {
      Page(p, QRectF(4, 4, 24, 24));
      p.setBrush(QColor(60, 60, 60));
      p.setPen(Qt::NoPen);
      p.drawRect(QRectF(7, 8, 8, 6));
    };
  if (key == "Recipients")
    return [](QPainter& p) {
      Pen(p);
      p.setBrush(QColor(200, 70, 60));
      p.drawRoundedRect(QRectF(5, 3, 22, 26), 2, 2);
      Person(p, 10, 8, 1.0, QColor(250, 240, 230));
    };
  return [key](QPainter& p) {
    Pen(p);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(4, 4, 24, 24));
    Letters(p, key.substr(0, 2).c_str(), kOutline, 11);
  };
}

QIcon Draw(const std::string& key) {
  Glyph glyph = GlyphFor(key);
  QIcon icon;
  for (int size : {16, 24, 32}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / 32.0, size / 32.0);
    glyph(p);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

void Fill(ImageList& list, std::initializer_list<const char*> keys) {
  for (const char* key : keys) list.Add(key, Draw(key));
}

}  // namespace

void FillImgListVLMR(ImageList& list) {
  Fill(list, {"Connect", "Filter", "Customize", "Export", "Preview", "Print", "Export+", "Print+", "Favourites",
              "Schedule", "Help", "Exit", "Servers", "Check", "Uncheck"});
}

void FillImgListTvw(ImageList& list) {
  Fill(list, {"SiteConnector", "Uncheck", "Check", "Favorites", "PrivateIS", "PublicIS", "SA", "MTA",
              "Organization", "Connections", "Connector", "CR", "DL", "MB", "Newsfeed", "PF", "Protocols",
              "Recipients", "Server", "Servers", "Site", "Configuration"});
}

void FillImgListTab(ImageList& list) {
  Fill(list, {"SiteConnector", "PrivateIS", "PublicIS", "SA", "MTA", "Organization", "Connections", "Connector",
              "CR", "DL", "MB", "Newsfeed", "PF", "Protocols", "Recipients", "Server", "Servers", "Site",
              "Configuration"});
}
