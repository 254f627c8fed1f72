// tessellarium-gui: the desktop program. It applies the interface language,
// reads the command line (-A, -I, -M, -O) and opens the main window, the
// start menu or About. A hidden "--screenshots DIR" opens every window in
// turn and saves a picture of each, for looking at them without clicking.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QIcon>
#include <QTemporaryDir>
#include <QTimer>

#include <curl/curl.h>

#include "app/app_options.hpp"
#include "app/update_check_worker.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "images/foto.hpp"
#include "output/mosaic_saver.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
#include "settings/settings_file.hpp"
#include "settings/user_state.hpp"
#include "settings/units.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/tile_image_list.hpp"
#include "ui/advanced_settings_window.hpp"
#include "ui/extraction_dialog.hpp"
#include "ui/icons.hpp"
#include "ui/main_window.hpp"
#include "ui/picture_view.hpp"
#include "ui/property_editor.hpp"
#include "ui/qt_prompt.hpp"
#include "ui/settings_dialogs.hpp"
#include "ui/windows.hpp"
#include "video/avi_create.hpp"
#include "video/avi_stream.hpp"
#include "video/clip_frames.hpp"

namespace tess {
namespace {

bool save_grab(QWidget& widget, const QString& folder, const QString& name) {
  QCoreApplication::processEvents();
  return widget.grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

// Runs `open` (a window entry that blocks until its window closes), grabs the
// modal window it shows once it has settled and closes it again.
void grab_modal(const QString& folder, const QString& name, const std::function<void()>& open) {
  QElapsedTimer seen;
  QWidget* shown = nullptr;
  QTimer poll;
  poll.setInterval(100);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (modal != shown) {
      shown = modal;
      seen.start();
      return;
    }
    if (seen.elapsed() < 400) return;
    modal->grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
    // Any window it opened on top is grabbed under its own name next.
    QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    shown = nullptr;
  });
  poll.start();
  open();
  poll.stop();
}

// A short film for the extraction window's screenshot: a hue sweep with a
// moving bar, written with the program's own video writer.
bool write_sample_film(const std::filesystem::path& path) {
  CAviCreate film;
  if (!film.create(path, 320, 180, 0, 25 * 500)) return false;
  Foto frame;
  if (!frame.try_allocate(320, 180)) return false;
  for (int k = 0; k < 30; ++k) {
    for (int y = 0; y < 180; ++y)
      for (int x = 0; x < 320; ++x) {
        const bool bar = x / 20 == k % 16;
        frame.at(x, y) = bar ? make_pixel(250, 250, 250)
                             : make_pixel(static_cast<std::uint8_t>(x * 255 / 320), static_cast<std::uint8_t>(y * 255 / 180),
                                          static_cast<std::uint8_t>(120 + k * 4));
      }
    if (!film.write(frame)) return false;
  }
  return film.close();
}

// A photo-like main image for the main window's screenshot: sky, hills and a sun.
QImage sample_photo() {
  QImage photo(640, 427, QImage::Format_RGB32);
  QPainter painter(&photo);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 300);
  sky.setColorAt(0, QColor(40, 90, 170));
  sky.setColorAt(1, QColor(240, 190, 140));
  painter.fillRect(photo.rect(), sky);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 220, 120));
  painter.drawEllipse(QPointF(450, 190), 46, 46);
  painter.setBrush(QColor(60, 110, 70));
  painter.drawEllipse(QPointF(160, 470), 360, 190);
  painter.setBrush(QColor(40, 80, 55));
  painter.drawEllipse(QPointF(560, 500), 330, 170);
  return photo;
}

// A folder of small tile pictures in many colours and its analysed list,
// for the screenshot of a run in progress; the list file's path, or empty.
std::string write_sample_tile_list(const QString& folder) {
  const QDir dir(folder);
  if (!dir.mkpath(QStringLiteral("tiles"))) return {};
  for (int i = 0; i < 90; ++i) {
    QImage tile(96, 72, QImage::Format_RGB32);
    QPainter painter(&tile);
    const QColor base = QColor::fromHsv((i * 37) % 360, 60 + (i * 53) % 190, 40 + (i * 71) % 215);
    QLinearGradient light(0, 0, 96, 72);
    light.setColorAt(0, base.lighter(130));
    light.setColorAt(1, base.darker(130));
    painter.fillRect(tile.rect(), light);
    painter.setPen(Qt::NoPen);
    painter.setBrush(base.lighter(160));
    painter.drawEllipse(QPointF(20 + (i * 13) % 56, 16 + (i * 7) % 40), 12, 12);
    painter.end();
    if (!tile.save(dir.filePath(QStringLiteral("tiles/tile%1.jpg").arg(i)), "JPG", 90)) return {};
  }
  TileImageList list;
  list.add_item(FolderKind::include, dir.filePath(QStringLiteral("tiles")).toStdString(), true);
  list.set_path(dir.filePath(QStringLiteral("tiles.tzc")).toStdString());
  SilentPrompt quiet;
  ListAnalysis analysis(list, quiet);
  return analysis.run(1, false) == ListSaveResult::saved ? list.path() : std::string();
}

// The main window during a run: a large mosaic of the sample photo, caught
// while its tiles are being placed. The run goes on in `work` until the window
// goes, which stops it. Its settings, "Sample Run", name the sample list there.
bool grab_run_in_progress(MainWindow& window, const QString& work, const QString& folder) {
  const QString photo = QDir(work).filePath(QStringLiteral("sample-photo.jpg"));
  if (!sample_photo().save(photo, "JPG", 92)) return false;
  if (!window.select_settings("Sample Run")) return false;
  window.remove_all_main_images();
  window.add_main_images({photo.toStdString()});
  window.mosaic_clicked();
  if (!window.run_active()) return false;
  // The window's own timer polls twice a second; polled more often here the
  // picture is caught with about half of the tiles placed.
  const QString preview = QString::fromStdString(tr("Mosaic Preview"));
  QElapsedTimer waited;
  waited.start();
  while (window.run_active() && waited.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    window.tick();
    if (window.picture_title() == preview && window.progress_value() >= 4300) break;
  }
  const bool caught = window.run_active() && window.picture_title() == preview;
  return save_grab(window, folder, QStringLiteral("main_window_running")) && caught;
}

int take_screenshots(const QString& folder, QtPrompt& prompt, const ConfigFile& config) {
  QDir().mkpath(folder);
  const UserState state(config);
  int failures = 0;

  // A saved setting of the user's own, so that its buttons show as they do for a user.
  const MosaicParameters defaults = MosaicParameters::created(config.read());
  if (!SettingsFile().save("My Settings", defaults, {}, false)) ++failures;
  // Outlives the window, whose end stops the run that reads from it.
  QTemporaryDir run_folder;
  const std::string sample_list = run_folder.isValid() ? write_sample_tile_list(run_folder.path()) : std::string();
  if (sample_list.empty()) ++failures;
  {
    MosaicParameters run = defaults;
    run.mosaic_size = {3600, 2400, kUnitPixel};
    run.tile_size = {30, kUnitPixel};
    run.advanced.set_value(kOptMosaicFastPreview, "0");
    run.web_output = false;
    if (!SettingsFile().save("Sample Run", run, sample_list, false)) ++failures;
  }

  MainWindow window(prompt, config);
  prompt.set_parent(&window);
  window.resize(1280, 800);
  window.show();
  QCoreApplication::processEvents();
  if (!window.grab().save(QDir(folder).filePath(QStringLiteral("main_window_empty.png")))) ++failures;

  // The same window with a main image chosen and the user's setting selected.
  const QString sample = QDir(folder).filePath(QStringLiteral("sample-photo.png"));
  if (sample_photo().save(sample)) window.add_main_images({sample.toStdString()});
  if (!window.select_settings("My Settings")) ++failures;
  if (!save_grab(window, folder, QStringLiteral("main_window"))) ++failures;
  QFile::remove(sample);

  {
    // Buttons as the main window wires them, so they show enabled.
    PropertyActions actions;
    actions.check_now = [] {};
    actions.show_advanced = [](AdvancedOptions&) { return false; };
    MoreOptionsDialog more(&window, window.parameters(), &state, prompt, std::move(actions));
    more.show();
    if (!save_grab(more, folder, QStringLiteral("more_options"))) ++failures;
  }
  {
    // A preview-like picture: a soft diagonal gradient.
    std::vector<std::uint32_t> pixels(480 * 320);
    for (int y = 0; y < 320; ++y)
      for (int x = 0; x < 480; ++x)
        pixels[static_cast<std::size_t>(y) * 480 + static_cast<std::size_t>(x)] =
            static_cast<std::uint32_t>(x * 255 / 480) | static_cast<std::uint32_t>(y * 255 / 320) << 8 |
            static_cast<std::uint32_t>(160) << 16;
    PictureViewDialog view(&window, picture_image({480, 320, pixels.data()}), QString::fromStdString(tr("Mosaic Preview")));
    view.show();
    if (!save_grab(view, folder, QStringLiteral("picture_view"))) ++failures;
  }
  {
    StartMenu menu(prompt, &window);
    menu.show();
    if (!save_grab(menu, folder, QStringLiteral("start_menu"))) ++failures;
  }

  // The windows of the other entry functions, each opened as the main window opens it.
  grab_modal(folder, QStringLiteral("tile_list_window"), [&] {
    std::string list = sample_list;
    run_tile_list_window(&window, list, config, state);
  });
  grab_modal(folder, QStringLiteral("split_dialog"), [&] {
    SplitPieceSize size;
    run_split_dialog(&window, window.parameters(), 12000, 9000, 300, 225, size);
  });
  grab_modal(folder, QStringLiteral("advanced_settings"), [&] {
    AdvancedOptions options = window.parameters().advanced;
    run_advanced_settings(&window, options, config, prompt);
  });
  // The save window and the delete question as the main window's buttons open them.
  grab_modal(folder, QStringLiteral("save_settings"), [&] {
    std::string name = "My Settings";
    if (run_save_settings_dialog(&window, SettingsFile(), window.parameters(), window.tile_list().path(), prompt, name))
      ++failures;  // the grab cancels it
  });
  grab_modal(folder, QStringLiteral("delete_settings"), [&] {
    prompt.ask(tr(kDeleteSettingsQuestion), Buttons::yes_no, Answer::no, Icon::question);
  });
  grab_modal(folder, QStringLiteral("about"), [&] { show_about_dialog(&window, state); });
  grab_modal(folder, QStringLiteral("language"), [&] {
    std::string locale;
    run_language_dialog(&window, locale);
  });
  {
    const std::filesystem::path film = std::filesystem::path(folder.toStdString()) / "sample-film.avi";
    CAviStream stream;
    if (write_sample_film(film) && stream.open(film)) {
      ExtractionDialog extraction(stream, prompt, &window);
      extraction.show();
      if (!save_grab(extraction, folder, QStringLiteral("extraction_dialog"))) ++failures;
    } else {
      ++failures;
    }
    stream.close();
    std::error_code error;
    std::filesystem::remove(film, error);
  }
  grab_modal(folder, QStringLiteral("message_box"), [&] {
    prompt.message(tr("Please load or create a Tile Images List. This List will be used to build the Mosaic."),
                   Icon::warning);
  });
  // Last: the run is stopped as the window closes, before any question of its end.
  if (sample_list.empty() || !grab_run_in_progress(window, run_folder.path(), folder)) ++failures;
  window.hide();
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

// Takes "--screenshots DIR" out of the arguments.
QString take_screenshot_option(int& argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) != "--screenshots" || i + 1 >= argc) continue;
    QString folder = QString::fromLocal8Bit(argv[i + 1]);
    for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
    argc -= 2;
    return folder;
  }
  return {};
}

// --help and --version are answered before any window or display is
// needed, so that they work in a terminal without a desktop, as in scripts
// and package checks. True when one was answered.
bool answered_help_or_version(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--version") {
      std::fputs(version_text().c_str(), stdout);
      return true;
    }
    if (argument == "--help" || argument == "-h") {
      std::fputs(
          "Usage: tessellarium-gui [-I IMAGE [-O MOSAIC]] [-A] [-M] [LIST.tzc]\n"
          "The desktop program of Tessellarium: photographic mosaics in a window.\n"
          "\n"
          "Options (the letters in either case):\n"
          "  -I IMAGE        start with IMAGE as the main image\n"
          "  -O MOSAIC       the mosaic's file for the image of -I\n"
          "  -A              show the About window\n"
          "  -M              show the start menu\n"
          "  LIST.tzc        open this Tile Images List\n"
          "  -h, --help      print this help and exit\n"
          "      --version   print the version and the licence and exit\n"
          "\n"
          "Mosaics from scripts and batches: tessellarium(1).\n",
          stdout);
      return true;
    }
  }
  return false;
}

int run_gui(int argc, char** argv) {
  if (answered_help_or_version(argc, argv)) return EXIT_SUCCESS;
  const QString screenshots = take_screenshot_option(argc, argv);
  QApplication app(argc, argv);
  // The menu entry and the icon an installation puts where the desktop looks:
  // the window system matches the windows to the entry by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tessellarium.Tessellarium"));
  // Every window shows it; an uninstalled build falls back to the drawn one.
  QApplication::setWindowIcon(application_icon());
  std::srand(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));

  // The language comes first: every text after this is translated.
  const ConfigFile config;
  const UserState state(config);
  apply_language(state.get_text("Locale"));
  curl_global_init(CURL_GLOBAL_ALL);
  // Clips in Tile Images Lists are read by the video layer.
  set_clip_reader(read_clip_sample);

  QtPrompt prompt(nullptr, &state);
  const CommandLine line = parse_command_line(join_arguments(argc - 1, argv + 1));

  int status = EXIT_SUCCESS;
  if (!screenshots.isEmpty()) {
    status = take_screenshots(screenshots, prompt, config);
  } else if (line.start_menu) {
    StartMenu menu(prompt);
    prompt.set_parent(&menu);
    menu.exec();
  } else if (line.about) {
    show_about_dialog(nullptr, state);
  } else {
    MainWindow window(prompt, config, {line.main_image, line.output});
    prompt.set_parent(&window);
    // A list opened from a file manager replaces the one the settings named;
    // the window reports a list it cannot use.
    if (const std::string list = tile_list_argument(argc - 1, argv + 1); !list.empty()) window.load_tile_list(list);
    window.set_update_check(
        [&window, &config, &prompt](bool manual) { start_update_check(&window, config, prompt, manual); });
    window.exec();
  }
  curl_global_cleanup();
  return status;
}

}  // namespace
}  // namespace tess

int main(int argc, char** argv) {
  // A file that reaches the size limit fails its write (EFBIG) and is
  // reported like a full disk, instead of the signal ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  return tess::run_gui(argc, argv);
}
