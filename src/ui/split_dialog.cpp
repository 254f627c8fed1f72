#include "ui/split_dialog.hpp"

#include <algorithm>
#include <cstdint>

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "settings/size_checks.hpp"
#include "ui/qt_prompt.hpp"
#include "ui/tile_list_support.hpp"
#include "ui/windows.hpp"

namespace tess {
namespace {

// The fields take more than the valid range, so an out-of-range size is
// refused with its message rather than silently clamped while typing.
constexpr int kLargestEntry = 999'999'999;

std::int64_t ceil_div(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

QSpinBox* number_field(int minimum, int maximum, const char* name, QWidget* parent) {
  auto* field = new QSpinBox(parent);
  field->setRange(minimum, maximum);
  field->setGroupSeparatorShown(true);
  field->setObjectName(QString::fromLatin1(name));
  field->setAlignment(Qt::AlignRight);
  return field;
}

}  // namespace

SplitPieceSize split_size_from_tiles(int tiles_per_row, int tile_rows, int splits, int tile_width, int tile_height) {
  if (tiles_per_row < 1 || tile_rows < 1 || splits < 1 || tile_width < 1 || tile_height < 1) return {};
  const std::int64_t width = ceil_div(tiles_per_row, splits) * tile_width;
  const std::int64_t height = ceil_div(tile_rows, splits) * tile_height;
  return SplitPieceSize{static_cast<int>(std::min<std::int64_t>(width, kLargestEntry)),
                        static_cast<int>(std::min<std::int64_t>(height, kLargestEntry))};
}

SplitDialog::SplitDialog(const MosaicParameters& parameters, int mosaic_width, int mosaic_height, int tile_width,
                         int tile_height, const SplitPieceSize& initial, Prompt& prompt, QWidget* parent)
    : QDialog(parent),
      m_parameters(parameters),
      m_tile_width(std::max(tile_width, 1)),
      m_tile_height(std::max(tile_height, 1)),
      m_prompt(prompt) {
  setWindowTitle(to_qstring(tess::tr("Insert Split Parameters")));
  MnemonicSet keys;

  m_mosaic_tiles_per_row = static_cast<int>(std::max<std::int64_t>(1, ceil_div(std::max(mosaic_width, 1), m_tile_width)));
  m_tile_rows = static_cast<int>(std::max<std::int64_t>(1, ceil_div(std::max(mosaic_height, 1), m_tile_height)));

  m_in_pixels = new QRadioButton(keys.label(tess::tr("Split Size in Pixels")), this);
  m_in_pixels->setObjectName(QStringLiteral("in_pixels"));
  m_in_tiles = new QRadioButton(keys.label(tess::tr("Split Size in Tiles")), this);
  m_in_tiles->setObjectName(QStringLiteral("in_tiles"));
  auto* group = new QButtonGroup(this);
  group->addButton(m_in_pixels);
  group->addButton(m_in_tiles);

  m_width = number_field(0, kLargestEntry, "width", this);
  m_height = number_field(0, kLargestEntry, "height", this);
  m_tiles_per_row = number_field(1, kLargestEntry, "tiles_per_row", this);
  m_splits = number_field(1, 100'000, "splits", this);
  m_tiles_per_row->setValue(m_mosaic_tiles_per_row);
  m_splits->setValue(2);
  const auto tip = [](QWidget* widget, const char* text) { widget->setToolTip(to_qstring(tess::tr(text))); };
  tip(m_in_pixels, N_("Cut the Mosaic into pieces of a size given in pixels."));
  tip(m_width, N_("The width of every piece, in pixels."));
  tip(m_height, N_("The height of every piece, in pixels."));
  tip(m_in_tiles, N_("Cut the Mosaic into pieces of whole tiles."));
  tip(m_tiles_per_row, N_("How many tiles every piece holds side by side."));
  tip(m_splits, N_("Into how many pieces the Mosaic is cut."));

  auto* pixels_box = new QGroupBox(this);
  auto* pixels_form = new QFormLayout(pixels_box);
  pixels_form->addRow(m_in_pixels);
  auto* width_label = new QLabel(keys.label(tess::tr("Width:")), pixels_box);
  width_label->setBuddy(m_width);
  auto* height_label = new QLabel(keys.label(tess::tr("Height:")), pixels_box);
  height_label->setBuddy(m_height);
  pixels_form->addRow(width_label, m_width);
  pixels_form->addRow(height_label, m_height);

  auto* tiles_box = new QGroupBox(this);
  auto* tiles_form = new QFormLayout(tiles_box);
  tiles_form->addRow(m_in_tiles);
  auto* tiles_label = new QLabel(keys.label(tess::tr("Tiles per Row:")), tiles_box);
  tiles_label->setBuddy(m_tiles_per_row);
  auto* splits_label = new QLabel(keys.label(tess::tr("Number of Splits:")), tiles_box);
  splits_label->setBuddy(m_splits);
  tiles_form->addRow(tiles_label, m_tiles_per_row);
  tiles_form->addRow(splits_label, m_splits);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(to_qstring(tess::tr("OK")));
  buttons->button(QDialogButtonBox::Cancel)->setText(to_qstring(tess::tr("Cancel")));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &SplitDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SplitDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pixels_box);
  layout->addWidget(tiles_box);
  layout->addStretch(1);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetMinimumSize);

  connect(m_in_tiles, &QRadioButton::toggled, this, [this] {
    update_enabled();
    update_from_tiles();
  });
  connect(m_tiles_per_row, &QSpinBox::valueChanged, this, &SplitDialog::update_from_tiles);
  connect(m_splits, &QSpinBox::valueChanged, this, &SplitDialog::update_from_tiles);

  if (initial.width > 0 && initial.height > 0) {
    m_in_pixels->setChecked(true);
    set_piece_size(initial);
  } else {
    m_in_tiles->setChecked(true);
    update_from_tiles();
  }
  update_enabled();
  setTabOrder(m_in_pixels, m_width);
  setTabOrder(m_width, m_height);
  setTabOrder(m_height, m_in_tiles);
  setTabOrder(m_in_tiles, m_tiles_per_row);
  setTabOrder(m_tiles_per_row, m_splits);
}

SplitPieceSize SplitDialog::piece_size() const { return SplitPieceSize{m_width->value(), m_height->value()}; }

void SplitDialog::set_piece_size(const SplitPieceSize& size) {
  m_width->setValue(size.width);
  m_height->setValue(size.height);
}

void SplitDialog::set_tiles(int tiles_per_row, int splits) {
  m_in_tiles->setChecked(true);
  m_tiles_per_row->setValue(tiles_per_row);
  m_splits->setValue(splits);
  update_from_tiles();
}

void SplitDialog::update_from_tiles() {
  if (!m_in_tiles->isChecked()) return;
  // Rows follow the row length, so the pieces keep the mosaic's shape when
  // the user asks for more or fewer tiles per row than it has now.
  const int tiles_per_row = m_tiles_per_row->value();
  const auto rows = static_cast<int>(std::min<std::int64_t>(
      ceil_div(static_cast<std::int64_t>(tiles_per_row) * m_tile_rows, m_mosaic_tiles_per_row), kLargestEntry));
  set_piece_size(split_size_from_tiles(tiles_per_row, rows, m_splits->value(), m_tile_width, m_tile_height));
}

void SplitDialog::update_enabled() {
  const bool tiles = m_in_tiles->isChecked();
  m_width->setEnabled(!tiles);
  m_height->setEnabled(!tiles);
  m_tiles_per_row->setEnabled(tiles);
  m_splits->setEnabled(tiles);
}

void SplitDialog::accept() {
  const SplitPieceSize size = piece_size();
  if (!confirm_split_size(m_parameters, size.width, size.height, m_prompt)) {
    (m_in_tiles->isChecked() ? m_splits : m_width)->setFocus();
    return;
  }
  QDialog::accept();
}

bool run_split_dialog(QWidget* parent, const MosaicParameters& parameters, int mosaic_width, int mosaic_height,
                      int tile_width, int tile_height, SplitPieceSize& size) {
  QtPrompt prompt(parent);
  SplitDialog dialog(parameters, mosaic_width, mosaic_height, tile_width, tile_height, size, prompt, parent);
  prompt.set_parent(&dialog);
  if (dialog.exec() != QDialog::Accepted) return false;
  size = dialog.piece_size();
  return true;
}

}  // namespace tess
