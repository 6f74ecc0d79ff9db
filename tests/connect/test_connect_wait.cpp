// The windows stay alive while the program waits: a connect to a server
// that accepts connections and never answers keeps the progress window
// painted, handles posted work, ends with its bound or at once on Cancel;
// and the splash is painted while it is shown.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "ConnectKit.h"
#include "InstanceLock.h"
#include "SanitizerOptions.h"
#include "WindowShots.h"
#include "frmAutoFormat.h"
#include "modStartup.h"

using namespace connect_test;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// A listening socket: connections complete through its backlog and are
// never answered.
class SilentSocket {
 public:
  SilentSocket() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentSocket() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Records when events of one type reach a watched object.
class EventProbe : public QObject {
 public:
  explicit EventProbe(QEvent::Type type) : type_(type) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == type_ && (!nameFilter.size() || watched->objectName() == nameFilter)) {
      ++count;
      last = Clock::now();
    }
    return false;
  }
  QString nameFilter;
  int count = 0;
  Clock::time_point last{};

 private:
  QEvent::Type type_;
};

// Types text as a user does: into the widget that has the focus.
void TypeIntoFocus(const QString& text) {
  for (QChar ch : text) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &release);
  }
}

// Pixels of a grab, inside `area`, that differ from the area's first pixel.
int InkIn(const QImage& image, const QRect& area) {
  const QRgb background = image.pixel(area.topLeft());
  int ink = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.pixel(x, y) != background) ++ink;
  return ink;
}

class ConnectWaitTest : public ConnectTest {
 protected:
  void SetUp() override {
    ConnectTest::SetUp();
    if (IsSkipped()) return;
    velmo::ads::SetWaitHook(DirectoryWaitHook);
  }
  void TearDown() override {
    velmo::ads::SetWaitHook(nullptr);
    velmo::ads::SetTimeouts(10, 120);
    ConnectTest::TearDown();
  }
};

}  // namespace

// A server typed in the connect dialog that accepts the connection and
// never answers, plain and "ldaps://" (whose TLS handshake never ends):
// while the connect waits, the progress window shows its caption and
// status text, an event posted to the main window is handled within
// 200 ms, and the connect either fails with the connect bound (2 s here)
// and the server's hint, or ends within 200 ms of Cancel with no message.
TEST_F(ConnectWaitTest, ProgressWindowStaysLiveAndCancelsAConnectToASilentServer) {
  SilentSocket silent;
  const QEvent::Type probeType = static_cast<QEvent::Type>(QEvent::registerEventType());
  for (const char* scheme : {"ldap", "ldaps"}) {
    for (bool cancel : {false, true}) {
      SCOPED_TRACE(std::string(scheme) + (cancel ? " cancelled" : " bound"));
      MapHosts({{"SILENT", std::string(scheme) + "://127.0.0.1:" + std::to_string(silent.port())}});
      velmo::ads::SetTimeouts(2, 2);
      ui->clear();

      frmConnect& dialog = ConnectDialog();
      dialog.show();
      dialog.activateWindow();
      Pump();
      auto* box = dialog.findChild<QComboBox*>("cboServerName");
      ASSERT_NE(box, nullptr);
      box->setFocus();
      Pump();
      TypeIntoFocus("SILENT");
      auto* ok = dialog.findChild<QPushButton*>("cmdOk");
      ASSERT_NE(ok, nullptr);

      EventProbe posted(probeType);
      main->installEventFilter(&posted);
      std::string title, status;
      int ink = -1;
      double postedAfter = -1;
      Clock::time_point postedAt{};
      bool cancelClicked = false;
      const Clock::time_point start = Clock::now();
      QTimer stages;
      stages.setInterval(10);
      QObject::connect(&stages, &QTimer::timeout, [&] {
        const double now = MsSince(start);
        frmAutoFormat* progress = gfrmAutoFormat;
        if (!progress) return;
        if (ink < 0 && now > 300) {
          title = progress->windowTitle().toStdString();
          status = progress->lblStatus->text().toStdString();
          const QImage grab = progress->grab().toImage();
          grab.save(QString::fromStdString((velmo::test::ShotFolder() / (std::string("progress-") + scheme + ".png")).string()));
          ink = InkIn(grab, progress->lblStatus->geometry());
          postedAt = Clock::now();
          QCoreApplication::postEvent(main, new QEvent(probeType));
        }
        if (posted.count > 0 && postedAfter < 0)
          postedAfter = std::chrono::duration<double, std::milli>(posted.last - postedAt).count();
        if (cancel && !cancelClicked && now > 600) {
          auto* button = progress->findChild<QPushButton*>("cmdCancel");
          ASSERT_NE(button, nullptr);
          EXPECT_TRUE(button->isVisible());
          cancelClicked = true;
          button->click();
        }
      });
      stages.start();
      ok->click();
      const double took = MsSince(start);
      stages.stop();
      main->removeEventFilter(&posted);

      EXPECT_FALSE(gbConnected);
      EXPECT_EQ(title, "Connecting to Server - 'SILENT'");
      EXPECT_EQ(status, "Connecting to Server - 'SILENT'");
      EXPECT_GT(ink, 50) << "the status text is drawn in the window";
      EXPECT_GE(postedAfter, 0) << "the posted event was handled during the wait";
      if (cancel) {
        // Cancel ends the wait before its bound: no "not operational"
        // message, and the log says it was cancelled.
        ASSERT_TRUE(cancelClicked);
        EXPECT_TRUE(ui->shown().empty()) << LastPrompt();
        EXPECT_NE(ErrorLog().find("ConnectToExchangeServer - Connecting to 'SILENT' cancelled."), std::string::npos);
      } else {
        EXPECT_GT(took, 1900);
        EXPECT_LT(took, 4000);
        ASSERT_EQ(ui->shown().size(), 1u);
        EXPECT_EQ(LastPrompt().rfind("Unable to connect to 'SILENT'.\r\nThe server is not operational.", 0), 0u)
            << LastPrompt();
      }
      EXPECT_EQ(gfrmConnect, &dialog) << "the dialog stays for another attempt";
      EXPECT_EQ(glngWindowCount, 0);
      UnloadConnectDialog();
      Pump();
    }
  }
}

// The splash is painted and events run while it is shown, instead of the
// thread sleeping through its time.
TEST(SplashWait, SplashIsPaintedWhileItIsShown) {
  App();
  velmo::test::TestHome home;
  auto ui = std::make_shared<ScriptedUi>();
  auto previousUi = velmo::ui::SetUi(ui);
  const MdifrmSeams savedSeams = Mdifrm::Seams();
  Mdifrm::Seams() = MdifrmSeams{};

  EventProbe paints(QEvent::Paint);
  paints.nameFilter = "frmSplash";
  QApplication::instance()->installEventFilter(&paints);
  bool splashUp = false;
  int paintsByThen = 0;
  int ink = 0;
  // Looks for the splash on screen and painted, from the event loop.
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (!splashUp && w->objectName() == "frmSplash" && w->isVisible() && paints.count > 0) {
        splashUp = true;
        const QImage grab = w->grab().toImage();
        grab.save(QString::fromStdString((velmo::test::ShotFolder() / "splash-during-connect.png").string()));
        ink = InkIn(grab, QRect(QPoint(0, 0), grab.size()));
        paintsByThen = paints.count;
      }
  });
  look.start(10);
  velmo::FileLock lock;
  StartUpResult started = StartUp(lock, 400);
  look.stop();
  QApplication::instance()->removeEventFilter(&paints);
  EXPECT_EQ(started.kind, StartUpResult::Started);
  EXPECT_TRUE(splashUp) << "the timer ran while the splash was shown";
  EXPECT_GE(paintsByThen, 1);
  EXPECT_GT(ink, 1000);
  if (started.window) started.window->close();
  Pump();
  lock.Unlock();
  gConn.reset();
  Mdifrm::Seams() = savedSeams;
  velmo::ui::SetUi(previousUi);
}

// A write that meets another program's write lock held for longer than
// 5 s waits it out and is done, the window handling posted work all the
// while: the other writer lets go only once that work has run.
TEST_F(ConnectWaitTest, AWriteWaitsOutAnotherWritersLongHoldWithTheWindowLive) {
  velmo::db::SetLockWaitHook(DatabaseLockWaitHook);  // as the program does
  std::atomic<int> stage{0};                              // 1 lock held, 2 posted work done, 3 let go
  std::thread other([&, file = gConn->FilePath().string()] {
    velmo::db::Connection conn;
    conn.Open(file);
    conn.BeginTrans();
    conn.Execute("insert into VELMORCFavourites values ('HOLDER', 'No', 'No')");
    stage = 1;
    std::this_thread::sleep_for(std::chrono::seconds(6));
    QMetaObject::invokeMethod(qApp, [&] { stage = 2; }, Qt::QueuedConnection);
    for (int i = 0; i < velmo::test::HangBound(3000) && stage != 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    conn.CommitTrans();
    stage = 3;
  });
  while (stage == 0) std::this_thread::yield();
  EXPECT_NO_THROW(gConn->Execute("insert into VELMORCFavourites values ('EX9', 'No', 'Yes')"));
  EXPECT_GE(stage, 2) << "the posted work waited for the write";
  while (stage != 3) Pump();
  other.join();
  velmo::db::SetLockWaitHook(nullptr);
  EXPECT_EQ(Favourites().size(), 2u);
}
