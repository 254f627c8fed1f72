#include "ui/split_dialog.hpp"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

const std::string kRefusal =
    "Please insert valid values for the Split Size in Pixels. Valid values between 10 and 1,000,000 pixel.";

MosaicParameters parameters_for(OutputFormatCode code) {
  MosaicParameters parameters;
  parameters.output_format = code;
  return parameters;
}

// A 4000 × 3000 mosaic of 100 × 75 tiles: 40 tiles per row, 40 rows.
struct SplitWindow {
  explicit SplitWindow(OutputFormatCode code = OutputFormatCode::jpg)
      : dialog(parameters_for(code), 4000, 3000, 100, 75, SplitPieceSize{}, prompt) {}
  bool accepts(int width, int height) {
    dialog.setResult(QDialog::Rejected);
    dialog.set_piece_size(SplitPieceSize{width, height});
    dialog.accept();
    return dialog.result() == QDialog::Accepted;
  }
  ScriptedPrompt prompt;
  SplitDialog dialog;
};

TEST(SplitDialog, RefusesTenPixelsAndAcceptsEleven) {
  SplitWindow window;
  EXPECT_FALSE(window.accepts(10, 500));
  EXPECT_FALSE(window.accepts(500, 10));
  EXPECT_EQ(window.prompt.messages(), (std::vector<std::string>{kRefusal, kRefusal}));
  window.prompt.clear();
  EXPECT_TRUE(window.accepts(11, 11));
  EXPECT_TRUE(window.prompt.calls().empty());
  EXPECT_EQ(window.dialog.piece_size().width, 11);
}

TEST(SplitDialog, RefusesMoreThanAMillionPixelsASide) {
  SplitWindow window(OutputFormatCode::ppm);  // no limits of its own
  EXPECT_FALSE(window.accepts(1'000'001, 500));
  EXPECT_EQ(window.prompt.messages(), std::vector<std::string>{kRefusal});
  EXPECT_TRUE(window.accepts(1'000'000, 1'000'000));
}

TEST(SplitDialog, AsksBeforePiecesTooBigForTheFormat) {
  SplitWindow window(OutputFormatCode::jpg);
  EXPECT_FALSE(window.accepts(30'001, 100));  // No is the default answer
  ASSERT_EQ(window.prompt.calls().size(), 1u);
  const ScriptedPrompt::Call question = window.prompt.calls().front();
  EXPECT_EQ(question.kind, ScriptedPrompt::Kind::ask);
  EXPECT_EQ(question.text,
            "Not all applications are able to read JPEG files with a width/height over 30,000 pixels and the maximum "
            "width/height is 65,500 pixels. Are you sure that you want to create split pieces with such a size?");
  window.prompt.plan_answer(Answer::yes);
  EXPECT_TRUE(window.accepts(30'001, 100));
  // Pieces the format takes are not questioned.
  window.prompt.clear();
  EXPECT_TRUE(window.accepts(30'000, 100));
  EXPECT_TRUE(window.prompt.calls().empty());
}

TEST(SplitDialog, TurnsTilesPerRowAndSplitsIntoPixels) {
  SplitWindow window;
  // Opened without a size: two splits each way, cut between tiles.
  EXPECT_EQ(window.dialog.piece_size().width, 2000);
  EXPECT_EQ(window.dialog.piece_size().height, 1500);
  window.dialog.set_tiles(40, 3);  // 14 tiles (ceil 40 / 3) by 14 rows
  EXPECT_EQ(window.dialog.piece_size().width, 1400);
  EXPECT_EQ(window.dialog.piece_size().height, 1050);
  window.dialog.set_tiles(80, 2);  // twice the tiles per row means twice the rows
  EXPECT_EQ(window.dialog.piece_size().width, 4000);
  EXPECT_EQ(window.dialog.piece_size().height, 3000);

  EXPECT_EQ(split_size_from_tiles(10, 7, 3, 50, 40).width, 200);
  EXPECT_EQ(split_size_from_tiles(10, 7, 3, 50, 40).height, 120);
  EXPECT_EQ(split_size_from_tiles(0, 7, 3, 50, 40).width, 0);
}

TEST(SplitDialog, EntryFunctionReturnsTheAcceptedSize) {
  SplitPieceSize size{640, 480};
  bool seen_initial = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<SplitDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    seen_initial = dialog->piece_size().width == 640 && dialog->piece_size().height == 480;
    dialog->set_piece_size(SplitPieceSize{1000, 800});
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(run_split_dialog(nullptr, parameters_for(OutputFormatCode::jpg), 4000, 3000, 100, 75, size));
  EXPECT_TRUE(seen_initial);
  EXPECT_EQ(size.width, 1000);
  EXPECT_EQ(size.height, 800);

  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_FALSE(run_split_dialog(nullptr, parameters_for(OutputFormatCode::jpg), 4000, 3000, 100, 75, size));
  EXPECT_EQ(size.width, 1000);
}

}  // namespace
}  // namespace tess
