// SPDX-License-Identifier: GPL-3.0-or-later
// The parameter form of the main window and the summary beside it.

#include "ui/main_window.hpp"

#include <QAction>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/colour_fidelity.hpp"
#include "engine/image_gaps.hpp"
#include "engine/pattern_generator.hpp"
#include "engine/run_controller.hpp"
#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "output/gap_report.hpp"
#include "output/mosaic_saver.hpp"
#include "output/run_outputs.hpp"
#include "settings/keyword_table.hpp"
#include "settings/summary.hpp"
#include "settings/units.hpp"
#include "tilelist/list_file.hpp"
#include "ui/advanced_settings_window.hpp"
#include "ui/gap_report_window.hpp"
#include "ui/icons.hpp"
#include "ui/language_dialog.hpp"
#include "ui/picture_view.hpp"
#include "ui/property_editor.hpp"
#include "ui/settings_dialogs.hpp"
#include "ui/windows.hpp"
#include "ui/field_binding.hpp"
#include "ui/main_window_parts.hpp"

namespace tess {

using namespace main_window_parts;

namespace {

// Patterns as the box offers them: the landscape rows, the portrait rows,
// then parquet, mixed and the staggered mixed forms.
const std::vector<PatternCode>& offered_patterns() {
  static const std::vector<PatternCode> patterns = [] {
    using P = PatternCode;
    std::vector<PatternCode> order = {P::landscape,        P::landscape_2_rows,  P::landscape_3_rows,
                                      P::landscape_5_rows, P::landscape_7_rows,  P::landscape_10_rows,
                                      P::portrait,         P::portrait_2_rows,   P::portrait_3_rows,
                                      P::portrait_5_rows};
    // Parquet and the two mixed sets each come in the order of their numbers.
    const auto add_run = [&order](PatternCode first, PatternCode last) {
      for (std::int32_t n = pattern_number(first); n <= pattern_number(last); ++n)
        order.push_back(*pattern_of_number(n));
    };
    add_run(P::parquet_1to1, P::parquet_1to5);
    add_run(P::mixed_1to1, P::mixed_b_5to1);
    return order;
  }();
  return patterns;
}

struct VariantChoice {
  TileVariantFlags flag;
  const char* label;
};
const VariantChoice kVariantChoices[] = {
    {TileVariant::original, N_("Original")},
    {TileVariant::mirror, N_("Mirror")},
    {TileVariant::flip_vertically, N_("Flip Vertically")},
    {TileVariant::rotated_180, N_("Rotated 180°")},
    {TileVariant::rotated_90, N_("Rotated 90°")},
    {TileVariant::rotated_270, N_("Rotated 270°")},
};

struct AdaptChoice {
  std::int32_t value;
  const char* label;
};
// The three stored adaptations; the report names them the same way.
const AdaptChoice kAdaptChoices[] = {
    {kAdaptNo, N_("Original")}, {kAdaptTileSize, N_("Adapt Tile")}, {kAdaptMosaicSize, N_("Adapt Mosaic")}};

// The free-text boxes and the parameters they edit.
const FieldBinding kResolutionBinding = FieldBinding::of_measure(kResolutionField, &MosaicParameters::resolution);
const FieldBinding kTileSizeBinding = FieldBinding::of_measure(kTileSizeField, &MosaicParameters::tile_size);
const FieldBinding kSpacingBinding =
    FieldBinding::of_whole(kDuplicateSpacingField, &MosaicParameters::duplicate_spacing, kUnitTiles);
const FieldBinding kColourChangeBinding =
    FieldBinding::of_whole(kColourChangeField, &MosaicParameters::colour_change, kUnitPercent);
const FieldBinding kHalfTilesBinding =
    FieldBinding::of_whole(kTileShareField, &MosaicParameters::half_tiles, kUnitPercent);
const FieldBinding kQuarterTilesBinding =
    FieldBinding::of_whole(kTileShareField, &MosaicParameters::quarter_tiles, kUnitPercent);

constexpr const char* kUnlimitedTimes = N_("unlimited times");
constexpr const char* kNoDuplicates = N_("no duplicates");

// The tile variants: a button with a menu of check boxes, drawn like the
// drop-down boxes beside it. Its text names the chosen variants and is cut
// short with "..." where the box is narrower.
class ChoiceField final : public QToolButton {
 public:
  QSize sizeHint() const override {
    QStyleOptionComboBox option = combo_option();
    const QSize text(fontMetrics().horizontalAdvance(QStringLiteral("Original, Mirror, Rotated")), fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
  }
  QSize minimumSizeHint() const override { return {sizeHint().width() / 2, sizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionComboBox option = combo_option();
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText = fontMetrics().elidedText(text(), Qt::ElideRight, field.width());
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
  }

 private:
  QStyleOptionComboBox combo_option() const {
    QStyleOptionComboBox option;
    option.initFrom(this);
    option.editable = false;
    option.frame = true;
    if (isDown()) option.state |= QStyle::State_On | QStyle::State_Sunken;
    option.subControls = QStyle::SC_All;
    return option;
  }
};

// A menu of check boxes that stays open while the user ticks several.
class CheckMenu final : public QMenu {
 public:
  using QMenu::QMenu;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QAction* action = activeAction();
    if (action != nullptr && action->isCheckable() && action->isEnabled() && rect().contains(event->position().toPoint())) {
      action->trigger();
      return;
    }
    QMenu::mouseReleaseEvent(event);
  }
};

}  // namespace

QWidget* MainWindow::build_parameters_box() {
  auto* box = new QGroupBox(qt(tess::tr("Mosaic Parameters")));
  auto* form = new QFormLayout(box);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // The boxes in their order: label, object name, help, and the box itself.
  struct FormRow {
    const char* label;
    const char* name;
    const char* help;
    std::function<QWidget*()> make;
  };
  const FormRow rows[] = {
      {N_("Mosaic Size:"), "mosaicSize",
       N_("The maximum size of the Mosaic, for example 42 x 29 cm, 20 inch, 100 megapixel or 50 tiles."),
       [this] { return make_mosaic_size_box(); }},
      {N_("Resolution:"), "resolution", N_("The print resolution, for example 300 PPI."),
       [this] { return m_resolution = bound_line_edit(kResolutionBinding); }},
      {N_("Tile Size:"), "tileSize",
       N_("The size of every tile, for example 40 tiles x row, 2000 tiles, 2 cm or 100 pixels."),
       [this] { return m_tile_size = bound_line_edit(kTileSizeBinding); }},
      {N_("Tile Pattern:"), "pattern",
       N_("How the tiles are laid out: rows of landscape or portrait tiles, parquet or mixed rows."),
       [this] { return make_pattern_box(); }},
      {N_("Tile Adaptation:"), "tileAdapt",
       N_("Adapt Mosaic shrinks the Mosaic to whole tiles; Adapt Tile fits the tiles into the Mosaic size."),
       [this] { return make_adaptation_box(); }},
      {N_("Duplicates:"), "tileDuplication", N_("How many times the same image may be used as a tile."),
       [this] { return make_duplication_box(); }},
      {N_("Duplicate Spacing:"), "duplicateSpacing",
       N_("The minimum distance, in tiles, between two uses of the same image."),
       [this] { return m_spacing = bound_line_edit(kSpacingBinding); }},
      {N_("Color Change:"), "colorChange",
       N_("How much the colors of every tile may be changed to match the Main Image."),
       [this] { return make_colour_change_box(); }},
      {N_("Half Tiles:"), "halfTiles", N_("The share of tiles split into two halves, 0% to 80%."),
       [this] { return m_half_tiles = bound_line_edit(kHalfTilesBinding); }},
      {N_("Quarter Tiles:"), "quarterTiles", N_("The share of tiles split into four quarters, 0% to 80%."),
       [this] { return m_quarter_tiles = bound_line_edit(kQuarterTilesBinding); }},
      {N_("Tile Variants:"), "tileVariants",
       N_("Which mirrored and rotated variants of every image may be used as tiles."),
       [this] { return make_variants_button(); }},
      {N_("File Format:"), "fileFormat", N_("Specify the File Format of the saved Mosaic: JPEG, TIFF, PSD, BMP, etc."),
       [this] { return make_format_box(); }},
  };
  for (const FormRow& row : rows) {
    QWidget* field = row.make();
    field->setObjectName(QString::fromLatin1(row.name));
    auto* text = new QLabel(qt(tess::tr(row.label)));
    text->setBuddy(field);
    form->addRow(text, field);
    set_help(field, tess::tr(row.help));
    m_idle_only.push_back(field);
  }
  return box;
}

QLineEdit* MainWindow::bound_line_edit(const FieldBinding& binding) {
  // Free-text boxes are read when the user confirms them or leaves them.
  auto* edit = new QLineEdit;
  const auto apply = [this, binding](const QString& text) { return binding.apply(m_params, text.toStdString()); };
  m_text_fields.emplace_back(edit, apply);
  connect(edit, &QLineEdit::editingFinished, this, [this, edit, apply] {
    if (apply_field(edit, apply)) refresh_summary();
  });
  return edit;
}

QWidget* MainWindow::make_mosaic_size_box() {
  m_mosaic_size = new QComboBox;
  m_mosaic_size->setEditable(true);
  m_mosaic_size->setInsertPolicy(QComboBox::NoInsert);
  for (const SizePreset& preset : mosaic_size_presets()) m_mosaic_size->addItem(qt(preset.text()));
  connect(m_mosaic_size, &QComboBox::activated, this, [this](int index) {
    const auto& presets = mosaic_size_presets();
    if (index < 0 || index >= static_cast<int>(presets.size())) return;
    if (presets[static_cast<std::size_t>(index)].size.is_set()) {
      m_params.mosaic_size = presets[static_cast<std::size_t>(index)].size;
      refresh_summary();
    } else {
      // A free entry: the user types the numbers over the placeholder.
      m_mosaic_size->lineEdit()->selectAll();
      m_mosaic_size->setFocus();
    }
  });
  const auto apply_size = [this](const QString& text) { return apply_mosaic_size(text); };
  m_text_fields.emplace_back(m_mosaic_size, apply_size);
  connect(m_mosaic_size->lineEdit(), &QLineEdit::editingFinished, this, [this, apply_size] {
    if (apply_field(m_mosaic_size, apply_size)) refresh_summary();
  });
  return m_mosaic_size;
}

QWidget* MainWindow::make_pattern_box() {
  m_pattern = new QComboBox;
  for (PatternCode pattern : offered_patterns())
    m_pattern->addItem(qt(tess::tr(pattern_keywords().keyword_of(pattern_number(pattern)))), pattern_number(pattern));
  m_pattern->setMaxVisibleItems(16);
  connect(m_pattern, &QComboBox::activated, this, [this] {
    if (const auto pattern = pattern_of_number(m_pattern->currentData().toInt())) m_params.pattern = *pattern;
    refresh_summary();
  });
  return m_pattern;
}

QWidget* MainWindow::make_adaptation_box() {
  m_adaptation = new QComboBox;
  for (const AdaptChoice& choice : kAdaptChoices) m_adaptation->addItem(qt(tess::tr(choice.label)), choice.value);
  connect(m_adaptation, &QComboBox::activated, this, [this] {
    m_params.tile_adaptation = m_adaptation->currentData().toInt();
    refresh_summary();
  });
  return m_adaptation;
}

QWidget* MainWindow::make_duplication_box() {
  m_duplication = new QComboBox;
  m_duplication->setEditable(true);
  m_duplication->setInsertPolicy(QComboBox::NoInsert);
  m_duplication->addItems({qt(tess::tr(kUnlimitedTimes)), qt(tess::tr(kNoDuplicates))});
  const auto apply_duplication = [this](const QString& text) {
    if (text.trimmed().compare(qt(tess::tr(kUnlimitedTimes)), Qt::CaseInsensitive) == 0) {
      m_params.tile_duplication = 0;
      return true;
    }
    if (text.trimmed().compare(qt(tess::tr(kNoDuplicates)), Qt::CaseInsensitive) == 0) {
      m_params.tile_duplication = 1;
      return true;
    }
    ParameterField field = kTileDuplicationField;
    if (!parse_field(field, text.toStdString())) return false;
    m_params.tile_duplication = static_cast<std::int32_t>(field.current.value);
    return true;
  };
  m_text_fields.emplace_back(m_duplication, apply_duplication);
  connect(m_duplication, &QComboBox::activated, this, [this, apply_duplication] {
    if (apply_field(m_duplication, apply_duplication)) refresh_summary();
  });
  connect(m_duplication->lineEdit(), &QLineEdit::editingFinished, this, [this, apply_duplication] {
    if (apply_field(m_duplication, apply_duplication)) refresh_summary();
  });
  return m_duplication;
}

QWidget* MainWindow::make_colour_change_box() {
  m_colour_change = new QComboBox;
  m_colour_change->setEditable(true);
  m_colour_change->setInsertPolicy(QComboBox::NoInsert);
  for (int percent = 10; percent <= 60; percent += 10)
    m_colour_change->addItem(qt(format_value(percent, kUnitPercent)));
  const auto apply_colour_change = [this](const QString& text) {
    return kColourChangeBinding.apply(m_params, text.toStdString());
  };
  m_text_fields.emplace_back(m_colour_change, apply_colour_change);
  connect(m_colour_change, &QComboBox::activated, this, [this, apply_colour_change] {
    if (apply_field(m_colour_change, apply_colour_change)) refresh_summary();
  });
  connect(m_colour_change->lineEdit(), &QLineEdit::editingFinished, this, [this, apply_colour_change] {
    if (apply_field(m_colour_change, apply_colour_change)) refresh_summary();
  });
  return m_colour_change;
}

QWidget* MainWindow::make_variants_button() {
  m_variants = new ChoiceField;
  m_variants->setPopupMode(QToolButton::InstantPopup);
  m_variants->setToolButtonStyle(Qt::ToolButtonTextOnly);
  m_variants->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  m_variants->setFocusPolicy(Qt::StrongFocus);
  auto* menu = new CheckMenu(m_variants);
  for (const VariantChoice& choice : kVariantChoices) {
    QAction* action = menu->addAction(qt(tess::tr(choice.label)));
    action->setCheckable(true);
    action->setData(choice.flag.mask());
    connect(action, &QAction::toggled, this, [this, flag = choice.flag](bool on) {
      m_params.tile_variants = on ? (m_params.tile_variants | flag) : m_params.tile_variants.without(flag);
      refresh_variants_button();
      refresh_summary();
    });
  }
  m_variants->setMenu(menu);
  return m_variants;
}

QWidget* MainWindow::make_format_box() {
  m_format = new QComboBox;
  for (OutputFormatCode format : offered_formats()) m_format->addItem(qt(format_label(format)), format_number(format));
  connect(m_format, &QComboBox::activated, this, [this] {
    if (const auto format = format_of_number(m_format->currentData().toInt())) m_params.output_format = *format;
    refresh_summary();
  });
  return m_format;
}

QWidget* MainWindow::build_summary_box() {
  auto* box = new QGroupBox(qt(tess::tr("Summary")));
  m_summary = new QLabel;
  m_summary->setObjectName(QStringLiteral("summary"));
  m_summary->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_summary->setWordWrap(true);
  m_tile_type = new QLabel;
  m_tile_type->setObjectName(QStringLiteral("tileType"));
  m_validation = new QLabel;
  m_validation->setObjectName(QStringLiteral("validation"));
  m_validation->setWordWrap(true);
  QFont bold = m_validation->font();
  bold.setBold(true);
  m_validation->setFont(bold);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(m_summary);
  layout->addWidget(m_tile_type);
  layout->addSpacing(6);
  layout->addWidget(m_validation);
  return box;
}

// ---- parameter boxes -----------------------------------------------------------------------

bool MainWindow::apply_field(QWidget* box, const std::function<bool(const QString&)>& apply) {
  if (m_reporting) return false;
  QString text;
  if (auto* edit = qobject_cast<QLineEdit*>(box))
    text = edit->text();
  else if (auto* combo = qobject_cast<QComboBox*>(box))
    text = combo->currentText();
  if (apply(text)) return true;
  // The message takes the focus away; the box gets it back afterwards.
  m_reporting = true;
  report_invalid_parameter(m_prompt);
  m_reporting = false;
  box->setFocus();
  if (auto* edit = qobject_cast<QLineEdit*>(box)) edit->selectAll();
  if (auto* combo = qobject_cast<QComboBox*>(box); combo != nullptr && combo->lineEdit() != nullptr)
    combo->lineEdit()->selectAll();
  return false;
}

bool MainWindow::apply_mosaic_size(const QString& text) {
  const std::string typed = text.trimmed().toStdString();
  for (const SizePreset& preset : mosaic_size_presets())
    if (preset.label != nullptr && preset.size.is_set() && typed == preset.text()) {
      m_params.mosaic_size = preset.size;
      return true;
    }
  const auto size = parse_size(typed);
  if (!size || !kMosaicSizeUnits.contains(size->unit) || !is_valid_size_side(size->width) ||
      !is_valid_size_side(size->height))
    return false;
  m_params.mosaic_size = *size;
  return true;
}

bool MainWindow::commit_fields() {
  for (const auto& [box, apply] : m_text_fields)
    if (!apply_field(box, apply)) return false;
  refresh_fields();
  refresh_summary();
  return true;
}

void MainWindow::refresh_variants_button() {
  QStringList names;
  for (QAction* action : m_variants->menu()->actions()) {
    const auto flag = TileVariantFlags::of_mask(action->data().toInt());
    const bool on = flag && m_params.tile_variants.contains(*flag);
    const QSignalBlocker block(action);
    action->setChecked(on);
    if (on) names << action->text();
  }
  m_variants->setText(names.isEmpty() ? QStringLiteral("-") : names.join(QStringLiteral(", ")));
}

void MainWindow::refresh_fields() {
  // The size box shows a preset's name when the size is one.
  QString size_text = qt(format_size(m_params.mosaic_size));
  for (const SizePreset& preset : mosaic_size_presets())
    if (preset.label != nullptr && preset.size.is_set() && preset.size == m_params.mosaic_size)
      size_text = qt(preset.text());
  m_mosaic_size->setEditText(size_text);
  m_resolution->setText(qt(kResolutionBinding.text(m_params)));
  m_tile_size->setText(qt(kTileSizeBinding.text(m_params)));
  if (int index = m_pattern->findData(pattern_number(m_params.pattern)); index >= 0) m_pattern->setCurrentIndex(index);
  if (int index = m_adaptation->findData(m_params.tile_adaptation); index >= 0) m_adaptation->setCurrentIndex(index);
  m_duplication->setEditText(m_params.tile_duplication == 0   ? qt(tess::tr(kUnlimitedTimes))
                             : m_params.tile_duplication == 1 ? qt(tess::tr(kNoDuplicates))
                                                              : qt(format_value(m_params.tile_duplication, kUnitTimes)));
  m_spacing->setText(qt(kSpacingBinding.text(m_params)));
  m_colour_change->setEditText(qt(kColourChangeBinding.text(m_params)));
  m_half_tiles->setText(qt(kHalfTilesBinding.text(m_params)));
  m_quarter_tiles->setText(qt(kQuarterTilesBinding.text(m_params)));
  refresh_variants_button();
  int format_index = m_format->findData(format_number(m_params.output_format));
  if (format_index < 0) {
    m_format->addItem(qt(format_label(m_params.output_format)), format_number(m_params.output_format));
    format_index = m_format->count() - 1;
  }
  m_format->setCurrentIndex(format_index);
}

MosaicLayout MainWindow::current_layout() const {
  MosaicLayout layout;
  compute_layout(m_params, m_image_width, m_image_height, layout);
  return layout;
}

void MainWindow::refresh_summary() {
  const MosaicLayout layout = current_layout();
  const ListCounts counts = list_counts();
  // Tile counts come from the pattern generator itself, so the summary shows
  // the cells the run will really build.
  const QString verdict = qt(tess::validation_text(layout, counts));
  QStringList lines;
  for (const std::string& line : summary_lines(m_params, layout, layout_cells)) lines << qt(line);
  // Without a main image the size line says so instead of a placeholder, and
  // the reason the layout cannot be used is said once, in the verdict below.
  if (m_image_width <= 0 && lines.size() > 1) lines[1] = qt(format(tess::tr("Main Image: %s"), tess::tr("none chosen")));
  lines.removeAll(verdict);
  m_summary->setText(lines.join('\n'));

  std::int64_t landscape = 0, portrait = 0, total = 0;
  if (layout.usable() && layout.mask_file == 0) {
    if (const auto cells = count_pattern_cells(pattern_input(layout, m_params.pattern))) {
      landscape = cells->landscape;
      portrait = cells->portrait;
      total = cells->total;
    }
  }
  // The tile types are only known once the layout is; no zeros before that.
  m_tile_type->setVisible(total > 0);
  m_tile_type->setText(total > 0 ? qt(tess::tr("Tile Type:") + " " +
                                      format(tess::tr("%lu(L) + %lu(P) %s"), static_cast<unsigned long>(landscape),
                                             static_cast<unsigned long>(portrait),
                                             unit_phrase(kUnitTiles, static_cast<double>(total))))
                                 : QString());
  m_list_type->setText(qt(list_type_line(counts)));
  m_list_path->setText(m_list.path().empty() ? QStringLiteral("-") : qt(m_list.path()));
  m_list_path->setToolTip(qt(m_list.path()));
  m_validation->setText(verdict);
}

QStringList MainWindow::summary_texts() const {
  QStringList texts = m_summary->text().split('\n');
  texts << m_tile_type->text() << m_list_type->text() << m_validation->text();
  texts.removeAll(QString());
  return texts;
}

QString MainWindow::validation_text() const { return m_validation->text(); }
QString MainWindow::progress_text() const { return m_status->text(); }
QString MainWindow::colour_figures_text() const { return m_colour_figures->text(); }
int MainWindow::progress_value() const { return m_progress->value(); }
QString MainWindow::progress_bar_text() const { return m_progress->text(); }
QString MainWindow::picture_title() const { return m_picture_box->title(); }
bool MainWindow::picture_shown() const { return !m_picture_image.isNull(); }

}  // namespace tess
