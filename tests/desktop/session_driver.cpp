// A user's session with the desktop program, played through its own windows.
// This library is preloaded into an unmodified tessellarium-gui running on a
// real X server; when the program builds its QApplication the session starts
// and, from a timer, does what a user does: it presses Help, presses + and
// picks the main image in the file dialog, opens the Tile Images List window,
// adds a folder of pictures and saves the list, sets the mosaic's size,
// presses Mosaic, answers the closing question and checks the mosaic written.
//
// Every step only looks at the windows and posts its click, so the modal
// dialogs the click opens run their own event loops while the timer goes on.
// The outcome goes to stderr: "session: passed", or "session: FAIL: ..." and
// then a picture of the screen is saved and the program ends with status 1.
//
// Environment: TESS_SESSION_DIR (required, an empty folder for the pictures,
// the list and the mosaic), TESS_SESSION_SECONDS (time allowed, default 60),
// TESS_SESSION_PLAN ("help": only press Help and end), TESS_SESSION_SHOT (where
// the picture of a failure goes).

#include <cstdio>
#include <cstdlib>
#include <functional>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace {

constexpr int kTiles = 48;
constexpr int kTickMs = 100;

void say(const QString& line) {
  std::fprintf(stderr, "session: %s\n", qPrintable(line));
  std::fflush(stderr);
}

/// A visible widget of type T named `name` in any shown window.
template <typename T = QWidget>
T* shown(const char* name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->isVisible()) continue;
    if (top->objectName() == QLatin1String(name))
      if (auto* self = qobject_cast<T*>(top)) return self;
    for (T* child : top->findChildren<T*>(QLatin1String(name)))
      if (child->isVisible()) return child;
  }
  return nullptr;
}

/// The click happens from the event loop, never inside the timer's slot: the
/// modal window it may open must not block the session.
void click(QAbstractButton* button) {
  QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
}

void type_into(QLineEdit* edit, const QString& text, bool confirm) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
  if (confirm) QTest::keyClick(edit, Qt::Key_Return);
}

// Pictures with some structure, so the tiles differ from each other and the
// main image has areas of several colours.
bool write_pictures(const QString& folder) {
  if (!QDir().mkpath(folder + QStringLiteral("/tiles"))) return false;
  for (int i = 0; i < kTiles; ++i) {
    QImage tile(120, 90, QImage::Format_RGB32);
    tile.fill(QColor::fromHsv((i * 47) % 360, 80 + (i * 13) % 170, 90 + (i * 29) % 160));
    QPainter paint(&tile);
    paint.setBrush(QColor::fromHsv((i * 47 + 180) % 360, 200, 220));
    paint.drawEllipse(20 + i % 40, 10 + i % 30, 50, 40);
    paint.end();
    if (!tile.save(folder + QStringLiteral("/tiles/tile%1.png").arg(i, 2, 10, QLatin1Char('0')))) return false;
  }
  QImage main(480, 360, QImage::Format_RGB32);
  QPainter paint(&main);
  QLinearGradient sky(0, 0, 480, 360);
  sky.setColorAt(0, QColor(30, 80, 200));
  sky.setColorAt(1, QColor(250, 200, 60));
  paint.fillRect(main.rect(), sky);
  paint.setBrush(QColor(200, 40, 40));
  paint.drawEllipse(140, 90, 200, 180);
  paint.end();
  return main.save(folder + QStringLiteral("/main.png"));
}

class Session : public QObject {
 public:
  explicit Session(const QString& folder) : m_folder(folder) {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("TESS_SESSION_SECONDS", &ok);
    m_limit_ms = (ok && seconds > 0 ? seconds : 60) * 1000;
    m_plan = qEnvironmentVariable("TESS_SESSION_PLAN");
    m_clock.start();
    m_since_step.start();
    connect(&m_timer, &QTimer::timeout, this, &Session::tick);
    m_timer.start(kTickMs);
  }

 private:
  using Step = std::function<bool()>;  // true once the step is done

  QString main_image() const { return m_folder + QStringLiteral("/main.png"); }
  QString tiles() const { return m_folder + QStringLiteral("/tiles"); }
  QString list_file() const { return m_folder + QStringLiteral("/holiday.tzc"); }

  [[noreturn]] void fail(const QString& why) {
    say(QStringLiteral("FAIL: %1 (while %2, after %3 s)").arg(why, m_doing).arg(m_clock.elapsed() / 1000.0));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QString shot = qEnvironmentVariable("TESS_SESSION_SHOT");
      if (!shot.isEmpty() && screen->grabWindow(0).save(shot)) say(QStringLiteral("the screen is in ") + shot);
    }
    std::_Exit(1);
  }

  void tick() {
    if (m_clock.elapsed() > m_limit_ms) fail(QStringLiteral("timed out"));
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      answer(box);
      return;
    }
    if (auto* progress = shown<QProgressBar>("progressBar")) m_most_progress = std::max(m_most_progress, progress->value());
    if (m_step < steps().size() && steps()[m_step]()) {
      ++m_step;
      m_since_step.restart();
    }
  }

  // The messages a session meets: the first start's question about updates,
  // the word that the saved list is ready, what the web page will link and
  // the question at the end of the run; anything else is a fault.
  void answer(QMessageBox* box) {
    if (box == m_answered) return;  // its click is on its way
    const QString text = box->text();
    QAbstractButton* reply = nullptr;
    if (text.contains(QStringLiteral("Mosaic completed"))) {
      reply = box->button(QMessageBox::No);
      m_completed = true;
    } else if (text.contains(QStringLiteral("check for new updates"))) {
      reply = box->button(QMessageBox::No);
      m_updates_asked = true;
    } else if (text.contains(QStringLiteral("You are ready to create a mosaic"))) {
      reply = box->button(QMessageBox::Ok);
    } else if (text.contains(QStringLiteral("pop-ups link the tile pictures"))) {
      // The default settings write a web mosaic whose pop-ups link the
      // pictures where they lie: the user is told before it is written.
      reply = box->button(QMessageBox::Ok);
    }
    if (reply == nullptr) fail(QStringLiteral("the program says: ") + text);
    say(QStringLiteral("answering %1 to: %2").arg(reply->text().remove(QLatin1Char('&')), text));
    m_answered = box;
    click(reply);
  }

  /// Types `path` into the file dialog on top and presses its accept button.
  bool choose_in_file_dialog(const QString& path) {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return false;
    if (dialog == m_filled) return false;
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (name == nullptr || buttons == nullptr) fail(QStringLiteral("the file dialog is not Qt's own"));
    // Set whole rather than typed key by key: a key typed while the dialog
    // still lists the folder it opened on can be lost to its completer.
    name->setFocus();
    name->setText(path);
    // The completer's list would take the click.
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    QAbstractButton* accept = nullptr;
    for (QAbstractButton* button : buttons->buttons())
      if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) accept = button;
    if (accept == nullptr) fail(QStringLiteral("the file dialog has no button to accept ") + path);
    // The dialog weighs what was typed against the folder it is still
    // reading: typed again on the next tick.
    if (!accept->isEnabled()) return false;
    m_filled = dialog;
    click(accept);
    return true;
  }

  QWidget* list_window() const {
    QWidget* add = shown("add_folder");
    return add != nullptr ? add->window() : nullptr;
  }

  /// Once the main window is up: tells what its Mosaic button reads (the
  /// language it speaks) and presses Help, whose guide goes to the browser.
  bool press_help() {
    auto* mosaic = shown<QAbstractButton>("mosaicButton");
    auto* help = shown<QAbstractButton>("helpButton");
    if (mosaic == nullptr || help == nullptr || QApplication::activeModalWidget() != mosaic->window()) return false;
    say(QStringLiteral("the Mosaic button reads ") + mosaic->text().remove(QLatin1Char('&')));
    m_doing = QStringLiteral("opening the user guide");
    click(help);
    return true;
  }

  void close_main_window() {
    auto* mosaic = shown<QAbstractButton>("mosaicButton");
    if (mosaic == nullptr) fail(QStringLiteral("the main window is gone"));
    QTimer::singleShot(0, mosaic->window(), [window = QPointer<QWidget>(mosaic->window())] {
      if (window) window->close();
    });
  }

  const std::vector<Step>& steps() {
    if (!m_steps.empty()) return m_steps;
    if (m_plan == QStringLiteral("help")) {
      // Only Help: a message box in the meantime (no browser, no guide) fails.
      m_steps = {[this] { return press_help(); },
                 [this] {
                   if (m_since_step.elapsed() < 1000) return false;
                   say(QStringLiteral("passed in %1 s").arg(m_clock.elapsed() / 1000.0));
                   close_main_window();
                   return true;
                 }};
      return m_steps;
    }
    m_steps = {
        [this] {
          m_doing = QStringLiteral("writing the pictures");
          if (!write_pictures(m_folder)) fail(QStringLiteral("cannot write pictures into ") + m_folder);
          m_doing = QStringLiteral("waiting for the main window");
          return true;
        },
        [this] { return press_help(); },
        [this] {
          // A first start asks about updates a moment after the window is up:
          // a file dialog open by then would have the question land on it.
          m_doing = QStringLiteral("waiting for the first start's question about updates");
          if (!m_updates_asked) return false;
          auto* add = shown<QAbstractButton>("imageAdd");
          if (add == nullptr || QApplication::activeModalWidget() != add->window()) return false;
          m_doing = QStringLiteral("adding the main image with the + button");
          click(add);
          return true;
        },
        [this] { return choose_in_file_dialog(main_image()); },
        [this] {
          auto* images = shown<QAbstractItemView>("mainImages");
          if (images == nullptr || images->model()->rowCount() != 1) return false;
          const QModelIndex first = images->model()->index(0, 0);
          if (!first.data(Qt::DisplayRole).toString().contains(QStringLiteral("main.png")) &&
              !first.data(Qt::ToolTipRole).toString().contains(QStringLiteral("main.png")))
            fail(QStringLiteral("the main images list shows ") + first.data(Qt::DisplayRole).toString());
          m_doing = QStringLiteral("opening the Tile Images List window");
          click(shown<QAbstractButton>("tileListButton"));
          return true;
        },
        [this] {
          // The window opens on the list in use (the example list): a new one is started.
          QWidget* window = list_window();
          if (window == nullptr || QApplication::activeModalWidget() != window) return false;
          m_doing = QStringLiteral("starting a new list");
          for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->text().remove(QLatin1Char('&')) == QStringLiteral("New List")) {
              click(button);
              return true;
            }
          fail(QStringLiteral("the list window has no New List button"));
        },
        [this] {
          QWidget* window = list_window();
          auto* folders = window != nullptr ? window->findChild<QListWidget*>(QStringLiteral("folders")) : nullptr;
          if (folders == nullptr || QApplication::activeModalWidget() != window || folders->count() != 0) return false;
          m_doing = QStringLiteral("adding the folder of tiles");
          click(window->findChild<QAbstractButton*>(QStringLiteral("add_folder")));
          return true;
        },
        [this] { return choose_in_file_dialog(tiles()); },
        [this] {
          QWidget* window = list_window();
          auto* folders = window != nullptr ? window->findChild<QListWidget*>(QStringLiteral("folders")) : nullptr;
          if (folders == nullptr || QApplication::activeModalWidget() != window || folders->count() != 1) return false;
          m_doing = QStringLiteral("saving the list");
          click(window->findChild<QAbstractButton*>(QStringLiteral("save_list")));
          return true;
        },
        [this] { return choose_in_file_dialog(list_file()); },
        [this] {
          // Saving analyses every picture, then shows them all.
          m_doing = QStringLiteral("waiting for the list's analysis");
          QWidget* window = list_window();
          auto* all = window != nullptr ? window->findChild<QListView*>(QStringLiteral("all_images")) : nullptr;
          if (all == nullptr || !all->isVisible() || all->model()->rowCount() != kTiles) return false;
          if (QApplication::activeModalWidget() != window || !QFileInfo(list_file()).isFile()) return false;
          m_doing = QStringLiteral("closing the list window");
          auto* close = window->findChild<QDialogButtonBox*>();
          if (close == nullptr || close->buttons().isEmpty()) fail(QStringLiteral("the list window has no Close"));
          click(close->buttons().front());
          return true;
        },
        [this] {
          if (list_window() != nullptr) return false;
          // The path may be shortened to fit; its tool tip holds it whole.
          auto* path = shown<QLabel>("tileListPath");
          if (path == nullptr || (path->text() != list_file() && path->toolTip() != list_file())) return false;
          m_doing = QStringLiteral("setting the mosaic's size");
          auto* size = shown<QComboBox>("mosaicSize");
          auto* tile = shown<QLineEdit>("tileSize");
          auto* spacing = shown<QLineEdit>("duplicateSpacing");
          if (size == nullptr || size->lineEdit() == nullptr || tile == nullptr || spacing == nullptr)
            fail(QStringLiteral("the size fields are missing"));
          type_into(size->lineEdit(), QStringLiteral("1200 pixels"), true);
          type_into(tile, QStringLiteral("60 pixels"), true);
          // A few dozen pictures fill every cell only with repeats close together.
          type_into(spacing, QStringLiteral("2 tiles"), true);
          return true;
        },
        [this] {
          // The summary's promise is what the file must hold.
          auto* summary = shown<QLabel>("summary");
          if (summary == nullptr) fail(QStringLiteral("no summary"));
          for (const QString& line : summary->text().split(QLatin1Char('\n'))) {
            if (!line.startsWith(QStringLiteral("Final Mosaic:"))) continue;
            QRegularExpressionMatch match;
            auto it = QRegularExpression(QStringLiteral("([\\d,.]+) x ([\\d,.]+)")).globalMatch(line);
            while (it.hasNext()) match = it.next();
            const auto number = [](QString text) { return text.remove(QRegularExpression(QStringLiteral("\\D"))).toInt(); };
            if (match.hasMatch()) m_expected = QSize(number(match.captured(1)), number(match.captured(2)));
          }
          if (m_expected.width() <= 0 || std::max(m_expected.width(), m_expected.height()) > 1200)
            fail(QStringLiteral("the summary promises no fitting mosaic: ") + summary->text());
          say(QStringLiteral("the summary promises %1 x %2 pixels").arg(m_expected.width()).arg(m_expected.height()));
          m_doing = QStringLiteral("building the mosaic");
          click(shown<QAbstractButton>("mosaicButton"));
          return true;
        },
        [this] {
          auto* button = shown<QAbstractButton>("mosaicButton");
          if (!m_completed || button == nullptr || button->isChecked()) return false;
          if (QApplication::activeModalWidget() != button->window()) return false;
          m_doing = QStringLiteral("checking the mosaic file");
          check_mosaic();
          close_main_window();
          return true;
        },
    };
    return m_steps;
  }

  void check_mosaic() {
    QStringList written;
    for (QDirIterator it(m_folder, {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
      if (const QString file = it.next(); QFileInfo(file).fileName().contains(QStringLiteral("Mosaic")))
        written << file;
    if (written.size() != 1) fail(QStringLiteral("mosaic files written: ") + written.join(QStringLiteral(", ")));
    QImageReader reader(written.front());
    const QImage mosaic = reader.read();
    if (mosaic.isNull()) fail(written.front() + QStringLiteral(" does not decode: ") + reader.errorString());
    if (mosaic.size() != m_expected)
      fail(QStringLiteral("%1 is %2 x %3 pixels").arg(written.front()).arg(mosaic.width()).arg(mosaic.height()));
    // A mosaic of tiles is not one flat colour.
    if (mosaic.pixel(mosaic.width() / 4, mosaic.height() / 4) == mosaic.pixel(mosaic.width() / 2, mosaic.height() / 2) &&
        mosaic.pixel(0, 0) == mosaic.pixel(mosaic.width() - 1, mosaic.height() - 1))
      fail(written.front() + QStringLiteral(" looks blank"));
    say(QStringLiteral("%1 holds %2 x %3 pixels; the progress bar reached %4%")
            .arg(written.front())
            .arg(mosaic.width())
            .arg(mosaic.height())
            .arg(m_most_progress / 100));
    say(QStringLiteral("passed in %1 s").arg(m_clock.elapsed() / 1000.0));
  }

  QString m_folder;
  QString m_plan;  // "help": only Help; else the whole session
  int m_limit_ms = 60000;
  QElapsedTimer m_clock;
  QElapsedTimer m_since_step;
  QTimer m_timer;
  std::vector<Step> m_steps;
  std::size_t m_step = 0;
  QString m_doing = QStringLiteral("starting");
  QPointer<QFileDialog> m_filled;
  QPointer<QMessageBox> m_answered;
  bool m_updates_asked = false;
  bool m_completed = false;
  int m_most_progress = 0;
  QSize m_expected;
};

// Runs inside the QApplication constructor, once the window system is up.
void start_session() {
  const QString folder = qEnvironmentVariable("TESS_SESSION_DIR");
  if (folder.isEmpty()) return;
  QTimer::singleShot(0, QCoreApplication::instance(), [folder] {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) new Session(folder);
  });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(start_session)
