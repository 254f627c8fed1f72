#include "ui/property_editor.hpp"

#include <cstdlib>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "settings/keyword_table.hpp"
#include "settings/units.hpp"
#include "settings/user_state.hpp"
#include "ui/field_binding.hpp"


namespace tess {
namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

// Labels keep the dialog resource's "&&" (a literal "&"); a tree row shows
// plain text.
std::string plain_label(const char* label_id) {
  std::string text = tess::tr(label_id);
  for (std::size_t at = text.find("&&"); at != std::string::npos; at = text.find("&&", at + 1)) text.erase(at, 1);
  return text;
}

const std::vector<ChoiceEntry> kProcessingChoices = {
    {N_("High Quality"), kProcessingStandard},
    {N_("Faster"), kProcessingFaster},
    {N_("Custom Tile Variants"), kProcessingCustom},
    {N_("Folder Tile Variants"), kProcessingFolder},
    {N_("Sequential"), kProcessingSequential},
    {N_("Sequential by Date"), kProcessingSequentialDate},
    {N_("Random"), kProcessingRandom},
    {N_("Experimental (No-Duplicates)"), kProcessingStandard1},
};
const std::vector<ChoiceEntry> kCompareChoices = {
    {N_("Best Quality"), kCompareBest},
    {N_("Stronger"), kCompareStronger},
    {N_("Weaker"), kCompareWeaker},
    {N_("Perceptual"), kComparePerceptual}};
const std::vector<ChoiceEntry> kDetailChoices = {
    {N_("Automatic"), 1},   {N_("No Detail"), 2},   {N_("Very Low Detail"), 3}, {N_("Low Detail"), 4},
    {N_("Medium Detail"), 5}, {N_("High Detail"), 6}, {N_("Very High Detail"), 7}, {N_("Maxium Detail"), 8}};
const std::vector<ChoiceEntry> kPriorityChoices = {{N_("High Tile Quality"), 1},
                                                   {N_("Good Tile Quality"), 2},
                                                   {N_("Balanced Quality"), 3},
                                                   {N_("Good Detail Quality"), 4},
                                                   {N_("High Detail Quality"), 5}};
const std::vector<ChoiceEntry> kPopUpChoices = {{N_("No PopUp"), 0},
                                                {N_("Text only"), 1},
                                                {N_("Image only"), 2},
                                                {N_("Image and Text"), 3},
                                                {N_("Image and full Text"), 4}};
const std::vector<ChoiceEntry> kFileNameChoices = {{N_("Save a new Mosaic"), kFileNameNew},
                                                   {N_("Overwrite existing Mosaic"), kFileNameOverwrite}};
const std::vector<ChoiceEntry> kSubfolderChoices = {{N_("Do not create subdirectories"), kSubfolderNone},
                                                    {N_("Create a subdirectory"), kSubfolderOverwrite},
                                                    {N_("Create a NEW subdirectory"), kSubfolderNew}};
const std::vector<ChoiceEntry> kScheduleChoices = {{N_("never"), 1},
                                                   {N_("every two weeks"), 3},
                                                   {N_("every month"), 2},
                                                   {N_("(Beta) every day"), 4},
                                                   {N_("(Beta) every week"), 5},
                                                   {N_("(Beta) every two weeks"), 6}};

// The named border colours; " RGB Value" stands for any other colour typed
// as "r,g,b".
const std::vector<ChoiceEntry> kColourChoices = {
    {N_("Black"), pack_colour(0, 0, 0)},       {N_("White"), pack_colour(255, 255, 255)},
    {N_("Blue"), pack_colour(0, 0, 255)},      {N_("Green"), pack_colour(0, 128, 0)},
    {N_("Yellow"), pack_colour(255, 255, 0)},  {N_("Orange"), pack_colour(255, 165, 0)},
    {N_("Cyan"), pack_colour(0, 255, 255)},    {N_("Purple"), pack_colour(128, 0, 128)},
    {N_("Gray"), pack_colour(128, 128, 128)}};
constexpr const char* kRgbValueLabel = N_(" RGB Value");
constexpr const char* kNoBorderLabel = N_("No Border");
constexpr const char* kNoFramesLabel = N_("No Frames");
constexpr const char* kInputImageFolderLabel = N_("(Use Directory of Input Image)");
constexpr const char* kSaveFolderCaption = N_("Please select a Folder where the Mosaic should be saved:");

// A stored "CheckVersion" as the row shows it: 1..6 as stored, any other
// value (0 included: never asked) as 3.
std::int32_t shown_update_schedule(long stored) {
  return stored >= 1 && stored <= 6 ? static_cast<std::int32_t>(stored) : 3;
}

QComboBox* choice_box(const std::vector<ChoiceEntry>& choices) {
  auto* box = new QComboBox;
  for (const ChoiceEntry& choice : choices) box->addItem(qt(tess::tr(choice.label)), choice.value);
  return box;
}

// Selects the entry of `value`; a value without an entry shows as the
// keyword `fallback` so that loading a setting never changes it silently.
void select_value(QComboBox* box, std::int32_t value, const char* fallback = nullptr) {
  int index = box->findData(value);
  if (index < 0) {
    box->addItem(qt(fallback != nullptr ? fallback : std::to_string(value)), value);
    index = box->count() - 1;
  }
  box->setCurrentIndex(index);
}

std::int32_t selected_value(const QComboBox* box) { return box->currentData().toInt(); }

// Any text whose label a combo box holds, in any letter case.
std::optional<std::int32_t> value_of_label(const std::vector<ChoiceEntry>& choices, const QString& text) {
  const QString trimmed = text.trimmed();
  for (const ChoiceEntry& choice : choices)
    if (trimmed.compare(qt(tess::tr(choice.label)).trimmed(), Qt::CaseInsensitive) == 0) return choice.value;
  return std::nullopt;
}

QComboBox* editable_box(const QStringList& offered) {
  auto* box = new QComboBox;
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->addItems(offered);
  return box;
}

}  // namespace

// ---- the property list -------------------------------------------------------

PropertyEditor::PropertyEditor(const MosaicParameters& parameters, const UserState* state, Prompt& prompt,
                               PropertyActions actions, QWidget* parent)
    : QWidget(parent), m_params(parameters), m_state(state), m_prompt(prompt), m_actions(std::move(actions)) {
  if (m_state != nullptr) {
    m_show_tool_tips = m_state->get_int("ShowToolTips", 1) != 0;
    m_update_schedule = shown_update_schedule(m_state->get_int("CheckVersion", 0));
  }
  m_tree = new QTreeWidget;
  m_tree->setObjectName(QStringLiteral("properties"));
  m_tree->setColumnCount(2);
  m_tree->setHeaderHidden(true);
  m_tree->setRootIsDecorated(true);
  m_tree->setAlternatingRowColors(true);
  m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
  m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  m_tree->header()->setStretchLastSection(true);

  m_help = new QLabel;
  m_help->setObjectName(QStringLiteral("help"));
  m_help->setWordWrap(true);
  m_help->setFrameShape(QFrame::StyledPanel);
  m_help->setMinimumHeight(72);
  m_help->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_help->setMargin(6);
  m_help->setText(general_help());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_tree, 1);
  layout->addWidget(m_help);

  build_rows();
  refresh_rows();
  m_tree->expandAll();
  connect(m_tree, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { show_help(current); });
}

QString PropertyEditor::general_help() {
  return qt(tess::tr("Select a row to read here what it changes. Rows in a group apply to the Mosaics you build next."));
}

QTreeWidgetItem* PropertyEditor::add_group(const char* title, QTreeWidgetItem* parent) {
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent, QStringList{qt(tess::tr(title))})
                                 : new QTreeWidgetItem(m_tree, QStringList{qt(tess::tr(title))});
  QFont font = item->font(0);
  font.setBold(true);
  item->setFont(0, font);
  item->setFirstColumnSpanned(true);
  item->setFlags(Qt::ItemIsEnabled);
  return item;
}

void PropertyEditor::add_row(QTreeWidgetItem* group, Row row) {
  const QString help = qt(row.help);
  if (group == nullptr) {
    // A row of the window's own (its button row), not of the list.
    if (row.editor != nullptr) {
      row.editor->setToolTip(help);
      row.editor->setAccessibleName(qt(plain_label(row.label_id)));
    }
    m_rows.push_back(std::move(row));
    return;
  }
  row.item = new QTreeWidgetItem(group, QStringList{qt(plain_label(row.label_id))});
  row.item->setToolTip(0, help);
  if (row.editor != nullptr) {
    row.editor->setToolTip(help);
    row.editor->setAccessibleName(qt(plain_label(row.label_id)));
    m_tree->setItemWidget(row.item, 1, row.editor);
    // Focus on an editor selects its row, so the help below follows the keyboard too.
    QTreeWidgetItem* item = row.item;
    const auto select_row = [this, item] { m_tree->setCurrentItem(item); };
    connect(qApp, &QApplication::focusChanged, row.editor, [editor = row.editor, select_row](QWidget*, QWidget* now) {
      if (now != nullptr && (now == editor || editor->isAncestorOf(now))) select_row();
    });
  }
  m_rows.push_back(std::move(row));
}

// One row of the list as a table gives it: a choice, an on/off box or a
// typed number, each bound to one member of the parameters.
struct PropertyRowSpec {
  enum class Kind { choice, flag, number };
  Kind kind = Kind::flag;
  const char* label = nullptr;
  const char* key = nullptr;            ///< the editor's object name
  std::vector<const char*> help;        ///< message ids, one a line
  const std::vector<ChoiceEntry>* choices = nullptr;
  std::int32_t MosaicParameters::*choice = nullptr;
  const KeywordTable* fallback = nullptr;  ///< names a value the choices lack
  bool MosaicParameters::*flag = nullptr;
  FieldBinding number;
};

namespace {

using RowSpec = PropertyRowSpec;

RowSpec row_of(RowSpec::Kind kind, const char* label, const char* key, std::vector<const char*> help) {
  RowSpec row;
  row.kind = kind;
  row.label = label;
  row.key = key;
  row.help = std::move(help);
  return row;
}

RowSpec choice_row(const char* label, const char* key, std::vector<const char*> help,
                   const std::vector<ChoiceEntry>& choices, std::int32_t MosaicParameters::*member,
                   const KeywordTable* fallback = nullptr) {
  RowSpec row = row_of(RowSpec::Kind::choice, label, key, std::move(help));
  row.choices = &choices;
  row.choice = member;
  row.fallback = fallback;
  return row;
}

RowSpec flag_row(const char* label, const char* key, const char* help, bool MosaicParameters::*member) {
  RowSpec row = row_of(RowSpec::Kind::flag, label, key, {help});
  row.flag = member;
  return row;
}

RowSpec number_row(const char* label, const char* key, const char* help, FieldBinding binding) {
  RowSpec row = row_of(RowSpec::Kind::number, label, key, {help});
  row.number = binding;
  return row;
}

std::string help_lines(const std::vector<const char*>& ids) {
  std::string help;
  for (const char* id : ids) help += (help.empty() ? "" : "\n") + tess::tr(id);
  return help;
}

const std::vector<RowSpec>& mosaic_rows() {
  static const std::vector<RowSpec> rows = {
      choice_row(N_("Mosaic Processing:"), "MosaicProcessing",
                 {N_("High Quality will produce a better mosaic but is sometimes slower and require more memory."),
                  N_("Custom Tile Variants will use only one image of each group of variants (file names equal up to "
                     "'___')."),
                  N_("Folder Tile Variants will use only one image of each folder."), N_("Faster is an older algorithm."),
                  N_("Sequential will place all the images sequentially, ordered by Folder+FileName."),
                  N_("Sequential by Date will place all the images sequentially, ordered by Shooting Date (or File "
                     "creation date)."),
                  N_("Random will place the images completely randomly.")},
                 kProcessingChoices, &MosaicParameters::processing, &processing_keywords()),
      choice_row(N_("Image Compare:"), "ImageCompare",
                 {N_("Specify how to compare the Images. The various options will produce different mosaics.")},
                 kCompareChoices, &MosaicParameters::comparison),
      choice_row(N_("Image Detail:"), "ImageDetail",
                 {N_("Specify how much detail is needed for the mosaic. The best choice is Automatic. Specify a higher "
                     "detail only if you have several thousand Images in the Tile Images List.")},
                 kDetailChoices, &MosaicParameters::detail),
      choice_row(N_("Color Change Priority:"), "ColorChangePriority",
                 {N_("Specify how each tile may be modified: \"High Detail\" gives a better mosaic, \"High Quality\" "
                     "gives better tiles.")},
                 kPriorityChoices, &MosaicParameters::colour_priority),
      flag_row(N_("Use All Images in the Tile List:"), "UseAllImages",
               N_("Use every image from the Tile Images List at least once even if this will reduce the Mosaic Quality"),
               &MosaicParameters::use_all_images),
      number_row(N_("Don't use consecutive:"), "ConsecutiveFrames",
                 N_("For tiles that are frames of a movie: images with similar file names are not placed near each "
                    "other. Specify how many consecutive frames to keep apart."),
                 FieldBinding::of_whole(kConsecutiveFramesField, &MosaicParameters::consecutive_frames, kUnitFrames,
                                        kNoFramesLabel)),
  };
  return rows;
}

const std::vector<RowSpec>& border_rows() {
  static const std::vector<RowSpec> rows = {
      number_row(N_("Size:"), "BorderSize",
                 N_("Specify the size of the border between the tiles, for example 2 pixels or 1 mm."),
                 FieldBinding::of_measure(kBorderSizeField, &MosaicParameters::border_size, kNoBorderLabel)),
  };
  return rows;
}

const std::vector<RowSpec>& format_rows() {
  static const std::vector<RowSpec> rows = {
      number_row(N_("JPG Quality:"), "JPGQuality",
                 N_("Specify the JPG Quality from 1% to 100% when the Mosaic is saved as JPG, TIFF with JPG compression "
                    "or DivarAdadir Individual Frames"),
                 FieldBinding::of_whole(kJpegQualityField, &MosaicParameters::jpeg_quality, kUnitPercent)),
      flag_row(N_("Background Transparency:"), "OutputTransparency",
               N_("Enable this option to save a transparent background instead of the background color when the "
                  "Mosaic is saved as TIFF or Photoshop PSD/PSB."),
               &MosaicParameters::output_transparency),
      flag_row(N_("Tile Layers:"), "OutputLayers",
               N_("Enable this option, if you want a Layer for each Tile when the Mosaic is saved as Photoshop PSD/PSB "
                  "File Format."),
               &MosaicParameters::output_layers),
      flag_row(N_("TIFF 64 bit:"), "OutputTIFF64",
               N_("Enable this option to save TIFF files larger than 4 Gigabytes (BigTIFF)."),
               &MosaicParameters::output_tiff64),
      flag_row(N_("Create a RezIroriz"), "RezIroriz",
               N_("If selected then the Mosaic is also published as a RezIroriz: a Web Application in a sub-folder to "
                  "zoom into the Mosaic with any Web Browser."),
               &MosaicParameters::web_output),
      flag_row(N_("Copy source images:"), "RezIrorizCopyImages",
               N_("If selected then the RezIroriz will include a copy of all the used source images.\n"),
               &MosaicParameters::web_copy_images),
  };
  return rows;
}

const std::vector<RowSpec>& web_rows() {
  static const std::vector<RowSpec> rows = {
      choice_row(N_("RezIroriz PopUp:"), "RezIrorizPopUpText",
                 {N_("Specify the kind of PopUp Window shown in the RezIroriz when a tile is clicked with the right "
                     "mouse button or pressed long.")},
                 kPopUpChoices, &MosaicParameters::web_popup_text),
      number_row(N_("PopUp Width:"), "RezIrorizPopUpImage",
                 N_("This option specifies the maximum width in Pixels of the PopUp Window shown in the RezIroriz.\n"),
                 FieldBinding::of_whole(kPopUpImageField, &MosaicParameters::web_popup_image, kUnitPixel)),
      flag_row(N_("Text Report && Mosaic Settings:"), "TextReport",
               N_("If selected then a Text Report of the Mosaic is saved together with a Settings file to load again "
                  "the same settings."),
               &MosaicParameters::text_report),
      flag_row(N_("Save Individual Tiles:"), "IndividualTiles",
               N_("If selected then every tile of the Mosaic is saved as a separate image in its own folder."),
               &MosaicParameters::individual_tiles),
      flag_row(N_("Split Mosaic:"), "SplitMosaic",
               N_("If selected then the Mosaic is split into several pieces: the split parameters are asked before "
                  "saving."),
               &MosaicParameters::split_mosaic),
      flag_row(N_("Create a Maskfile:"), "CreateMaskFile",
               N_("If selected then a Mask File is created from the current settings."),
               &MosaicParameters::create_mask_file),
  };
  return rows;
}

const std::vector<RowSpec>& location_rows() {
  static const std::vector<RowSpec> rows = {
      choice_row(N_("Mosaic Subdirectory:"), "MosaicSubdirectory",
                 {N_("Specify if the Mosaics should be saved into a subdirectory.")}, kSubfolderChoices,
                 &MosaicParameters::subfolder_rule),
      choice_row(N_("Mosaic Filename:"), "MosaicFileName",
                 {N_("Specify if a new Mosaic gets a new file name or overwrites an existing Mosaic of the same name.")},
                 kFileNameChoices, &MosaicParameters::file_name_rule),
  };
  return rows;
}

}  // namespace

void PropertyEditor::add_rows(QTreeWidgetItem* group, const std::vector<PropertyRowSpec>& specs) {
  for (const RowSpec& spec : specs) {
    QWidget* editor = nullptr;
    std::function<void()> refresh;
    std::function<bool()> commit;
    switch (spec.kind) {
      case RowSpec::Kind::choice: {
        auto* box = choice_box(*spec.choices);
        editor = box;
        refresh = [this, box, &spec] {
          const std::int32_t value = m_params.*spec.choice;
          select_value(box, value, spec.fallback != nullptr ? spec.fallback->keyword_of(value) : nullptr);
        };
        commit = [this, box, &spec] {
          m_params.*spec.choice = selected_value(box);
          return true;
        };
        break;
      }
      case RowSpec::Kind::flag: {
        auto* check = new QCheckBox;
        editor = check;
        refresh = [this, check, &spec] { check->setChecked(m_params.*spec.flag); };
        commit = [this, check, &spec] {
          m_params.*spec.flag = check->isChecked();
          return true;
        };
        break;
      }
      case RowSpec::Kind::number:
        if (spec.number.zero_label != nullptr) {
          // The word for none is offered in the list; numbers are typed.
          auto* box = editable_box({qt(tess::tr(spec.number.zero_label))});
          editor = box;
          refresh = [this, box, &spec] { box->setEditText(qt(spec.number.text(m_params))); };
          commit = [this, box, &spec] { return spec.number.apply(m_params, box->currentText().toStdString()); };
        } else {
          auto* edit = new QLineEdit;
          editor = edit;
          refresh = [this, edit, &spec] { edit->setText(qt(spec.number.text(m_params))); };
          commit = [this, edit, &spec] { return spec.number.apply(m_params, edit->text().toStdString()); };
        }
        break;
    }
    editor->setObjectName(QString::fromLatin1(spec.key));
    add_row(group, {spec.label, help_lines(spec.help), editor, std::move(refresh), std::move(commit)});
  }
}

void PropertyEditor::build_rows() {
  QTreeWidgetItem* group = add_group(N_("Mosaic Parameters"));
  add_rows(group, mosaic_rows());
  // The border between the tiles: its colour and size, under a heading of their own.
  QTreeWidgetItem* border = add_group(N_("Border"), group);
  add_border_colour_row(border);
  add_rows(border, border_rows());

  group = add_group(N_("User Interface"));
  add_user_interface_rows(group);

  group = add_group(N_("Output Format"));
  add_file_format_row(group);
  add_rows(group, format_rows());
  {
    auto* edit = new QLineEdit;
    edit->setObjectName(QStringLiteral("RezIrorizTitle"));
    add_row(group, {N_("RezIroriz Title:"),
                    tess::tr("This text will be used as the Title and the Attribution Line for the generated WebPage.\n"),
                    edit, [this, edit] { edit->setText(qt(m_params.web_title)); },
                    [this, edit] {
                      // One line: the title goes into the page and the settings file.
                      m_params.web_title = edit->text().simplified().toStdString();
                      return true;
                    }});
  }
  add_rows(group, web_rows());

  group = add_group(N_("Output Location"));
  add_directory_row(group);
  add_rows(group, location_rows());

  // The button sits in the window's button row, where it is always in view.
  auto* button = new QPushButton(qt(tess::tr("Show Advanced Settings")), this);
  button->hide();
  m_advanced_button = button;
  button->setObjectName(QStringLiteral("ShowAdvancedSettings"));
  button->setEnabled(static_cast<bool>(m_actions.show_advanced));
  connect(button, &QPushButton::clicked, this, [this] {
    if (m_actions.show_advanced && m_actions.show_advanced(m_params.advanced)) refresh_rows();
  });
  add_row(nullptr, {N_("Show Advanced Settings"),
                    tess::tr("Performance, tile priority, image comparison, web, video and extraction options."), button,
                    {}, {}});
}

void PropertyEditor::add_border_colour_row(QTreeWidgetItem* group) {
  QStringList offered{qt(tess::tr(kRgbValueLabel))};
  for (const ChoiceEntry& colour : kColourChoices) offered << qt(tess::tr(colour.label));
  auto* box = editable_box(offered);
  box->setObjectName(QStringLiteral("BorderColor"));
  // Choosing " RGB Value" leaves the numbers to type.
  connect(box, &QComboBox::activated, box, [this, box](int index) {
    if (index == 0) box->setEditText(qt(format_colour(m_params.border_colour)));
  });
  add_row(group, {N_("Color:"),
                  tess::tr("Specify the color of the border between the tiles, as a name or as red, green and blue "
                           "values from 0 to 255 (for example 255,0,128)."),
                  box,
                  [this, box] {
                    for (const ChoiceEntry& colour : kColourChoices)
                      if (colour.value == m_params.border_colour) {
                        box->setEditText(qt(tess::tr(colour.label)));
                        return;
                      }
                    box->setEditText(qt(format_colour(m_params.border_colour)));
                  },
                  [this, box] {
                    if (auto named = value_of_label(kColourChoices, box->currentText())) {
                      m_params.border_colour = *named;
                      return true;
                    }
                    const auto colour = parse_colour(box->currentText().toStdString());
                    if (!colour) return false;
                    m_params.border_colour = *colour;
                    return true;
                  }});
}

void PropertyEditor::add_user_interface_rows(QTreeWidgetItem* group) {
  auto* check = new QCheckBox;
  check->setObjectName(QStringLiteral("ShowToolTips"));
  add_row(group, {N_("Show ToolTips:"), tess::tr("Show a help text when the mouse rests on a control."), check,
                  [this, check] { check->setChecked(m_show_tool_tips); },
                  [this, check] {
                    m_show_tool_tips = check->isChecked();
                    return true;
                  }});

  auto* holder = new QWidget;
  auto* box = choice_box(kScheduleChoices);
  box->setObjectName(QStringLiteral("CheckVersion"));
  auto* now = new QPushButton(qt(tess::tr("Check Now")));
  now->setObjectName(QStringLiteral("CheckNow"));
  now->setToolTip(qt(tess::tr("Click check now for a new version.")));
  now->setEnabled(static_cast<bool>(m_actions.check_now));
  connect(now, &QPushButton::clicked, this, [this] {
    if (m_actions.check_now) m_actions.check_now();
  });
  auto* row_layout = new QHBoxLayout(holder);
  row_layout->setContentsMargins(0, 0, 0, 0);
  row_layout->addWidget(box, 1);
  row_layout->addWidget(now);
  holder->setFocusProxy(box);
  add_row(group, {N_("Check for updates:"), tess::tr("Specify how often Tessellarium should check for a new version."),
                  holder, [this, box] { select_value(box, m_update_schedule); },
                  [this, box] {
                    m_update_schedule = selected_value(box);
                    return true;
                  }});
}

void PropertyEditor::add_file_format_row(QTreeWidgetItem* group) {
  auto* box = new QComboBox;
  box->setObjectName(QStringLiteral("FileFormat"));
  for (OutputFormatCode format : offered_formats()) box->addItem(qt(format_label(format)), format_number(format));
  add_row(group, {N_("File Format:"), tess::tr("Specify the File Format of the saved Mosaic: JPEG, TIFF, PSD, BMP, etc."),
                  box,
                  [this, box] {
                    select_value(box, format_number(m_params.output_format),
                                 format_label(m_params.output_format).c_str());
                  },
                  [this, box] {
                    if (const auto format = format_of_number(selected_value(box))) m_params.output_format = *format;
                    return true;
                  }});
}

void PropertyEditor::add_directory_row(QTreeWidgetItem* group) {
  auto* holder = new QWidget;
  auto* edit = new QLineEdit;
  edit->setObjectName(QStringLiteral("MosaicDirectory"));
  edit->setPlaceholderText(qt(tess::tr(kInputImageFolderLabel)));
  edit->setClearButtonEnabled(true);
  auto* browse = new QToolButton;
  browse->setObjectName(QStringLiteral("MosaicDirectoryBrowse"));
  browse->setText(QStringLiteral("..."));
  browse->setToolTip(qt(tess::tr(kSaveFolderCaption)));
  connect(browse, &QToolButton::clicked, this, [this, edit] {
    const std::string folder = m_prompt.choose_folder({tess::tr(kSaveFolderCaption), "SavePath", edit->text().toStdString()});
    if (!folder.empty()) edit->setText(qt(folder));
  });
  auto* row_layout = new QHBoxLayout(holder);
  row_layout->setContentsMargins(0, 0, 0, 0);
  row_layout->addWidget(edit, 1);
  row_layout->addWidget(browse);
  holder->setFocusProxy(edit);
  add_row(group, {N_("Mosaic Directory:"),
                  tess::tr("Specify where your Mosaics should be saved. By default into the same directory of your Input "
                           "Image"),
                  holder, [this, edit] { edit->setText(qt(m_params.mosaic_directory)); },
                  [this, edit] {
                    m_params.mosaic_directory = edit->text().trimmed().toStdString();
                    return true;
                  }});
}

void PropertyEditor::refresh_rows() {
  for (Row& row : m_rows)
    if (row.refresh) row.refresh();
}

void PropertyEditor::set_parameters(const MosaicParameters& parameters) {
  m_params = parameters;
  refresh_rows();
}

bool PropertyEditor::commit() {
  for (Row& row : m_rows) {
    if (!row.commit || row.commit()) continue;
    report_invalid_parameter(m_prompt);
    m_tree->setCurrentItem(row.item);
    m_tree->scrollToItem(row.item);
    row.editor->setFocus();
    return false;
  }
  return true;
}

std::vector<std::string> PropertyEditor::row_labels() const {
  std::vector<std::string> labels;
  for (const Row& row : m_rows) labels.push_back(plain_label(row.label_id));
  return labels;
}

QString PropertyEditor::help_text() const { return m_help->text(); }

std::string PropertyEditor::help_of(const std::string& label_id) const {
  for (const Row& row : m_rows)
    if (label_id == row.label_id) return row.help;
  return {};
}

void PropertyEditor::show_help(QTreeWidgetItem* item) {
  for (const Row& row : m_rows)
    if (row.item == item) {
      m_help->setText(QStringLiteral("<b>%1</b><br>%2")
                          .arg(qt(plain_label(row.label_id)).toHtmlEscaped(),
                               qt(row.help).trimmed().toHtmlEscaped().replace('\n', QStringLiteral("<br>"))));
      return;
    }
  m_help->setText(general_help());
}

// ---- the window ------------------------------------------------------------------

MoreOptionsDialog::MoreOptionsDialog(QWidget* parent, const MosaicParameters& parameters, const UserState* state,
                                     Prompt& prompt, PropertyActions actions)
    : QDialog(parent) {
  setObjectName(QStringLiteral("MoreOptionsDialog"));
  setWindowTitle(qt(tess::tr("More Options")));
  m_editor = new PropertyEditor(parameters, state, prompt, std::move(actions));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(qt(tess::tr("OK")));
  buttons->button(QDialogButtonBox::Cancel)->setText(qt(tess::tr("Cancel")));

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_editor, 1);
  // The window's own action on the left, OK and Cancel where the desktop puts them.
  auto* row = new QHBoxLayout;
  if (QPushButton* advanced = m_editor->advanced_button()) {
    advanced->setParent(this);
    advanced->show();
    row->addWidget(advanced);
    // The keyboard reaches it after the list and before OK and Cancel.
    QWidget::setTabOrder(advanced, buttons->button(QDialogButtonBox::Ok));
    QWidget::setTabOrder(buttons->button(QDialogButtonBox::Ok), buttons->button(QDialogButtonBox::Cancel));
  }
  row->addWidget(buttons, 1);
  layout->addLayout(row);
  setSizeGripEnabled(true);
  setMinimumSize(480, 400);
  // As tall as the screen allows, so that most rows are in view at once.
  QSize size(720, 860);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 64));
  resize(size);
}

void MoreOptionsDialog::accept() {
  if (m_editor->commit()) QDialog::accept();
}

bool run_more_options(QWidget* parent, MosaicParameters& parameters, const UserState& state, Prompt& prompt,
                      PropertyActions actions) {
  MoreOptionsDialog dialog(parent, parameters, &state, prompt, std::move(actions));
  if (dialog.exec() != QDialog::Accepted) return false;
  const PropertyEditor& editor = *dialog.editor();
  parameters = editor.parameters();
  state.set_int("ShowToolTips", editor.show_tool_tips() ? 1 : 0);
  // A schedule the user never chose stays unasked (0), so the first-run question still comes.
  if (state.get_int("CheckVersion", 0) != 0 || editor.update_schedule() != 3)
    state.set_int("CheckVersion", editor.update_schedule());
  return true;
}

}  // namespace tess
