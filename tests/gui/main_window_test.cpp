// The main window, the Qt prompt, the picture view and "More Options", driven
// on the offscreen platform with a tile library and main image the tests
// write themselves, and a settings folder of their own.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include "base/paths.hpp"
#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "cli/mosaic_command.hpp"
#include "engine/colour_fidelity.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
#include "settings/geometry.hpp"
#include "settings/settings_file.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/list_file.hpp"
#include "ui/gap_report_window.hpp"
#include "ui/main_window.hpp"
#include "ui/picture_view.hpp"
#include "ui/property_editor.hpp"
#include "ui/qt_prompt.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::TempDir;

/// A settings folder of the test's own, a main image and an analysed list
/// of 30 uniform tiles.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_settings_folder();
    fs::create_directories(m_dir / "tiles");
    for (int i = 0; i < 30; ++i) {
      Foto tile;
      tile.try_allocate_fill(64, 48, make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256));
      ASSERT_TRUE(testing::write_jpeg(m_dir / "tiles" / ("t" + std::to_string(i) + ".jpg"), tile,
                                      testing::JpegSpec().with_quality(90)));
    }
    ASSERT_TRUE(testing::write_jpeg(m_dir / "photo.jpg", testing::JpegSpec(400, 300),
                                    [](int y, std::uint8_t* rgb) { testing::photo_like_row(400, y, rgb); }));
    TileImageList list;
    list.add_item(FolderKind::include, (m_dir / "tiles").string(), true);
    list.set_path(list_file());
    ScriptedPrompt quiet;
    ListAnalysis analysis(list, quiet);
    ASSERT_EQ(analysis.run(1, false), ListSaveResult::saved);
  }
  void TearDown() override { reset_settings_folder(); }

  std::string list_file() const { return (m_dir / "tiles.tzc").string(); }
  std::string photo() const { return (m_dir / "photo.jpg").string(); }

  /// Starts the next window with these parameters, as a run left them.
  void start_with(int width, int height, double tile_pixels, bool fast_preview = false) {
    MosaicParameters params = MosaicParameters::created(ConfigFile().read());
    params.advanced.set_value(kOptMosaicFastPreview, fast_preview ? "1" : "0");
    params.mosaic_size = {static_cast<double>(width), static_cast<double>(height), kUnitPixel};
    params.tile_size = {tile_pixels, kUnitPixel};
    params.web_output = false;
    params.duplicate_spacing = 1;
    ASSERT_TRUE(SettingsFile().save(kAutoSaveSection, params, list_file(), true));
  }

  std::unique_ptr<MainWindow> make_window(MainWindowOptions options = {}) {
    auto window = std::make_unique<MainWindow>(m_prompt, ConfigFile(), std::move(options));
    ShellActions shell;
    shell.beep = [this] { ++m_beeps; };
    shell.open_path = [this](const std::string& path) {
      m_opened.push_back(path);
      return true;
    };
    window->set_shell_actions(shell);
    return window;
  }

  static void type_into(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }

  static QString line_starting(const QStringList& lines, const QString& start) {
    for (const QString& line : lines)
      if (line.startsWith(start)) return line;
    return {};
  }

  /// Follows the run tick by tick; the progress values seen, in order.
  static std::vector<int> follow_run(MainWindow& window) {
    std::vector<int> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (window.run_active() && std::chrono::steady_clock::now() < deadline) {
      QTest::qWait(50);
      window.tick();
      seen.push_back(window.progress_value());
    }
    return seen;
  }

  bool asked(const std::string& text) const {
    for (const auto& call : m_prompt.calls())
      if (call.kind == ScriptedPrompt::Kind::ask && call.text == text) return true;
    return false;
  }

  TempDir m_dir;
  ScopedEnv m_config{"TESSELLARIUM_CONFIG_PATH", (m_dir / "settings").string()};
  ScriptedPrompt m_prompt;
  int m_beeps = 0;
  std::vector<std::string> m_opened;
};

TEST_F(MainWindowTest, SummaryFollowsImageListSizeTileSizeAndPattern) {
  auto window = make_window();
  EXPECT_EQ(window->validation_text().toStdString(), tr("Please add an Image using the + button"));

  window->add_main_images({photo()});
  ASSERT_TRUE(window->load_tile_list(list_file()));
  EXPECT_EQ(window->validation_text().toStdString(), tr("All Parameters are correct :-)"));
  EXPECT_TRUE(line_starting(window->summary_texts(), "List Type:").contains("images"));

  auto* size = window->findChild<QComboBox*>("mosaicSize");
  auto* tile = window->findChild<QLineEdit*>("tileSize");
  auto* pattern = window->findChild<QComboBox*>("pattern");
  ASSERT_TRUE(size && tile && pattern);

  const QString final_before = line_starting(window->summary_texts(), "Final Mosaic:");
  type_into(size->lineEdit(), "800 x 600 pixel");
  EXPECT_EQ(window->parameters().mosaic_size, (SizeValue{800, 600, kUnitPixel}));
  const QString final_after = line_starting(window->summary_texts(), "Final Mosaic:");
  EXPECT_NE(final_after, final_before);
  EXPECT_TRUE(final_after.contains("800 x 600")) << final_after.toStdString();

  type_into(tile, "40 pixels");
  EXPECT_EQ(window->parameters().tile_size, (UnitValue{40, kUnitPixel}));
  EXPECT_TRUE(line_starting(window->summary_texts(), "Tile Size:").contains("40 x 30")) <<
      line_starting(window->summary_texts(), "Tile Size:").toStdString();
  EXPECT_TRUE(line_starting(window->summary_texts(), "Tile Pattern:").contains("20 x 20"));

  const QString count_before = line_starting(window->summary_texts(), "Tile Count:");
  const int parquet = pattern->findData(pattern_number(PatternCode::parquet_1to1));
  ASSERT_GE(parquet, 0);
  pattern->setCurrentIndex(parquet);
  emit pattern->activated(parquet);
  EXPECT_EQ(window->parameters().pattern, PatternCode::parquet_1to1);
  EXPECT_NE(line_starting(window->summary_texts(), "Tile Count:"), count_before);
  EXPECT_TRUE(line_starting(window->summary_texts(), "Tile Type:").contains("(P)"));
}

TEST_F(MainWindowTest, WithoutAMainImageTheSummarySaysSoOnceAndADropAddsOne) {
  auto window = make_window();
  const QStringList empty = window->summary_texts();
  for (const QString& line : empty) EXPECT_FALSE(line.contains("nnn")) << line.toStdString();
  EXPECT_EQ(empty.count(QString::fromStdString(tr("Please add an Image using the + button"))), 1) << empty.join('|').toStdString();
  EXPECT_TRUE(line_starting(empty, "Tile Type:").isEmpty());
  EXPECT_FALSE(window->picture_shown());

  // Only pictures and lists are taken from a drop.
  const auto drop = [&window](const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dropped);
    return true;
  };
  EXPECT_FALSE(drop({(m_dir / "notes.txt").string()}));
  ASSERT_TRUE(drop({photo(), list_file()}));
  EXPECT_EQ(window->main_images(), std::vector<std::string>{photo()});
  EXPECT_EQ(window->tile_list().path(), list_file());
  EXPECT_EQ(line_starting(window->summary_texts(), "Main Image:").toStdString(),
            format(tr("Main Image: %s"), "400 x 300 pixels"));
  EXPECT_FALSE(line_starting(window->summary_texts(), "Tile Type:").isEmpty());
  EXPECT_TRUE(window->picture_shown());
  EXPECT_EQ(window->picture_title().toStdString(), tr("Main Image"));
}

TEST_F(MainWindowTest, DeleteAsksAboutTheSelectedSettingsAndRemovesThem) {
  ASSERT_TRUE(SettingsFile().save("Mine", MosaicParameters::created(ConfigFile().read()), {}, false));
  auto window = make_window();
  ASSERT_TRUE(window->select_settings("Mine"));
  // Any window opened instead of the question would hold the test: close it and fail.
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      ADD_FAILURE() << "a window opened: " << modal->windowTitle().toStdString();
      QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    }
  });
  guard.start(200);
  m_prompt.plan_answer(Answer::no);
  QTest::mouseClick(window->findChild<QAbstractButton*>("settingsDelete"), Qt::LeftButton);
  EXPECT_TRUE(window->settings_names().contains("Mine"));
  m_prompt.plan_answer(Answer::yes);
  QTest::mouseClick(window->findChild<QAbstractButton*>("settingsDelete"), Qt::LeftButton);
  EXPECT_FALSE(window->settings_names().contains("Mine"));
  EXPECT_FALSE(SettingsFile().contains("Mine"));
  const auto calls = m_prompt.calls();
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& call : calls) EXPECT_EQ(call.text, tr("Do you want to delete the selected Settings?"));
}

TEST_F(MainWindowTest, VariantMenuAddsAndRemovesOneVariantAndShowsTheSet) {
  auto window = make_window();
  auto* button = window->findChild<QToolButton*>("tileVariants");
  ASSERT_NE(button, nullptr);
  QAction* flip = nullptr;
  QAction* mirror = nullptr;
  for (QAction* action : button->menu()->actions()) {
    if (action->text() == "Flip Vertically") flip = action;
    if (action->text() == "Mirror") mirror = action;
  }
  ASSERT_TRUE(flip != nullptr && mirror != nullptr);
  const TileVariantFlags before = window->parameters().tile_variants;
  ASSERT_FALSE(before.contains(TileVariant::flip_vertically));
  EXPECT_FALSE(flip->isChecked());
  EXPECT_TRUE(mirror->isChecked());

  flip->setChecked(true);
  EXPECT_EQ(window->parameters().tile_variants, before | TileVariant::flip_vertically);
  EXPECT_TRUE(button->text().contains("Flip Vertically")) << button->text().toStdString();
  mirror->setChecked(false);
  flip->setChecked(false);
  EXPECT_EQ(window->parameters().tile_variants, before.without(TileVariant::mirror));
  EXPECT_FALSE(button->text().contains("Mirror")) << button->text().toStdString();
}

TEST_F(MainWindowTest, RefusedEntryIsReportedAndKeepsTheValueAndTheFocus) {
  auto window = make_window();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  window->activateWindow();
  auto* tile = window->findChild<QLineEdit*>("tileSize");
  const UnitValue before = window->parameters().tile_size;
  tile->setFocus();
  type_into(tile, "40 bananas");
  EXPECT_EQ(window->parameters().tile_size, before);
  ASSERT_EQ(m_prompt.messages().size(), 1u);
  EXPECT_EQ(m_prompt.messages().front(), tr("Please insert a valid value for the parameter"));
  EXPECT_EQ(QApplication::focusWidget(), tile);
  // The Mosaic button reads the boxes first and starts nothing with a refused entry.
  EXPECT_FALSE(window->commit_fields());
  EXPECT_FALSE(window->run_active());
}

TEST_F(MainWindowTest, MosaicRunMovesTheProgressBarAndEndsWithTheFinalQuestion) {
  start_with(800, 600, 40, true);
  m_prompt.plan_answer(Answer::yes);  // "Mosaic completed! Do you want to open the destination folder?"
  auto window = make_window();
  window->add_main_images({photo()});
  ASSERT_EQ(window->tile_list().path(), list_file());

  auto* button = window->findChild<QPushButton*>("mosaicButton");
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(window->run_active()) << (m_prompt.messages().empty() ? "" : m_prompt.messages().back());
  EXPECT_TRUE(button->isChecked());
  const std::vector<int> seen = follow_run(*window);

  EXPECT_FALSE(window->run_active());
  EXPECT_FALSE(button->isChecked());
  ASSERT_FALSE(seen.empty());
  EXPECT_GT(*std::max_element(seen.begin(), seen.end()), 5000);
  EXPECT_EQ(window->progress_value(), seen.back());
  EXPECT_TRUE(window->progress_text().startsWith("Completed ")) << window->progress_text().toStdString();
  EXPECT_TRUE(window->progress_text().contains(", Time 00:00:")) << window->progress_text().toStdString();
  // The bar writes its percentage on itself.
  EXPECT_EQ(window->progress_bar_text(), QStringLiteral("%1%").arg(seen.back() / 100));
  // The fast preview went into the window's picture panel, not a window of
  // its own, and the written mosaic took its place there at the end.
  for (const auto& call : m_prompt.calls()) EXPECT_NE(call.kind, ScriptedPrompt::Kind::show_picture);
  EXPECT_TRUE(window->picture_shown());
  EXPECT_TRUE(asked(tr("Mosaic completed! Do you want to open the destination folder?")));
  EXPECT_EQ(m_beeps, 1);
  ASSERT_EQ(m_opened.size(), 1u);
  EXPECT_EQ(fs::path(m_opened.front()), m_dir.path());

  ASSERT_EQ(window->last_run().results.size(), 1u);
  const RunResult& result = window->last_run().results.begin()->second;
  EXPECT_TRUE(result.success);
  int w = 0, h = 0;
  ASSERT_TRUE(Foto::read_size(result.destination, w, h));
  EXPECT_EQ(window->picture_title().toStdString(), fs::path(result.destination).filename().string());
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  // The finished mosaic comes with its colour differences, as the run measured them.
  ASSERT_GT(result.colour_fidelity.cells, 0u);
  EXPECT_EQ(window->colour_figures_text().toStdString(), colour_fidelity_text(result.colour_fidelity));
  // The figures, the far ones included, wrap within the window's opening
  // size and are shown whole, not cut off at the bottom or the right.
  EXPECT_TRUE(result.colour_fidelity.has_far());
  window->resize(1180, 720);
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  QApplication::processEvents();
  const auto* figures = window->findChild<QLabel*>("colourFigures");
  ASSERT_NE(figures, nullptr);
  ASSERT_TRUE(figures->isVisible());
  const QRect inside(figures->mapTo(window.get(), QPoint(0, 0)), figures->size());
  EXPECT_TRUE(window->rect().contains(inside));
  EXPECT_GE(figures->height(), figures->heightForWidth(figures->width()))
      << figures->width() << " × " << figures->height();
  if (const char* shot = std::getenv("TESS_MAIN_SCREENSHOT")) window->grab().save(QString::fromUtf8(shot));
  // The run's parameters were kept as "(Last Mosaic)".
  EXPECT_TRUE(SettingsFile().contains(kLastMosaicSection));
}

TEST_F(MainWindowTest, WithoutTheFastPreviewThePanelShowsTheMosaicGrowingDuringTheRun) {
  start_with(1200, 900, 12);
  m_prompt.plan_answer(Answer::no);  // "Mosaic completed! ..."
  auto window = make_window();
  window->add_main_images({photo()});
  const QImage main_image = window->picture();
  ASSERT_FALSE(main_image.isNull());

  QTest::mouseClick(window->findChild<QPushButton*>("mosaicButton"), Qt::LeftButton);
  ASSERT_TRUE(window->run_active()) << (m_prompt.messages().empty() ? "" : m_prompt.messages().back());
  std::vector<QImage> sketches;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (window->run_active() && std::chrono::steady_clock::now() < deadline) {
    QTest::qWait(20);
    window->tick();
    if (!window->run_active()) break;  // the written mosaic is no sketch
    if (window->picture_title().toStdString() != tr("Mosaic Preview")) continue;
    if (sketches.empty() || window->picture() != sketches.back()) sketches.push_back(window->picture());
  }
  EXPECT_FALSE(window->run_active()) << window->progress_text().toStdString();
  // Pictures of the mosaic at the mosaic's shape, changing as it grew.
  ASSERT_GE(sketches.size(), 2u);
  for (const QImage& sketch : sketches) {
    EXPECT_NE(sketch, main_image);
    EXPECT_EQ(sketch.width() * 3, sketch.height() * 4);
  }
}

TEST_F(MainWindowTest, MosaicButtonDuringARunAsksOnceThenSaysPleaseWait) {
  start_with(2400, 1800, 12);
  m_prompt.plan_answer(Answer::yes);  // stop it
  auto window = make_window();
  window->add_main_images({photo()});
  auto* button = window->findChild<QPushButton*>("mosaicButton");

  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(window->run_active());
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(button->isChecked());
  follow_run(*window);

  const auto calls = m_prompt.calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].kind, ScriptedPrompt::Kind::ask);
  EXPECT_EQ(calls[0].text, tr("There is a Mosaic process running. Do you want to stop it?"));
  EXPECT_EQ(calls[1].kind, ScriptedPrompt::Kind::message);
  EXPECT_EQ(calls[1].text, tr("Stopping the Mosaic Process. Please Wait..."));
  EXPECT_EQ(calls[1].icon, Icon::warning);
  // A stopped batch has no final action.
  EXPECT_FALSE(asked(tr("Mosaic completed! Do you want to open the destination folder?")));
  EXPECT_EQ(m_beeps, 0);
  EXPECT_TRUE(window->last_run().stopped);
  EXPECT_FALSE(button->isChecked());
}

TEST_F(MainWindowTest, TheExampleListIsLoadedWhenTheUserHasNone) {
  auto window = make_window();
  EXPECT_EQ(fs::path(window->tile_list().path()), example_list_file());
  EXPECT_GT(window->tile_list().entry_count(), 0u);
  EXPECT_TRUE(fs::is_regular_file(example_list_file()));  // staged by the build
}

TEST_F(MainWindowTest, ChecksBeforeARunComeInOrder) {
  // A data folder without the example list, so the window starts without a list.
  const fs::path data = m_dir / "data";
  fs::create_directories(data);
  ScopedEnv no_example("TESSELLARIUM_DATA_DIR", data.string());
  auto window = make_window();
  // No main image: the layout's message, nothing starts.
  window->mosaic_clicked();
  EXPECT_FALSE(window->run_active());
  ASSERT_FALSE(m_prompt.messages().empty());
  EXPECT_EQ(m_prompt.messages().back(), tr("Please add an Image using the + button"));

  // A size the format cannot hold is refused before the list is looked at.
  m_prompt.clear();
  window->add_main_images({photo()});
  type_into(window->findChild<QComboBox*>("mosaicSize")->lineEdit(), "80000 x 60000 pixel");
  window->mosaic_clicked();
  EXPECT_FALSE(window->run_active());
  ASSERT_EQ(m_prompt.calls().size(), 1u);

  // No list: the request to load one.
  m_prompt.clear();
  type_into(window->findChild<QComboBox*>("mosaicSize")->lineEdit(), "800 x 600 pixel");
  window->mosaic_clicked();
  EXPECT_FALSE(window->run_active());
  ASSERT_EQ(m_prompt.messages().size(), 1u);
  EXPECT_EQ(m_prompt.messages().front(),
            tr("Please load or create a Tile Images List. This List will be used to build the Mosaic."));
}

TEST_F(MainWindowTest, BlackAndWhiteListAsksAndCancelStartsNothing) {
  TileImageList list;
  ASSERT_TRUE(load_list_file(list, list_file()));
  list.set_black_and_white(true);
  ASSERT_TRUE(save_list_file(list, list_file()));
  start_with(800, 600, 40);
  auto window = make_window();
  window->add_main_images({photo()});
  m_prompt.plan_answer(Answer::cancel);
  window->mosaic_clicked();
  EXPECT_FALSE(window->run_active());
  EXPECT_TRUE(asked(tr("Do you want to save the Mosaic in Black&White?")));
  EXPECT_FALSE(window->save_black_and_white());
}

TEST_F(MainWindowTest, MasksAndThePriorityMapAreChosenAndCheckedBeforeTheRunStarts) {
  // A file named like a picture that is none: refused with the check's own
  // message before the run starts, as on the command line.
  const std::string broken = (m_dir / "broken.jpg").string();
  ASSERT_TRUE(testing::write_file(broken, "not a picture"));
  Foto mask;
  mask.try_allocate_fill(40, 30, make_pixel(255, 255, 255));
  for (int y = 2; y < 28; ++y)
    for (int x = 2; x < 38; ++x) mask.at(x, y) = x < 20 ? make_pixel(250, 0, 0) : make_pixel(0, 0, 250);
  const std::string good = (m_dir / "mask.jpg").string();
  ASSERT_TRUE(testing::write_jpeg(good, mask, testing::JpegSpec().with_quality(100)));
  struct Case {
    const char* what;
    bool mask_mode;
    std::string chosen;
    bool starts;
  };
  for (const Case& c : {Case{"broken mask", true, broken, false}, Case{"broken priority map", false, broken, false},
                        Case{"mask", true, good, true}, Case{"priority map", false, good, true}}) {
    SCOPED_TRACE(c.what);
    MosaicParameters params = MosaicParameters::created(ConfigFile().read());
    params.mosaic_size = c.mask_mode ? kMaskFileSize : SizeValue{800, 600, kUnitPixel};
    params.tile_size = {40, kUnitPixel};
    params.web_output = false;
    params.duplicate_spacing = 1;
    if (!c.mask_mode) params.advanced.set_value(kOptTilePriorityArea, "CUSTOM_PRIORITY");
    ASSERT_TRUE(SettingsFile().save(kAutoSaveSection, params, list_file(), true));
    m_prompt.clear();
    auto window = make_window();
    window->add_main_images({photo()});
    if (c.mask_mode) m_prompt.plan_answer(Answer::no);  // one mask picture, not a folder
    m_prompt.plan_files({c.chosen});
    m_prompt.plan_answer(Answer::no);  // "Mosaic completed! ..."
    window->mosaic_clicked();
    ASSERT_EQ(window->run_active(), c.starts) << (m_prompt.messages().empty() ? "" : m_prompt.messages().back());
    if (!c.starts) {
      ASSERT_FALSE(m_prompt.messages().empty());
      EXPECT_NE(m_prompt.messages().back().find("broken.jpg"), std::string::npos) << m_prompt.messages().back();
      continue;
    }
    // The run takes what was chosen and asks nothing more on its way.
    const std::size_t calls_before_run = m_prompt.calls().size();
    EXPECT_EQ(c.mask_mode ? window->last_run().mask_file : window->last_run().priority_map, good);
    follow_run(*window);
    EXPECT_TRUE(window->progress_text().startsWith("Completed ")) << window->progress_text().toStdString();
    for (std::size_t i = calls_before_run; i < m_prompt.calls().size(); ++i)
      EXPECT_EQ(m_prompt.calls()[i].kind, ScriptedPrompt::Kind::ask) << m_prompt.calls()[i].text;
  }
}

TEST_F(MainWindowTest, WindowAndCommandLineAskTheSameQuestionsInTheSameOrder) {
  // A black-and-white list of 30 pictures, no duplicates, and a mosaic of
  // about 700 cells that is wider than JPEG readers like: the fill warning,
  // the size question and the black-and-white question, in that order.
  TileImageList list;
  ASSERT_TRUE(load_list_file(list, list_file()));
  list.set_black_and_white(true);
  ASSERT_TRUE(save_list_file(list, list_file()));
  MosaicParameters params = MosaicParameters::created(ConfigFile().read());
  params.mosaic_size = {31000, 23250, kUnitPixel};
  params.tile_size = {1000, kUnitPixel};
  params.tile_duplication = 1;
  params.web_output = false;
  ASSERT_TRUE(SettingsFile().save(kAutoSaveSection, params, list_file(), true));

  const auto questions = [](const ScriptedPrompt& prompt) {
    std::vector<std::string> texts;
    for (const auto& call : prompt.calls()) texts.push_back(std::to_string(static_cast<int>(call.kind)) + call.text);
    return texts;
  };
  auto window = make_window();
  window->add_main_images({photo()});
  for (Answer a : {Answer::yes, Answer::yes, Answer::cancel}) m_prompt.plan_answer(a);
  window->mosaic_clicked();
  EXPECT_FALSE(window->run_active());

  ScriptedPrompt terminal;
  for (Answer a : {Answer::yes, Answer::yes, Answer::cancel}) terminal.plan_answer(a);
  MosaicArgs args;
  args.images = {photo()};
  args.source.settings = SettingsFile().path().string();
  args.source.section = kAutoSaveSection;
  const PreparedMosaic prepared = prepare_mosaic(args, terminal);
  EXPECT_FALSE(prepared.plan);
  EXPECT_EQ(prepared.exit_status, 1);  // declined, not bad input

  const std::vector<std::string> asked_by_window = questions(m_prompt);
  ASSERT_EQ(asked_by_window.size(), 3u);
  EXPECT_NE(asked_by_window[0].find(tr("Not all tiles in your Mosaic will be filled")), std::string::npos);
  EXPECT_NE(asked_by_window[1].find(tr("Do you want to continue?")), std::string::npos);
  EXPECT_NE(asked_by_window[2].find(tr("Do you want to save the Mosaic in Black&White?")), std::string::npos);
  EXPECT_EQ(questions(terminal), asked_by_window);
}

TEST_F(MainWindowTest, SavedSettingLoadsBackAndOpeningTakesAutoSave) {
  {
    auto window = make_window();
    type_into(window->findChild<QLineEdit*>("tileSize"), "25 pixels");
    // The save window is the settings engineer's: name it and press OK.
    QTimer::singleShot(0, [] {
      QWidget* modal = QApplication::activeModalWidget();
      ASSERT_NE(modal, nullptr);
      auto* name = modal->findChild<QLineEdit*>();
      ASSERT_NE(name, nullptr);
      name->setText("My Tiles");
      QMetaObject::invokeMethod(modal, "accept", Qt::QueuedConnection);
    });
    QTest::mouseClick(window->findChild<QAbstractButton*>("settingsSave"), Qt::LeftButton);
    EXPECT_TRUE(window->settings_names().contains("My Tiles"));

    type_into(window->findChild<QLineEdit*>("tileSize"), "60 pixels");
    EXPECT_EQ(window->parameters().tile_size, (UnitValue{60, kUnitPixel}));
    ASSERT_TRUE(window->select_settings("My Tiles"));
    EXPECT_EQ(window->parameters().tile_size, (UnitValue{25, kUnitPixel}));
    EXPECT_EQ(window->findChild<QLineEdit*>("tileSize")->text().toStdString(), "25 pixels");
    type_into(window->findChild<QLineEdit*>("tileSize"), "33 pixels");
  }
  // Closing saved "(Auto Save)", and the next window opens with it.
  auto window = make_window();
  EXPECT_EQ(window->parameters().tile_size, (UnitValue{33, kUnitPixel}));
}

/// Binds the catalogue again at the end of a scope: gettext keeps what it
/// translated until the domain is bound anew, whatever LANGUAGE says later.
struct RebindCatalogue {
  ~RebindCatalogue() { init_text_from_data_folder(); }
};

TEST_F(MainWindowTest, GermanInterfaceShowsGermanUnits) {
  RebindCatalogue rebind;
  ScopedEnv language("LANGUAGE", "de");
  init_text_from_data_folder();
  if (tr("tile, tiles") == "tile, tiles") GTEST_SKIP() << "the German catalogue is not built";
  auto window = make_window();
  EXPECT_EQ(window->findChild<QLineEdit*>("tileSize")->text().toStdString(), "40 Kacheln pro Reihe");
  // German unit words are read back too.
  type_into(window->findChild<QLineEdit*>("tileSize"), "30 Kacheln pro Reihe");
  EXPECT_EQ(window->parameters().tile_size, (UnitValue{30, kUnitTilesPerRow}));
  type_into(window->findChild<QLineEdit*>("tileSize"), "x");
  ASSERT_FALSE(m_prompt.messages().empty());
  EXPECT_EQ(m_prompt.messages().back(), "Bitte geben Sie einen gültigen Wert für den Parameter ein");
}

TEST_F(MainWindowTest, CommandLineImageIsLoadedAndHelpNamesTheGuide) {
  auto window = make_window({photo(), (m_dir / "out.jpg").string()});
  ASSERT_EQ(window->main_images().size(), 1u);
  EXPECT_EQ(window->main_images().front(), photo());
  EXPECT_TRUE(line_starting(window->summary_texts(), "Main Image:").contains("400"));

  // The build stages the guide into the data folder the tests use.
  QTest::mouseClick(window->findChild<QAbstractButton*>("helpButton"), Qt::LeftButton);
  EXPECT_TRUE(m_prompt.messages().empty());
  ASSERT_EQ(m_opened.size(), 1u);
  EXPECT_EQ(fs::path(m_opened.front()), user_guide_file(""));
  EXPECT_EQ(user_guide_file("").filename(), "index.html");
  EXPECT_EQ(user_guide_file("").parent_path().filename(), "guide");
}

TEST(UserGuide, FollowsTheInterfaceLanguageAndSaysWhereItLiesWhenNoBrowserOpensIt) {
  EXPECT_EQ(user_guide_file("de").filename(), "index-de.html");
  EXPECT_EQ(user_guide_file("de_AT.UTF-8").filename(), "index-de.html");
  EXPECT_EQ(user_guide_file("fr").filename(), "index.html");  // no French guide: the English one
  EXPECT_EQ(user_guide_file("").filename(), "index.html");
  {
    // "(auto)" follows the catalogue that LANGUAGE chose.
    RebindCatalogue rebind;
    ScopedEnv locale("LC_ALL", "C.UTF-8");
    ScopedEnv language("LANGUAGE", "de");
    init_text_from_data_folder();
    if (tr("Mosaic") == "Mosaic") GTEST_SKIP() << "the German catalogue is not built";
    EXPECT_EQ(user_guide_file("").filename(), "index-de.html");
    EXPECT_EQ(user_guide_file("en").filename(), "index.html");  // a chosen language wins
  }

  ScriptedPrompt prompt;
  std::vector<std::string> opened;
  open_user_guide("de", [&](const std::string& path) { return opened.push_back(path), false; }, prompt);
  ASSERT_EQ(opened.size(), 1u);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages().front(),
            format(tr("No web browser could open the User Guide. It is the file '%s': please open it in a web "
                      "browser."),
                   opened.front()));
  EXPECT_EQ(prompt.messages().front().find("PDF"), std::string::npos);

  // A data folder without the guide is a broken installation, not a missing browser.
  TempDir empty;
  ScopedEnv data("TESSELLARIUM_DATA_DIR", empty.path().string());
  opened.clear();
  open_user_guide("", [&](const std::string& path) { return opened.push_back(path), true; }, prompt);
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(prompt.messages().back(),
            format(tr("The User Guide '%s' is missing. Please reinstall Tessellarium!"),
                   (empty.path() / "guide" / "index.html").string()));
}

// ---- More Options ----------------------------------------------------------------

TEST(PropertyEditorTest, HasEveryRowAndRefusesBadEntriesWithTheFocusBack) {
  ScriptedPrompt prompt;
  MosaicParameters params;
  PropertyEditor editor(params, nullptr, prompt, {});
  const std::vector<std::string> labels = editor.row_labels();
  for (const char* label :
       {"Mosaic Processing:", "Image Compare:", "Image Detail:", "Color Change Priority:",
        "Use All Images in the Tile List:", "File Format:", "JPG Quality:", "Background Transparency:",
        "Tile Layers:", "TIFF 64 bit:", "Create a RezIroriz", "Copy source images:", "RezIroriz Title:",
        "RezIroriz PopUp:", "PopUp Width:", "Text Report & Mosaic Settings:", "Save Individual Tiles:",
        "Split Mosaic:", "Create a Maskfile:", "Show ToolTips:", "Don't use consecutive:", "Color:", "Size:",
        "Mosaic Directory:", "Mosaic Subdirectory:", "Mosaic Filename:", "Check for updates:",
        "Show Advanced Settings"})
    EXPECT_NE(std::find(labels.begin(), labels.end(), label), labels.end()) << label;
  EXPECT_EQ(editor.help_of("File Format:"), "Specify the File Format of the saved Mosaic: JPEG, TIFF, PSD, BMP, etc.");
  // Before a row is chosen the help panel says how to use it, never blank.
  EXPECT_FALSE(editor.help_text().trimmed().isEmpty());

  auto* quality = editor.findChild<QLineEdit*>("JPGQuality");
  EXPECT_EQ(quality->text().toStdString(), "95%");
  quality->setText("101%");
  EXPECT_FALSE(editor.commit());
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Please insert a valid value for the parameter"});
  EXPECT_EQ(editor.parameters().jpeg_quality, 95);

  quality->setText("80");
  editor.findChild<QComboBox*>("BorderColor")->setEditText("255, 0, 128");
  editor.findChild<QComboBox*>("BorderSize")->setEditText("3 pixels");
  editor.findChild<QComboBox*>("ConsecutiveFrames")->setEditText("No Frames");
  auto* format = editor.findChild<QComboBox*>("FileFormat");
  format->setCurrentIndex(format->findData(format_number(OutputFormatCode::bmp)));
  auto* processing = editor.findChild<QComboBox*>("MosaicProcessing");
  EXPECT_EQ(processing->itemText(3).toStdString(), "Folder Tile Variants");
  processing->setCurrentIndex(processing->findData(kProcessingFolder));
  ASSERT_TRUE(editor.commit());
  EXPECT_EQ(editor.parameters().jpeg_quality, 80);
  EXPECT_EQ(editor.parameters().border_colour, pack_colour(255, 0, 128));
  EXPECT_EQ(editor.parameters().border_size, (UnitValue{3, kUnitPixel}));
  EXPECT_EQ(editor.parameters().consecutive_frames, 0);
  EXPECT_EQ(editor.parameters().output_format, OutputFormatCode::bmp);
  EXPECT_EQ(editor.parameters().processing, kProcessingFolder);
  EXPECT_EQ(format_label(OutputFormatCode::jpg), "JPEG Format (.JPG)");
}

TEST(PropertyEditorTest, ValuesWithoutALabelStayAsTheyAre) {
  ScriptedPrompt prompt;
  MosaicParameters params;
  params.processing = kProcessingStandard2;  // the list has no label for it
  params.border_colour = pack_colour(1, 2, 3);
  PropertyEditor editor(params, nullptr, prompt, {});
  ASSERT_TRUE(editor.commit());
  EXPECT_EQ(editor.parameters().processing, kProcessingStandard2);
  EXPECT_EQ(editor.parameters().border_colour, pack_colour(1, 2, 3));
  EXPECT_EQ(editor.findChild<QComboBox*>("BorderColor")->currentText().toStdString(), "1,2,3");
}

// ---- the Qt prompt and the picture view -----------------------------------------------

TEST(QtPromptTest, WorkerThreadWaitsForTheAnswerGivenOnTheWindowThread) {
  QtPrompt prompt;
  std::atomic<bool> done{false};
  Answer answer = Answer::ok;
  // The box runs its own event loop on this thread; the user's click comes
  // from a timer inside it.
  QString text;
  bool default_is_no = false;
  bool waited = false;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    text = box->text();
    default_is_no = box->defaultButton() == box->button(QMessageBox::No);
    waited = !done.load();
    box->button(QMessageBox::Yes)->click();
  });
  user.start(10);
  std::thread worker([&] {
    answer = prompt.ask("Stop?", Buttons::yes_no, Answer::no, Icon::question);
    done = true;
  });
  for (int i = 0; i < 500 && !done.load(); ++i) QTest::qWait(10);
  worker.join();
  EXPECT_TRUE(waited);  // the worker was still waiting while the box was open
  EXPECT_EQ(text, "Stop?");
  EXPECT_TRUE(default_is_no);
  EXPECT_EQ(answer, Answer::yes);
}

TEST(PictureViewTest, PixelsKeepTheirColoursAndTransparencyBecomesAlpha) {
  const std::uint32_t pixels[2] = {0x00332211u, 0xFF000000u};
  const QImage image = picture_image({2, 1, pixels});
  ASSERT_EQ(image.size(), QSize(2, 1));
  EXPECT_EQ(image.pixel(0, 0), qRgba(0x11, 0x22, 0x33, 255));
  EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
  EXPECT_TRUE(picture_image({0, 0, nullptr}).isNull());

  PictureViewDialog dialog(nullptr, image, "Mosaic Preview");
  EXPECT_EQ(dialog.windowTitle(), "Mosaic Preview");
}

// The gap report from the main window: the list and the first main image
// with the window's parameters, shown in its window and saved as a page.
TEST_F(MainWindowTest, GapReportShowsTheListAndTheImageAndSavesThePage) {
  start_with(800, 600, 40);
  auto window = make_window();
  // The list alone first: no image, so no heat map.
  ASSERT_TRUE(window->load_tile_list(list_file()));
  GapReport alone;
  Foto none;
  ASSERT_TRUE(window->make_gap_report(alone, none));
  EXPECT_FALSE(alone.image_gaps);
  EXPECT_TRUE(none.empty());

  window->add_main_images({photo()});
  GapReport report;
  Foto image;
  ASSERT_TRUE(window->make_gap_report(report, image));
  ASSERT_TRUE(report.image_gaps);
  EXPECT_FALSE(report.image_gaps->cells.empty());
  EXPECT_EQ(image.width(), 400);
  EXPECT_EQ(report.coverage.tile_colours, 30u);

  GapReportWindow gaps(std::move(report), std::move(image), m_prompt);
  gaps.show();
  EXPECT_TRUE(gaps.figures_text().contains("ΔE 10")) << gaps.figures_text().toStdString();
  ASSERT_NE(gaps.findChild<QLabel*>("gapHoles"), nullptr);
  ASSERT_NE(gaps.findChild<QLabel*>("gapColoursToAdd"), nullptr);
  if (const char* shot = std::getenv("TESS_GAP_SCREENSHOT")) gaps.grab().save(QString::fromUtf8(shot));

  m_prompt.plan_folder((m_dir / "report").string());
  ASSERT_TRUE(gaps.save_report());
  EXPECT_TRUE(fs::is_regular_file(m_dir / "report" / kGapPageName));
  EXPECT_TRUE(fs::is_regular_file(m_dir / "report" / kGapHeatMapName));
}


TEST_F(MainWindowTest, AMainImageGivenAtTheStartIsFittedWhenTheWindowIsShown) {
  // -I loads the picture before the window is laid out: once shown, the
  // whole picture must fit the panel, as for one added with +.
  auto window = make_window({photo(), {}});
  window->show();
  QApplication::processEvents();
  auto* picture = window->findChild<QLabel*>("picture");
  ASSERT_NE(picture, nullptr);
  const QSize room = picture->contentsRect().size();
  const QSizeF shown = picture->pixmap().deviceIndependentSize();
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_LE(shown.width(), room.width() + 1);
  EXPECT_LE(shown.height(), room.height() + 1);
  // Fitted, not merely smaller: one side fills the panel.
  EXPECT_TRUE(std::abs(shown.width() - room.width()) <= 1 || std::abs(shown.height() - room.height()) <= 1)
      << shown.width() << "x" << shown.height() << " in " << room.width() << "x" << room.height();
  EXPECT_NEAR(shown.width() / shown.height(), 400.0 / 300.0, 0.02);
}


TEST_F(MainWindowTest, EscKeepsTheProgramAndTheShortcutsReachTheirActions) {
  auto window = make_window();
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

  // Esc closes dialogs, never the program.
  QTest::keyClick(window.get(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(window->isVisible());

  // Ctrl+Return is the Mosaic button: without a main image it says so.
  m_prompt.clear();
  QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
  ASSERT_FALSE(m_prompt.messages().empty());
  EXPECT_EQ(m_prompt.messages().back(), tr("Please add an Image using the + button"));

  // Ctrl+Q closes the window, and with it the program.
  QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace tess
