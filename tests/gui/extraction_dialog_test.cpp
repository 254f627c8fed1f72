#include "ui/extraction_dialog.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <QPushButton>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

// A 64 × 48 video of 10 frames, made by the ffmpeg program.
bool make_video(const fs::path& path) {
  const std::string command =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 10 -c:v mpeg4 "
      "-vtag XVID -g 5 '" +
      path.string() + "'";
  return std::system(command.c_str()) == 0 && fs::exists(path);
}

QPushButton* button(QWidget& window, const QString& text) {
  for (QPushButton* candidate : window.findChildren<QPushButton*>())
    if (candidate->text().remove(u'&') == text) return candidate;
  return nullptr;
}

class ExtractionDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(make_video(m_dir / "clip.avi")) << "ffmpeg could not make the test video";
    ASSERT_TRUE(m_stream.open(m_dir / "clip.avi"));
    ASSERT_EQ(m_stream.width(), 64);
    ASSERT_EQ(m_stream.frame_count(), 10);
  }

  // Extract with the defaults changed by `change`: whether the window closed.
  template <typename Change>
  bool accepts(ExtractionDialog& dialog, Change&& change) {
    ExtractParameters params = dialog.parameters();
    change(params);
    dialog.set_parameters(params);
    dialog.setResult(QDialog::Rejected);
    dialog.accept();
    return dialog.result() == QDialog::Accepted;
  }

  testing::TempDir m_dir;
  CAviStream m_stream;
  ScriptedPrompt m_prompt;
};

TEST_F(ExtractionDialogTest, RefusesLeftPlusWidthOnePixelBeyondTheVideo) {
  ExtractionDialog dialog(m_stream, m_prompt);
  EXPECT_FALSE(accepts(dialog, [](ExtractParameters& p) { p.crop = FrameRect{1, 0, 64, 48}; }));
  EXPECT_EQ(m_prompt.messages(),
            std::vector<std::string>{"The value Left+Width (1+64 pixels) must not exceed the Video Width of 64 pixels"});
  m_prompt.clear();
  EXPECT_TRUE(accepts(dialog, [](ExtractParameters& p) { p.crop = FrameRect{0, 0, 64, 48}; }));
  EXPECT_TRUE(m_prompt.calls().empty());
  EXPECT_EQ(dialog.parameters().crop, (FrameRect{0, 0, 64, 48}));
}

TEST_F(ExtractionDialogTest, RefusesTopPlusHeightAndFramesOutsideTheVideo) {
  ExtractionDialog dialog(m_stream, m_prompt);
  EXPECT_FALSE(accepts(dialog, [](ExtractParameters& p) { p.crop = FrameRect{0, 9, 32, 40}; }));
  EXPECT_FALSE(accepts(dialog, [](ExtractParameters& p) {
    p.crop = FrameRect{0, 0, 64, 48};
    p.last = 10;
  }));
  EXPECT_FALSE(accepts(dialog, [](ExtractParameters& p) {
    p.last = 9;
    p.crop = FrameRect{0, 0, 0, 48};  // an empty area
  }));
  EXPECT_EQ(m_prompt.messages(),
            (std::vector<std::string>{
                "The value Top+Height (9+40 pixels) must not exceed the Video Height of 48 pixels",
                "The First/Last Frame values must be between 0 and 9",
                "Internal Error: The specified Position/Size is bigger than the size of a single Frame"}));
  EXPECT_TRUE(accepts(dialog, [](ExtractParameters& p) { p.crop = FrameRect{0, 0, 64, 48}; }));
}

TEST_F(ExtractionDialogTest, ShowsSampleFramesWithTheCropRectangle) {
  ExtractionDialog dialog(m_stream, m_prompt);
  ASSERT_FALSE(dialog.sample_picture().isNull());
  EXPECT_EQ(dialog.sample_picture().width(), 480);  // 64 × 48 shown at 7.5 times
  EXPECT_EQ(dialog.sample_picture().height(), 360);

  ExtractParameters params = dialog.parameters();
  params.crop = FrameRect{16, 12, 32, 24};
  dialog.set_parameters(params);
  button(dialog, "Show Rectangle")->click();
  // The left edge of the area, 16 video pixels in, is drawn white at 120.
  const QImage& picture = dialog.sample_picture();
  int white = 0;
  for (int x = 119; x <= 122; ++x)
    if (picture.pixel(x, 180) == qRgb(255, 255, 255)) ++white;
  EXPECT_GE(white, 1);

  button(dialog, "Last Frame")->click();
  EXPECT_EQ(dialog.sample_frame(), 9);
  button(dialog, "First Frame")->click();
  EXPECT_EQ(dialog.sample_frame(), 0);
  button(dialog, "Random Frame")->click();
  EXPECT_LE(dialog.sample_frame(), 9);
  EXPECT_TRUE(m_prompt.calls().empty());
}

TEST_F(ExtractionDialogTest, AutoAndMaxFillTheFrames) {
  ExtractionDialog dialog(m_stream, m_prompt);
  ExtractParameters params = dialog.parameters();
  EXPECT_EQ(params.mode, ExtractMode::clips);
  EXPECT_EQ(params.last, 9);
  params.mode = ExtractMode::jpeg;
  params.first = 3;
  params.last = 4;
  params.count = 1;
  dialog.set_parameters(params);
  button(dialog, "Max")->click();
  EXPECT_EQ(dialog.parameters().first, 0);
  EXPECT_EQ(dialog.parameters().last, 9);
  EXPECT_EQ(dialog.parameters().count, 10);
  params = dialog.parameters();
  params.first = 5;
  dialog.set_parameters(params);
  button(dialog, "Auto")->click();
  const ExtractionDefaults defaults = extraction_defaults(m_stream, false);
  EXPECT_EQ(dialog.parameters().first, defaults.first);
  EXPECT_EQ(dialog.parameters().last, defaults.last);
  EXPECT_EQ(dialog.parameters().count, defaults.count);
  EXPECT_EQ(dialog.parameters().mode, ExtractMode::jpeg);
}

}  // namespace
}  // namespace tess
