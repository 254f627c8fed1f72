#include "ui/tile_list_window.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/image_files.hpp"
#include "settings/user_state.hpp"
#include "support/test_support.hpp"
#include "ui/extraction_dialog.hpp"
#include "ui/windows.hpp"
#include "video/avi_extract.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using View = TileListWindow::View;

bool write_solid_jpeg(const fs::path& path, int w, int h, std::uint32_t colour) {
  return testing::write_jpeg(path, testing::JpegSpec(w, h), [&](int, std::uint8_t* samples) {
    for (int x = 0; x < w; ++x) {
      samples[3 * x] = static_cast<std::uint8_t>(pixel_red(colour));
      samples[3 * x + 1] = static_cast<std::uint8_t>(pixel_green(colour));
      samples[3 * x + 2] = static_cast<std::uint8_t>(pixel_blue(colour));
    }
  });
}

std::vector<std::string> asked(const ScriptedPrompt& prompt) {
  std::vector<std::string> texts;
  for (const ScriptedPrompt::Call& call : prompt.calls())
    if (call.kind == ScriptedPrompt::Kind::ask) texts.push_back(call.text);
  return texts;
}

const char* const kUnsavedQuestion = "You did not saved the Images List. Are you sure to continue without saving?";

class TileListWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_pictures);
    ASSERT_TRUE(write_solid_jpeg(m_pictures / "a.jpg", 64, 48, make_pixel(220, 20, 30)));
    ASSERT_TRUE(write_solid_jpeg(m_pictures / "b.jpg", 64, 48, make_pixel(20, 200, 40)));
    ASSERT_TRUE(write_solid_jpeg(m_pictures / "c.jpg", 64, 48, make_pixel(30, 40, 210)));
    ASSERT_TRUE(write_solid_jpeg(m_pictures / "d.jpg", 48, 64, make_pixel(240, 240, 20)));
    m_window.set_thread_count(2);
  }

  QPushButton* button(const char* name) { return m_window.findChild<QPushButton*>(QString::fromLatin1(name)); }

  // Adds the picture folder with "Add Folder" and saves the list as `name`,
  // waiting for the analysis to end.
  void build_list(const std::string& name = "my list") {
    m_prompt.plan_folder(m_pictures.string());
    QTest::mouseClick(button("add_folder"), Qt::LeftButton);
    m_prompt.plan_files({(m_dir / name).string()});
    QSignalSpy finished(&m_window, &TileListWindow::analysis_finished);
    QTest::mouseClick(button("save_list"), Qt::LeftButton);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    ASSERT_EQ(finished.front().front().toInt(), static_cast<int>(ListSaveResult::saved));
  }

  testing::TempDir m_dir;
  fs::path m_pictures = m_dir / "pictures";
  testing::ScopedEnv m_config_path{"TESSELLARIUM_CONFIG_PATH", (m_dir / "settings").string()};
  ConfigFile m_config{m_dir / "TessellariumConfig.txt"};
  ScriptedPrompt m_prompt;
  TileListWindow m_window{m_prompt, m_config};
};

TEST_F(TileListWindowTest, BuildsAListFromAFolderAndCountsItsPictures) {
  EXPECT_EQ(m_window.status_line().toStdString(), "No Images are loaded. Please add a Folder to the Folder List");
  QSignalSpy statuses(&m_window, &TileListWindow::status_changed);
  build_list();

  EXPECT_EQ(m_window.shown_items().size(), 4);
  EXPECT_EQ(m_window.view(), View::all_images);
  // The progress was shown up to the end of the analysis.
  bool reached_end = false;
  for (const QList<QVariant>& status : statuses)
    reached_end = reached_end || status.front().toString().startsWith("Tile# 4, Analysis Completed 100.00%, Elapsed Time: 00:00:");
  EXPECT_TRUE(reached_end);
  EXPECT_EQ(m_window.status_line().toStdString(), "3 Landscape images, 1 Portrait image.");
  const std::string saved = (m_dir / "my list.tzc").string();
  EXPECT_TRUE(fs::exists(saved));
  EXPECT_EQ(m_window.chosen_list(), saved);
  EXPECT_EQ(m_prompt.messages().back(),
            "You are ready to create a mosaic using this List of 4 images/videos. You can go back to the Main Window");
  // The list file dialog was asked for, with the caption of a new list.
  bool asked_for_file = false;
  for (const ScriptedPrompt::Call& call : m_prompt.calls())
    asked_for_file = asked_for_file || (call.kind == ScriptedPrompt::Kind::choose_files &&
                                        call.text == "Create a new Image List File");
  EXPECT_TRUE(asked_for_file);
}

TEST_F(TileListWindowTest, SavingWithoutAFolderIsRefused) {
  QTest::mouseClick(button("save_list"), Qt::LeftButton);
  EXPECT_EQ(m_prompt.messages(),
            std::vector<std::string>{"Please Add First a Folder to the Include/Video Folder List using Add Folder button!"});
  EXPECT_FALSE(m_window.analysing());
}

TEST_F(TileListWindowTest, AllImagesViewShowsThumbnailsFromSignatures) {
  build_list();
  ASSERT_EQ(m_window.view(), View::all_images);
  EXPECT_EQ(m_window.shown_items(), (QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
  TileListEntriesModel& model = m_window.entries_model();

  const QImage red = model.data(model.index(0), Qt::DecorationRole).value<QImage>();
  ASSERT_EQ(red.size(), QSize(24, 18));
  EXPECT_NEAR(qRed(red.pixel(12, 9)), 220, 6);
  EXPECT_NEAR(qGreen(red.pixel(12, 9)), 20, 6);
  EXPECT_EQ(qAlpha(red.pixel(0, 0)), 255);

  // The upright picture keeps its shape: empty at the sides of the slot.
  const QImage upright = model.data(model.index(3), Qt::DecorationRole).value<QImage>();
  ASSERT_EQ(upright.size(), QSize(24, 18));
  EXPECT_EQ(qAlpha(upright.pixel(0, 9)), 0);
  EXPECT_EQ(qAlpha(upright.pixel(12, 9)), 255);
  EXPECT_NEAR(qBlue(upright.pixel(12, 9)), 20, 6);
  EXPECT_EQ(model.thumbnails_held(), 2u);
  EXPECT_EQ(model.data(model.index(1), Qt::ToolTipRole).toString().toStdString(), (m_pictures / "b.jpg").string());

  // No picture file is read for the view.
  fs::remove(m_pictures / "c.jpg");
  EXPECT_FALSE(model.data(model.index(2), Qt::DecorationRole).value<QImage>().isNull());
}

TEST(ThumbnailRing, ReusesTheSlotAfterTheLastWrittenOnceFull) {
  ThumbnailRing ring(3);
  for (int row = 0; row < 3; ++row) ring.store(row, QImage(1, 1, QImage::Format_ARGB32));
  EXPECT_EQ(ring.size(), 3u);
  ring.store(10, QImage(2, 2, QImage::Format_ARGB32));  // replaces row 0's slot
  EXPECT_EQ(ring.find(0), nullptr);
  ASSERT_NE(ring.find(10), nullptr);
  EXPECT_EQ(ring.find(10)->width(), 2);
  ring.store(11, QImage(1, 1, QImage::Format_ARGB32));  // then row 1's
  EXPECT_EQ(ring.find(1), nullptr);
  EXPECT_NE(ring.find(2), nullptr);
  EXPECT_EQ(ring.size(), 3u);
  ring.store(2, QImage(3, 3, QImage::Format_ARGB32));  // a row held is updated in place
  EXPECT_EQ(ring.find(2)->width(), 3);
  EXPECT_EQ(ring.size(), 3u);
  EXPECT_EQ(kThumbnailRingSize, 300u);
}

TEST_F(TileListWindowTest, RemovesSelectedFolderItems) {
  fs::create_directories(m_dir / "more");
  m_window.add_paths({QString::fromStdString(m_pictures.string()), QString::fromStdString((m_dir / "more").string()),
                      QString::fromStdString((m_pictures / "a.jpg").string())});
  const QString pictures = QString::fromStdString(m_pictures.string() + "/");
  const QString more = QString::fromStdString((m_dir / "more").string() + "/");
  const QString picture = QString::fromStdString((m_pictures / "a.jpg").string());
  // Folders are kept with their trailing "/", files as they are.
  EXPECT_EQ(m_window.shown_items(), (QStringList{more, pictures, picture}));

  m_window.select_items({more, picture});
  QTest::mouseClick(button("remove_selected"), Qt::LeftButton);
  EXPECT_EQ(m_window.shown_items(), QStringList{pictures});
  EXPECT_EQ(m_window.list().folders(FolderKind::include).size(), 1u);
  EXPECT_TRUE(m_window.list().changed());
  EXPECT_TRUE(m_prompt.messages().empty());
}

TEST_F(TileListWindowTest, RemovingFromAllImagesExcludesThePicture) {
  build_list();
  m_prompt.clear();
  m_window.select_items({"b.jpg"});
  QTest::mouseClick(button("remove_selected"), Qt::LeftButton);
  EXPECT_EQ(m_prompt.messages(), std::vector<std::string>{"Please save the List to update the shown Images"});
  EXPECT_EQ(m_window.list().folders(FolderKind::exclude).count((m_pictures / "b.jpg").string()), 1u);
  EXPECT_EQ(m_window.status_line().toStdString(), "3 Landscape images, 1 Portrait image. Remember to Save the Images List!");

  // Saving again drops the picture from the list.
  QSignalSpy finished(&m_window, &TileListWindow::analysis_finished);
  QTest::mouseClick(button("save_list"), Qt::LeftButton);
  ASSERT_TRUE(finished.wait(20000));
  EXPECT_EQ(m_window.shown_items(), (QStringList{"a.jpg", "c.jpg", "d.jpg"}));
  EXPECT_EQ(m_window.status_line().toStdString(), "2 Landscape images, 1 Portrait image.");
}

TEST_F(TileListWindowTest, AddingInAllImagesSwitchesToInclude) {
  m_window.show_view(View::all_images);
  m_window.add_paths({QString::fromStdString(m_pictures.string())});
  EXPECT_EQ(m_window.view(), View::include);
  EXPECT_EQ(m_window.list().folders(FolderKind::include).size(), 1u);
}

TEST_F(TileListWindowTest, ClosingAnUnsavedListAsksFirst) {
  m_window.show();
  m_window.add_paths({QString::fromStdString(m_pictures.string())});
  m_window.reject();  // No is the default answer
  EXPECT_EQ(asked(m_prompt), std::vector<std::string>{kUnsavedQuestion});
  EXPECT_TRUE(m_window.isVisible());
  m_prompt.plan_answer(Answer::yes);
  m_window.reject();
  EXPECT_FALSE(m_window.isVisible());
}

TEST_F(TileListWindowTest, BlackAndWhiteSwitchAsksAndKeepsTheBoxTrue) {
  build_list();
  m_prompt.clear();
  auto* box = m_window.findChild<QCheckBox*>("black_and_white");
  box->click();  // declined by default
  EXPECT_EQ(asked(m_prompt),
            std::vector<std::string>{"Are you sure you want to use the Black & White process to compare Images?"});
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(m_window.list().black_and_white());

  m_prompt.plan_answer(Answer::yes);
  box->click();
  EXPECT_TRUE(box->isChecked());
  EXPECT_TRUE(m_window.list().black_and_white());
  EXPECT_EQ(m_window.status_line().toStdString(), "3 Landscape images, 1 Portrait image. Remember to Save the Images List!");
}

TEST_F(TileListWindowTest, NewListEmptiesAfterTheLeaveCheck) {
  build_list();
  m_window.add_paths({QString::fromStdString((m_pictures / "a.jpg").string())});
  m_prompt.clear();
  m_window.new_list();  // unsaved: declined by default
  EXPECT_EQ(asked(m_prompt), std::vector<std::string>{kUnsavedQuestion});
  EXPECT_EQ(m_window.list().entry_count(), 4u);
  m_prompt.plan_answer(Answer::yes);
  m_window.new_list();
  EXPECT_EQ(m_window.list().entry_count(), 0u);
  EXPECT_TRUE(m_window.shown_items().isEmpty());
  EXPECT_EQ(m_window.status_line().toStdString(),
            "Please add at least one Folder to the Folder List below using Drag&Drop or the Add Folder button. Then "
            "press the Save List button.");
}

TEST_F(TileListWindowTest, OpensTheMainWindowsListAndReturnsTheOneSaved) {
  build_list("first");
  const std::string first = (m_dir / "first.tzc").string();

  std::string list_path = first;
  int shown = -1;
  QTimer::singleShot(0, [&] {
    auto* window = qobject_cast<TileListWindow*>(QApplication::activeModalWidget());
    ASSERT_NE(window, nullptr);
    shown = static_cast<int>(window->list().entry_count());
    window->reject();
  });
  UserState state(m_config);
  // Closed without saving or opening: the main window keeps its list.
  EXPECT_FALSE(run_tile_list_window(nullptr, list_path, m_config, state));
  EXPECT_EQ(shown, 4);
  EXPECT_EQ(list_path, first);
}

TEST_F(TileListWindowTest, ExtractsFramesFromAVideoWithItsStatusInTheWindow) {
  const fs::path video = m_dir / "movie.avi";
  const std::string command =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 -c:v mpeg4 '" +
      video.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);

  m_prompt.plan_files({video.string()});
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<ExtractionDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    ExtractParameters params = dialog->parameters();
    params.mode = ExtractMode::jpeg;
    params.first = 0;
    params.last = 11;
    params.count = 3;
    dialog->set_parameters(params);
    dialog->accept();
  });
  QSignalSpy ended(&m_window, &TileListWindow::extraction_finished);
  QSignalSpy statuses(&m_window, &TileListWindow::status_changed);
  m_window.extract_from_video();
  ASSERT_TRUE(ended.wait(20000));

  EXPECT_EQ(m_window.status_line().toStdString(), "Extracted 3 Images.");
  bool loaded = false;
  for (const QList<QVariant>& status : statuses) loaded = loaded || status.front().toString() == "Load Video...";
  EXPECT_TRUE(loaded);
  const fs::path folder = extract_folder_path(extract_base_path(video), 1, ExtractFolderKind::image);
  EXPECT_TRUE(fs::exists(folder / "FR000001.jpg"));
  EXPECT_TRUE(m_prompt.messages().empty());
}

}  // namespace
}  // namespace tess
