#include "ui/main_window.hpp"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/colour_fidelity.hpp"
#include "engine/image_gaps.hpp"
#include "engine/pattern_generator.hpp"
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


namespace tess {
namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

constexpr const char* kMainImageKind = "ImageArchive";
constexpr const char* kTileListKind = "ImageList";

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

constexpr const char* kUnlimitedTimes = N_("unlimited times");
constexpr const char* kNoDuplicates = N_("no duplicates");

QToolButton* picture_button(ButtonPicture picture, const std::string& text) {
  auto* button = new QToolButton;
  button->setIcon(button_icon(picture));
  button->setIconSize(QSize(24, 24));
  button->setText(qt(text));
  button->setAccessibleName(qt(text));
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setAutoRaise(false);
  return button;
}

QString file_name_of(const std::string& path) { return qt(std::filesystem::path(path).filename().string()); }

constexpr const char* kDropHint = N_("Drop pictures here or add them with the + button");

// The main images list, which says what to do while it is empty.
class HintList final : public QListWidget {
 protected:
  void paintEvent(QPaintEvent* event) override {
    QListWidget::paintEvent(event);
    if (count() > 0) return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                     qt(tess::tr(kDropHint)));
  }
};

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

// The files of a drop this window takes: pictures as main images, and a
// Tile Images List.
struct DroppedFiles {
  std::vector<std::string> images;
  std::string tile_list;
};
DroppedFiles dropped_files(const QMimeData* data) {
  DroppedFiles files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const std::string path = url.toLocalFile().toStdString();
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe" || extension == ".png")
      files.images.push_back(path);
    else if (extension == ".tzc")
      files.tile_list = path;
  }
  return files;
}

}  // namespace

// ---- free helpers ---------------------------------------------------------------

ShellActions desktop_shell_actions() {
  ShellActions actions;
  actions.beep = [] { QApplication::beep(); };
  actions.open_path = [](const std::string& path) {
    return !path.empty() && QDesktopServices::openUrl(QUrl::fromLocalFile(qt(path)));
  };
  return actions;
}

std::filesystem::path user_guide_file(const std::string& locale) {
  // A guide in the user's language when the data folder has one, else the
  // English one. "(auto)" speaks whatever catalogue LANGUAGE or the locale
  // chose, so the guide follows that catalogue; "de_AT" reads the "de" guide.
  const std::string language = locale.empty() ? catalogue_language() : locale;
  for (const std::string& code : {language, language.substr(0, language.find_first_of("_.@"))}) {
    if (code.empty()) continue;
    const std::filesystem::path translated = data_folder() / "guide" / ("index-" + code + ".html");
    std::error_code error;
    if (std::filesystem::is_regular_file(translated, error)) return translated;
  }
  return data_folder() / "guide" / "index.html";
}

void open_user_guide(const std::string& locale, const std::function<bool(const std::string&)>& open,
                     Prompt& prompt) {
  const std::filesystem::path guide = user_guide_file(locale);
  std::error_code error;
  if (!std::filesystem::is_regular_file(guide, error)) {
    prompt.message(format(tess::tr("The User Guide '%s' is missing. Please reinstall Tessellarium!"), guide.string()),
                   Icon::error);
  } else if (!open || !open(guide.string())) {
    prompt.message(format(tess::tr("No web browser could open the User Guide. It is the file '%s': please open it "
                                   "in a web browser."),
                          guide.string()),
                   Icon::error);
  }
}

std::filesystem::path example_list_file() { return data_folder() / "example" / "example.tzc"; }

// ---- construction ------------------------------------------------------------------

MainWindow::MainWindow(Prompt& prompt, ConfigFile config, MainWindowOptions options, QWidget* parent)
    : QDialog(parent),
      m_prompt(prompt),
      m_config(std::move(config)),
      m_state(m_config),
      m_options(std::move(options)),
      m_shell(desktop_shell_actions()),
      m_params(MosaicParameters::created(m_config.read())),
      m_run_prompt(prompt),
      m_builder(m_run_prompt),
      m_controller(m_builder, RunController::FinalActions{
                                  [this] {
                                    if (m_shell.beep) m_shell.beep();
                                  },
                                  [this](const std::string& folder) {
                                    if (m_shell.open_path) m_shell.open_path(folder);
                                  },
                                  [this](const std::string& page) {
                                    if (m_shell.open_path) m_shell.open_path(page);
                                  }}) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Tessellarium"));
  setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  setAcceptDrops(true);
  build_ui();
  // The fast preview of a run lands in the picture panel.
  m_run_prompt.set_picture_sink([this](const PictureView& view, const std::string& caption) {
    // Asked for, it is the better picture: the sketch leaves it standing.
    m_fast_preview_mosaic = m_builder.sketch().mosaic;
    show_picture(picture_image(view), qt(caption));
  });
  // Enter confirms the box being edited; it never starts a run or opens a window.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  // Opening: the settings, the main image of the command line, a list.
  const IniFile settings = m_settings.read();
  fill_settings_list({}, startup_settings_code(settings));
  load_selected_settings();
  if (!m_options.main_image.empty()) add_main_images({m_options.main_image});
  if (m_list.path().empty()) {
    std::error_code error;
    if (std::filesystem::is_regular_file(example_list_file(), error)) load_tile_list(example_list_file().string());
  }
  refresh_fields();
  refresh_summary();
  show_main_image_picture();
  apply_tool_tips();

  m_timer = new QTimer(this);
  m_timer->setInterval(RunController::kPollIntervalMs);
  connect(m_timer, &QTimer::timeout, this, &MainWindow::tick);
  m_timer->start();
  // Never larger than the screen the window opens on.
  QSize size(1180, 720);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
  resize(size);
}

MainWindow::~MainWindow() {
  m_timer->stop();
  // The worker may be waiting for an answer on this thread: keep serving
  // events until it has seen the stop request and ended.
  if (m_controller.running()) {
    m_builder.request_stop();
    while (m_controller.running()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  m_controller.wait();
  save_auto_settings();
}

void MainWindow::build_ui() {
  auto* left = new QVBoxLayout;
  left->addWidget(build_settings_box());
  left->addWidget(build_images_box(), 1);
  left->addWidget(build_list_box());

  auto* right = new QVBoxLayout;
  right->addWidget(build_summary_box());
  right->addWidget(build_picture_box(), 1);

  auto* columns = new QHBoxLayout;
  columns->addLayout(left, 4);
  columns->addWidget(build_parameters_box(), 4);
  columns->addLayout(right, 4);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns, 1);
  layout->addWidget(build_run_bar());
}

QWidget* MainWindow::build_settings_box() {
  auto* box = new QGroupBox(qt(tess::tr("Mosaic Settings")));
  m_settings_box = new QComboBox;
  m_settings_box->setObjectName(QStringLiteral("settingsList"));
  m_settings_box->setAccessibleName(qt(tess::tr("Mosaic Settings")));
  connect(m_settings_box, &QComboBox::activated, this, [this] {
    load_selected_settings();
    refresh_fields();
    refresh_summary();
  });
  set_help(m_settings_box, tess::tr("Choose saved or automatic Mosaic Settings: they are loaded at once."));

  auto* load = picture_button(ButtonPicture::settings_load, tess::tr("Load Settings"));
  load->setObjectName(QStringLiteral("settingsLoad"));
  set_help(load, tess::tr("Load again the selected Mosaic Settings."));
  connect(load, &QToolButton::clicked, this, [this] {
    load_selected_settings();
    refresh_fields();
    refresh_summary();
  });
  auto* save = picture_button(ButtonPicture::settings_add, tess::tr("Save Settings"));
  save->setObjectName(QStringLiteral("settingsSave"));
  set_help(save, tess::tr("Save the current Mosaic Settings under a name."));
  connect(save, &QToolButton::clicked, this, &MainWindow::save_settings);
  m_settings_delete = picture_button(ButtonPicture::settings_remove, tess::tr("Delete Settings"));
  m_settings_delete->setObjectName(QStringLiteral("settingsDelete"));
  set_help(m_settings_delete, tess::tr("Delete the selected Mosaic Settings."));
  connect(m_settings_delete, &QToolButton::clicked, this, &MainWindow::delete_settings);

  auto* row = new QHBoxLayout(box);
  row->addWidget(m_settings_box, 1);
  row->addWidget(load);
  row->addWidget(save);
  row->addWidget(m_settings_delete);
  m_idle_only.insert(m_idle_only.end(), {m_settings_box, static_cast<QWidget*>(load), m_settings_delete});
  return box;
}

QWidget* MainWindow::build_images_box() {
  auto* box = new QGroupBox(qt(tess::tr("Main Images")));
  m_images_list = new HintList;
  m_images_list->setObjectName(QStringLiteral("mainImages"));
  m_images_list->setAccessibleName(qt(tess::tr("Main Images")));
  m_images_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  set_help(m_images_list, tess::tr("The Main Images: one Mosaic is created for every image of the list."));
  m_images_list->setMinimumHeight(96);
  connect(m_images_list, &QListWidget::currentRowChanged, this, [this] { show_main_image_picture(); });

  auto* add = picture_button(ButtonPicture::image_add, tess::tr("Add Main Image"));
  add->setObjectName(QStringLiteral("imageAdd"));
  set_help(add, tess::tr("Please add an Image using the + button"));
  connect(add, &QToolButton::clicked, this, &MainWindow::choose_main_images);
  auto* remove = picture_button(ButtonPicture::image_remove, tess::tr("Remove Main Image"));
  remove->setObjectName(QStringLiteral("imageRemove"));
  set_help(remove, tess::tr("Remove the selected Main Images from the list."));
  connect(remove, &QToolButton::clicked, this, &MainWindow::remove_main_image);
  auto* clear = picture_button(ButtonPicture::image_remove_all, tess::tr("Remove All Main Images"));
  clear->setObjectName(QStringLiteral("imageRemoveAll"));
  set_help(clear, tess::tr("Remove all the Main Images from the list."));
  connect(clear, &QToolButton::clicked, this, &MainWindow::remove_all_main_images);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addWidget(clear);
  buttons->addStretch(1);
  auto* row = new QHBoxLayout(box);
  row->addWidget(m_images_list, 1);
  row->addLayout(buttons);
  m_idle_only.insert(m_idle_only.end(), {static_cast<QWidget*>(add), remove, clear});
  return box;
}

QWidget* MainWindow::build_list_box() {
  auto* box = new QGroupBox(qt(tess::tr("Tile Images List")));
  auto* button = new QPushButton(button_icon(ButtonPicture::tile_images), qt(tess::tr("&Tile Images List...")));
  button->setObjectName(QStringLiteral("tileListButton"));
  button->setIconSize(QSize(32, 32));
  set_help(button, tess::tr("Please load or create a Tile Images List. This List will be used to build the Mosaic."));
  connect(button, &QPushButton::clicked, this, &MainWindow::open_tile_list_window);
  m_list_path = new QLabel;
  m_list_path->setObjectName(QStringLiteral("tileListPath"));
  m_list_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_list_path->setWordWrap(true);
  m_list_type = new QLabel;
  m_list_type->setObjectName(QStringLiteral("listType"));
  auto* gaps = new QPushButton(qt(tess::tr("&Gap Report...")));
  gaps->setObjectName(QStringLiteral("gapReportButton"));
  set_help(gaps, tess::tr("Show which colours the Tile Images List lacks and, with a Main Image, which parts of "
                          "it no tile matches."));
  connect(gaps, &QPushButton::clicked, this, &MainWindow::open_gap_report);
  auto* layout = new QVBoxLayout(box);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(button, 1);
  buttons->addWidget(gaps);
  layout->addLayout(buttons);
  layout->addWidget(m_list_path);
  layout->addWidget(m_list_type);
  m_idle_only.push_back(button);
  m_idle_only.push_back(gaps);
  return box;
}

QWidget* MainWindow::build_parameters_box() {
  auto* box = new QGroupBox(qt(tess::tr("Mosaic Parameters")));
  auto* form = new QFormLayout(box);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  const auto add = [this, form](const char* label, QWidget* field, const char* name, const std::string& help) {
    field->setObjectName(QString::fromLatin1(name));
    auto* text = new QLabel(qt(tess::tr(label)));
    text->setBuddy(field);
    form->addRow(text, field);
    set_help(field, help);
    m_idle_only.push_back(field);
  };
  // Free-text boxes are read when the user confirms them or leaves them.
  const auto confirm = [this](QLineEdit* edit, std::function<bool(const QString&)> apply) {
    m_text_fields.emplace_back(edit, apply);
    connect(edit, &QLineEdit::editingFinished, this, [this, edit, apply] {
      if (apply_field(edit, apply)) refresh_summary();
    });
  };

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
  add(N_("Mosaic Size:"), m_mosaic_size, "mosaicSize",
      tess::tr("The maximum size of the Mosaic, for example 42 x 29 cm, 20 inch, 100 megapixel or 50 tiles."));

  m_resolution = new QLineEdit;
  confirm(m_resolution, [this](const QString& text) {
    ParameterField field = kResolutionField;
    field.current = m_params.resolution;
    if (!parse_field(field, text.toStdString())) return false;
    m_params.resolution = field.current;
    return true;
  });
  add(N_("Resolution:"), m_resolution, "resolution", tess::tr("The print resolution, for example 300 PPI."));

  m_tile_size = new QLineEdit;
  confirm(m_tile_size, [this](const QString& text) {
    ParameterField field = kTileSizeField;
    field.current = m_params.tile_size;
    if (!parse_field(field, text.toStdString())) return false;
    m_params.tile_size = field.current;
    return true;
  });
  add(N_("Tile Size:"), m_tile_size, "tileSize",
      tess::tr("The size of every tile, for example 40 tiles x row, 2000 tiles, 2 cm or 100 pixels."));

  m_pattern = new QComboBox;
  for (PatternCode pattern : offered_patterns())
    m_pattern->addItem(qt(tess::tr(pattern_keywords().keyword_of(pattern_number(pattern)))), pattern_number(pattern));
  m_pattern->setMaxVisibleItems(16);
  connect(m_pattern, &QComboBox::activated, this, [this] {
    if (const auto pattern = pattern_of_number(m_pattern->currentData().toInt())) m_params.pattern = *pattern;
    refresh_summary();
  });
  add(N_("Tile Pattern:"), m_pattern, "pattern",
      tess::tr("How the tiles are laid out: rows of landscape or portrait tiles, parquet or mixed rows."));

  m_adaptation = new QComboBox;
  for (const AdaptChoice& choice : kAdaptChoices) m_adaptation->addItem(qt(tess::tr(choice.label)), choice.value);
  connect(m_adaptation, &QComboBox::activated, this, [this] {
    m_params.tile_adaptation = m_adaptation->currentData().toInt();
    refresh_summary();
  });
  add(N_("Tile Adaptation:"), m_adaptation, "tileAdapt",
      tess::tr("Adapt Mosaic shrinks the Mosaic to whole tiles; Adapt Tile fits the tiles into the Mosaic size."));

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
  add(N_("Duplicates:"), m_duplication, "tileDuplication",
      tess::tr("How many times the same image may be used as a tile."));

  m_spacing = new QLineEdit;
  confirm(m_spacing, [this](const QString& text) {
    ParameterField field = kDuplicateSpacingField;
    if (!parse_field(field, text.toStdString())) return false;
    m_params.duplicate_spacing = static_cast<std::int32_t>(field.current.value);
    return true;
  });
  add(N_("Duplicate Spacing:"), m_spacing, "duplicateSpacing",
      tess::tr("The minimum distance, in tiles, between two uses of the same image."));

  m_colour_change = new QComboBox;
  m_colour_change->setEditable(true);
  m_colour_change->setInsertPolicy(QComboBox::NoInsert);
  for (int percent = 10; percent <= 60; percent += 10)
    m_colour_change->addItem(qt(format_value(percent, kUnitPercent)));
  const auto apply_colour_change = [this](const QString& text) {
    ParameterField field = kColourChangeField;
    if (!parse_field(field, text.toStdString())) return false;
    m_params.colour_change = static_cast<std::int32_t>(field.current.value);
    return true;
  };
  m_text_fields.emplace_back(m_colour_change, apply_colour_change);
  connect(m_colour_change, &QComboBox::activated, this, [this, apply_colour_change] {
    if (apply_field(m_colour_change, apply_colour_change)) refresh_summary();
  });
  connect(m_colour_change->lineEdit(), &QLineEdit::editingFinished, this, [this, apply_colour_change] {
    if (apply_field(m_colour_change, apply_colour_change)) refresh_summary();
  });
  add(N_("Color Change:"), m_colour_change, "colorChange",
      tess::tr("How much the colors of every tile may be changed to match the Main Image."));

  m_half_tiles = new QLineEdit;
  confirm(m_half_tiles, [this](const QString& text) {
    ParameterField field = kTileShareField;
    if (!parse_field(field, text.toStdString())) return false;
    m_params.half_tiles = static_cast<std::int32_t>(field.current.value);
    return true;
  });
  add(N_("Half Tiles:"), m_half_tiles, "halfTiles", tess::tr("The share of tiles split into two halves, 0% to 80%."));
  m_quarter_tiles = new QLineEdit;
  confirm(m_quarter_tiles, [this](const QString& text) {
    ParameterField field = kTileShareField;
    if (!parse_field(field, text.toStdString())) return false;
    m_params.quarter_tiles = static_cast<std::int32_t>(field.current.value);
    return true;
  });
  add(N_("Quarter Tiles:"), m_quarter_tiles, "quarterTiles",
      tess::tr("The share of tiles split into four quarters, 0% to 80%."));

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
  add(N_("Tile Variants:"), m_variants, "tileVariants",
      tess::tr("Which mirrored and rotated variants of every image may be used as tiles."));

  m_format = new QComboBox;
  for (OutputFormatCode format : offered_formats()) m_format->addItem(qt(format_label(format)), format_number(format));
  connect(m_format, &QComboBox::activated, this, [this] {
    if (const auto format = format_of_number(m_format->currentData().toInt())) m_params.output_format = *format;
    refresh_summary();
  });
  add(N_("File Format:"), m_format, "fileFormat",
      tess::tr("Specify the File Format of the saved Mosaic: JPEG, TIFF, PSD, BMP, etc."));
  return box;
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

QWidget* MainWindow::build_picture_box() {
  m_picture_box = new QGroupBox(qt(tess::tr("Main Image")));
  m_picture_box->setObjectName(QStringLiteral("pictureBox"));
  m_picture = new QLabel;
  m_picture->setObjectName(QStringLiteral("picture"));
  m_picture->setAlignment(Qt::AlignCenter);
  m_picture->setWordWrap(true);
  // The panel takes the room the window gives it; the picture is fitted in.
  m_picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  m_picture->setMinimumSize(120, 90);
  auto* layout = new QVBoxLayout(m_picture_box);
  layout->addWidget(m_picture, 1);
  return m_picture_box;
}

QWidget* MainWindow::build_run_bar() {
  auto* bar = new QWidget;
  m_progress = new QProgressBar;
  m_progress->setObjectName(QStringLiteral("progressBar"));
  m_progress->setRange(0, 10000);
  m_progress->setTextVisible(true);
  m_progress->setFormat(QStringLiteral("%p%"));
  m_progress->setValue(0);
  m_progress->setAccessibleName(qt(tess::tr("Progress")));
  m_progress->setMinimumWidth(120);
  m_status = new QLabel;
  m_status->setObjectName(QStringLiteral("progressText"));
  m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_status->setWordWrap(true);
  m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  // Under the status: how close the finished mosaic's cells came to the
  // main image, so the colour change's share of the likeness is in view.
  m_colour_figures = new QLabel;
  m_colour_figures->setObjectName(QStringLiteral("colourFigures"));
  m_colour_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_colour_figures->setWordWrap(true);
  m_colour_figures->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_colour_figures->setVisible(false);

  auto* more = new QPushButton(button_icon(ButtonPicture::options), qt(tess::tr("More &Options...")));
  more->setObjectName(QStringLiteral("moreOptions"));
  set_help(more, tess::tr("More Options: processing, image comparison, output format and location, RezIroriz and "
                    "the advanced settings."));
  connect(more, &QPushButton::clicked, this, &MainWindow::open_more_options);
  auto* help = picture_button(ButtonPicture::help, tess::tr("Help"));
  help->setObjectName(QStringLiteral("helpButton"));
  set_help(help, tess::tr("Open the User Guide."));
  connect(help, &QToolButton::clicked, this, &MainWindow::open_help);
  auto* language = picture_button(ButtonPicture::language, tess::tr("Language"));
  language->setObjectName(QStringLiteral("languageButton"));
  set_help(language, tess::tr("Select your prefered language:"));
  connect(language, &QToolButton::clicked, this, &MainWindow::open_language);
  auto* about = picture_button(ButtonPicture::about, tess::tr("About"));
  about->setObjectName(QStringLiteral("aboutButton"));
  set_help(about, format(tess::tr("About %s"), "Tessellarium"));
  connect(about, &QToolButton::clicked, this, &MainWindow::open_about);

  m_mosaic_button = new QPushButton(button_icon(ButtonPicture::create_mosaic), qt(tess::tr("&Mosaic")));
  m_mosaic_button->setObjectName(QStringLiteral("mosaicButton"));
  m_mosaic_button->setIconSize(QSize(32, 32));
  m_mosaic_button->setCheckable(true);
  m_mosaic_button->setMinimumWidth(160);
  QFont font = m_mosaic_button->font();
  font.setBold(true);
  m_mosaic_button->setFont(font);
  set_help(m_mosaic_button, tess::tr("Build the Mosaic. While a Mosaic is being built, press again to stop it."));
  // The button's checked look mirrors the run; a click never toggles it itself.
  connect(m_mosaic_button, &QPushButton::clicked, this, [this] {
    m_mosaic_button->setChecked(m_run_active);
    mosaic_clicked();
  });

  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(more);
  row->addWidget(help);
  row->addWidget(language);
  row->addWidget(about);
  row->addWidget(m_progress, 2);
  auto* texts = new QVBoxLayout;
  texts->setContentsMargins(0, 0, 0, 0);
  texts->addWidget(m_status);
  texts->addWidget(m_colour_figures);
  row->addLayout(texts, 3);
  row->addWidget(m_mosaic_button);
  m_idle_only.push_back(more);
  return bar;
}

void MainWindow::set_help(QWidget* widget, const std::string& help) {
  widget->setProperty("help", qt(help));
  if (widget->accessibleDescription().isEmpty()) widget->setAccessibleDescription(qt(help));
}

void MainWindow::apply_tool_tips() {
  const bool on = m_state.get_int("ShowToolTips", 1) != 0;
  for (QWidget* widget : findChildren<QWidget*>()) {
    const QVariant help = widget->property("help");
    if (help.isValid()) widget->setToolTip(on ? help.toString() : QString());
  }
}

// ---- settings ----------------------------------------------------------------------

void MainWindow::fill_settings_list(const std::string& select_name, SettingsEntryCode select_code) {
  m_entries = settings_entries(m_settings.read());
  m_settings_box->clear();
  int selected = -1;
  for (std::size_t i = 0; i < m_entries.size(); ++i) {
    m_settings_box->addItem(qt(m_entries[i].name));
    const bool match = select_name.empty() ? m_entries[i].code == select_code && select_code != kSettingsUser
                                           : m_entries[i].name == select_name;
    if (match && selected < 0) selected = static_cast<int>(i);
  }
  if (selected < 0) {
    for (std::size_t i = 0; i < m_entries.size(); ++i)
      if (m_entries[i].code == kSettingsDefault) selected = static_cast<int>(i);
  }
  m_settings_box->setCurrentIndex(std::max(selected, 0));
}

void MainWindow::load_selected_settings() {
  const int index = m_settings_box->currentIndex();
  if (index < 0 || index >= static_cast<int>(m_entries.size())) return;
  const SettingsEntry& entry = m_entries[static_cast<std::size_t>(index)];
  const SettingsLoad load =
      load_settings_entry(entry, m_settings.read(), m_params, list_counts(), m_config.read(), m_prompt);
  if (load.loaded && !load.tile_list.empty() && load.tile_list != m_list.path()) load_tile_list(load.tile_list);
  m_settings_delete->setEnabled(entry.code == kSettingsUser && !m_run_active);
}

bool MainWindow::select_settings(const std::string& name) {
  const int index = m_settings_box->findText(qt(name));
  if (index < 0) return false;
  m_settings_box->setCurrentIndex(index);
  load_selected_settings();
  refresh_fields();
  refresh_summary();
  return true;
}

QStringList MainWindow::settings_names() const {
  QStringList names;
  for (int i = 0; i < m_settings_box->count(); ++i) names << m_settings_box->itemText(i);
  return names;
}

void MainWindow::save_settings() {
  if (!commit_fields()) return;
  std::string name;
  const int index = m_settings_box->currentIndex();
  if (index >= 0 && index < static_cast<int>(m_entries.size()))
    name = m_entries[static_cast<std::size_t>(index)].name;  // proposed when it is the user's own
  if (!run_save_settings_dialog(this, m_settings, m_params, m_list.path(), m_prompt, name)) return;
  fill_settings_list(name, kSettingsUser);
  m_settings_delete->setEnabled(true);
}

void MainWindow::delete_settings() {
  // The entry chosen in the list is the one deleted: the user is asked about
  // it, not made to pick it again.
  const int index = m_settings_box->currentIndex();
  if (index < 0 || index >= static_cast<int>(m_entries.size())) {
    m_prompt.message(tess::tr(kSelectSettingsToDeleteMessage), Icon::warning);
    return;
  }
  const SettingsEntry entry = m_entries[static_cast<std::size_t>(index)];
  if (entry.code != kSettingsUser) {
    m_prompt.message(tess::tr(kAutomaticSettingsUndeletableMessage), Icon::warning);
    return;
  }
  if (m_prompt.ask(tess::tr(kDeleteSettingsQuestion), Buttons::yes_no, Answer::no, Icon::question) != Answer::yes)
    return;
  if (!m_settings.remove(entry.name)) {
    m_prompt.message(format(tess::tr("Unable to save file '%s'"), m_settings.path().string()), Icon::error);
    return;
  }
  fill_settings_list({}, kSettingsDefault);
  m_settings_delete->setEnabled(false);
}

void MainWindow::save_auto_settings() {
  if (m_auto_saved) return;
  m_auto_saved = true;
  if (!m_settings.save(kAutoSaveSection, m_params, m_list.path(), true))
    m_prompt.message(format(tess::tr("Unable to save file '%s'"), m_settings.path().string()), Icon::error);
}

// ---- images and list --------------------------------------------------------------------

void MainWindow::choose_main_images() {
  FileRequest request;
  request.caption = tess::tr("Select a JPG/PNG image");
  request.kind = kMainImageKind;
  request.filter = tess::tr("Image") + " (*.jpg *.jpeg *.jpe *.png *.JPG *.JPEG *.PNG)";
  request.multiple = true;
  const std::vector<std::string> files = m_prompt.choose_files(request);
  if (!files.empty()) add_main_images(files);
}

void MainWindow::add_main_images(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    int w = 0, h = 0;
    if (!read_main_image_size(file, w, h)) {
      m_prompt.message(format(tess::tr("Unable to load the image '%s'"), file), Icon::error);
      continue;
    }
    if (std::find(m_images.begin(), m_images.end(), file) == m_images.end()) m_images.push_back(file);
  }
  refresh_main_images();
}

void MainWindow::remove_main_image() {
  std::vector<int> rows;
  for (QListWidgetItem* item : m_images_list->selectedItems()) rows.push_back(m_images_list->row(item));
  if (rows.empty() && m_images_list->currentRow() >= 0) rows.push_back(m_images_list->currentRow());
  std::sort(rows.rbegin(), rows.rend());
  for (int row : rows)
    if (row >= 0 && row < static_cast<int>(m_images.size())) m_images.erase(m_images.begin() + row);
  refresh_main_images();
}

void MainWindow::remove_all_main_images() {
  m_images.clear();
  refresh_main_images();
}

void MainWindow::refresh_main_images() {
  {
    const QSignalBlocker quiet(m_images_list);
    m_images_list->clear();
    for (const std::string& image : m_images) {
      auto* item = new QListWidgetItem(file_name_of(image), m_images_list);
      item->setToolTip(qt(image));
    }
    if (!m_images.empty()) m_images_list->setCurrentRow(0);
  }
  // A picture that cannot be read leaves no size; the summary then says so.
  if (m_images.empty() || !read_main_image_size(m_images.front(), m_image_width, m_image_height))
    m_image_width = m_image_height = 0;
  show_main_image_picture();
  refresh_summary();
}

void MainWindow::show_main_image_picture() {
  // While a run goes on the panel belongs to its preview.
  if (m_run_active) return;
  const int row = m_images_list->currentRow();
  if (m_images.empty()) {
    show_picture({}, qt(tess::tr("Main Image")));
    return;
  }
  const std::string& file = m_images[static_cast<std::size_t>(std::clamp(row, 0, static_cast<int>(m_images.size()) - 1))];
  Foto foto;
  QImage picture;
  // A screen-sized copy is plenty; JPEGs are decoded scaled down.
  if (foto.load(file, 1024, 1024)) picture = picture_image({foto.width(), foto.height(), foto.pixels()}).copy();
  show_picture(picture, qt(tess::tr("Main Image")));
}

void MainWindow::show_written_mosaic() {
  // The worker has ended: its results are this thread's to read. The last
  // mosaic written as one picture the window can read replaces the preview.
  for (auto it = m_plan.run.results.rbegin(); it != m_plan.run.results.rend(); ++it) {
    const RunResult& result = it->second;
    if (!result.success || result.written_files.size() != 1) continue;
    Foto foto;
    if (!foto.load(result.written_files.front(), 1024, 1024)) continue;
    show_picture(picture_image({foto.width(), foto.height(), foto.pixels()}).copy(),
                 file_name_of(result.written_files.front()));
    return;
  }
}

void MainWindow::show_colour_figures() {
  // The last mosaic that was written and measured, like the picture shown.
  for (auto it = m_plan.run.results.rbegin(); it != m_plan.run.results.rend(); ++it) {
    const RunResult& result = it->second;
    if (!result.success || result.colour_fidelity.cells == 0) continue;
    m_colour_figures->setText(qt(colour_fidelity_text(result.colour_fidelity)));
    m_colour_figures->setVisible(true);
    return;
  }
}

void MainWindow::show_run_sketch() {
  // The worker draws the mosaic as far as it has got whenever it is asked,
  // so the copy is only taken here, once a poll, never for every tile.
  m_builder.request_sketch();
  const MosaicBuilder::Sketch sketch = m_builder.sketch();
  if (sketch.serial == m_sketch_serial) return;
  m_sketch_serial = sketch.serial;
  if (sketch.pixels.empty() || sketch.mosaic == m_fast_preview_mosaic) return;
  show_picture(picture_image({sketch.width, sketch.height, sketch.pixels.data()}), qt(tess::tr("Mosaic Preview")));
}

void MainWindow::show_picture(const QImage& picture, const QString& title) {
  m_picture_image = picture;
  m_picture_box->setTitle(title);
  if (picture.isNull()) {
    m_picture->setPixmap({});
    m_picture->setText(qt(tess::tr("The chosen Main Image is shown here.")));
  } else {
    m_picture->setText({});
  }
  refresh_picture_scale();
}

void MainWindow::refresh_picture_scale() {
  if (m_picture_image.isNull()) return;
  const QSize room = m_picture->contentsRect().size() * m_picture->devicePixelRatioF();
  // Fitted both ways: the run's sketch is small, and on a screen at 200 %
  // a picture left at its own size would fill a quarter of the panel.
  QPixmap pixmap = QPixmap::fromImage(m_picture_image.size() == room
                                          ? m_picture_image
                                          : m_picture_image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(m_picture->devicePixelRatioF());
  m_picture->setPixmap(pixmap);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  refresh_picture_scale();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const DroppedFiles files = dropped_files(event->mimeData());
  if (!m_run_active && (!files.images.empty() || !files.tile_list.empty())) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const DroppedFiles files = dropped_files(event->mimeData());
  if (m_run_active || (files.images.empty() && files.tile_list.empty())) return;
  event->acceptProposedAction();
  if (!files.tile_list.empty()) load_tile_list(files.tile_list);
  if (!files.images.empty()) add_main_images(files.images);
}

bool MainWindow::load_tile_list(const std::string& file) {
  TileImageList list;
  if (!open_list_file(list, file).ok_or_show(m_prompt)) return false;
  list.group_variants(m_params.processing);
  m_list = std::move(list);
  refresh_summary();
  return true;
}

void MainWindow::open_tile_list_window() {
  std::string path = m_list.path();
  if (run_tile_list_window(this, path, m_config, m_state) && !path.empty()) load_tile_list(path);
  refresh_summary();
}

bool MainWindow::make_gap_report(GapReport& report, Foto& image) {
  if (!commit_fields()) return false;
  report = GapReport();
  image.clear();
  if (m_list.path().empty() || m_list.entry_count() == 0) {
    m_prompt.message(tess::tr("Please load or create a Tile Images List. This List will be used to build the Mosaic."),
                     Icon::warning);
    return false;
  }
  report.list_file = m_list.path();
  if (m_images.empty()) {
    report.coverage = analyse_list_coverage(list_colours(m_list));
    return true;
  }
  // The cells are those a run would cut: the run's own preparation gives them.
  RunRequest request;
  request.parameters = m_params;
  request.list_file = m_list.path();
  request.main_images = {m_images.front()};
  PlanResult planned = prepare_run(request, m_prompt);
  if (!planned.plan) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  apply_decode_budget(planned.plan->parameters.advanced);
  ImageGapsResult measured =
      measure_image_gaps(*planned.plan, configured_thread_count(planned.plan->parameters.advanced, m_config), m_prompt);
  if (measured.ok) report.coverage = analyse_list_coverage(list_colours(planned.plan->list));
  QApplication::restoreOverrideCursor();
  if (!measured.ok) {
    m_prompt.message(format(tess::tr("The Gap Report cannot be made: %s"), measured.reason), Icon::error);
    return false;
  }
  report.main_image = m_images.front();
  report.image_gaps = std::move(measured.gaps);
  image = std::move(measured.image);
  return true;
}

void MainWindow::open_gap_report() {
  GapReport report;
  Foto image;
  if (!make_gap_report(report, image)) return;
  GapReportWindow window(std::move(report), std::move(image), m_prompt, this);
  window.exec();
}

ListCounts MainWindow::list_counts() const {
  ListCounts counts;
  counts.landscape_images = static_cast<std::size_t>(m_list.landscape_images());
  counts.portrait_images = static_cast<std::size_t>(m_list.portrait_images());
  counts.landscape_clips = static_cast<std::size_t>(m_list.landscape_clips());
  counts.portrait_clips = static_cast<std::size_t>(m_list.portrait_clips());
  counts.total = m_list.entry_count();
  return counts;
}

// ---- the other windows ----------------------------------------------------------------

void MainWindow::open_more_options() {
  if (!commit_fields()) return;
  PropertyActions actions;
  actions.check_now = [this] {
    if (m_update_check) m_update_check(true);
  };
  actions.show_advanced = [this](AdvancedOptions& options) {
    return run_advanced_settings(this, options, m_config, m_prompt);
  };
  if (run_more_options(this, m_params, m_state, m_prompt, std::move(actions))) {
    refresh_fields();
    refresh_summary();
    apply_tool_tips();
  }
}

void MainWindow::open_help() { open_user_guide(m_state.get_text("Locale"), m_shell.open_path, m_prompt); }

void MainWindow::open_language() { run_language_dialog(this, m_config, m_prompt); }

void MainWindow::open_about() { show_about_dialog(this, m_state); }

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
  m_resolution->setText(qt(format_value(m_params.resolution)));
  m_tile_size->setText(qt(format_value(m_params.tile_size)));
  if (int index = m_pattern->findData(pattern_number(m_params.pattern)); index >= 0) m_pattern->setCurrentIndex(index);
  if (int index = m_adaptation->findData(m_params.tile_adaptation); index >= 0) m_adaptation->setCurrentIndex(index);
  m_duplication->setEditText(m_params.tile_duplication == 0   ? qt(tess::tr(kUnlimitedTimes))
                             : m_params.tile_duplication == 1 ? qt(tess::tr(kNoDuplicates))
                                                              : qt(format_value(m_params.tile_duplication, kUnitTimes)));
  m_spacing->setText(qt(format_value(m_params.duplicate_spacing, kUnitTiles)));
  m_colour_change->setEditText(qt(format_value(m_params.colour_change, kUnitPercent)));
  m_half_tiles->setText(qt(format_value(m_params.half_tiles, kUnitPercent)));
  m_quarter_tiles->setText(qt(format_value(m_params.quarter_tiles, kUnitPercent)));
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

// ---- the run ---------------------------------------------------------------------------------

void MainWindow::mosaic_clicked() {
  if (m_controller.running()) {
    const bool was_stopping = m_builder.stop_requested();
    m_controller.request_stop();
    // A stop asked from the button keeps the window open.
    if (!was_stopping && m_builder.stop_requested()) m_close_after_run = false;
    return;
  }
  if (!commit_fields()) return;
  // The checks before a run are the run plan's, the same for the command line.
  m_save_black_and_white = false;
  RunRequest request;
  request.parameters = m_params;
  request.list_file = m_list.path();
  request.main_images = m_images;
  // No output may replace what the run reads: the same check as the command line's.
  RunOutputOptions outputs;
  if (m_images.size() == 1 && m_images.front() == m_options.main_image) outputs.output_file = m_options.output_file;
  // A folder of somebody else's where the mosaic's goes is asked about here,
  // and kept under another name by the run if the user says so.
  m_kept_folders = std::make_shared<KeptFolders>();
  outputs.kept_folders = m_kept_folders;
  request.check_outputs = make_output_check(outputs);
  PlanResult planned = prepare_run(request, m_prompt);
  if (!planned.plan) return;
  // A Yes to "no duplicates" shows in the boxes.
  m_params = planned.plan->parameters;
  refresh_fields();
  refresh_summary();
  m_save_black_and_white = planned.plan->save_black_and_white;
  start_run(std::move(*planned.plan));
}

void MainWindow::start_run(RunPlan plan) {
  RunOutputOptions options;
  if (m_params.split_mosaic) {
    const MosaicLayout& layout = plan.layout;
    SplitPieceSize split;
    if (!run_split_dialog(this, m_params, static_cast<int>(layout.final_width), static_cast<int>(layout.final_height),
                          static_cast<int>(layout.tile_width), static_cast<int>(layout.tile_height), split))
      return;
    options.split = split;
  }
  if (!m_settings.save_run_settings(m_params, m_list.path()))
    m_prompt.message(format(tess::tr("Unable to save file '%s'"), m_settings.path().string()), Icon::error);

  m_plan = std::move(plan);
  m_builder.parameters = m_plan.parameters;
  // Figures of an earlier mosaic would read as this one's.
  m_colour_figures->clear();
  m_colour_figures->setVisible(false);
  m_plan.run.threads = configured_thread_count(m_builder.parameters.advanced, m_config);
  apply_decode_budget(m_builder.parameters.advanced);
  // -O names the file of the command line's image only.
  if (m_images.size() == 1 && m_images.front() == m_options.main_image) options.output_file = m_options.output_file;
  options.threads = m_plan.run.threads;
  options.priority = configured_priority(m_builder.parameters.advanced);
  options.user_state = &m_state;
  options.kept_folders = std::exchange(m_kept_folders, nullptr);
  const RunOutputs outputs = make_run_outputs(options);

  const bool started = m_controller.start(
      [this, outputs](MosaicBuilder& builder) {
        run_batch(builder, m_plan.list, m_plan.run, outputs);
        // The final action opens the folder (and the web page) of the last mosaic written.
        for (const auto& [image, result] : m_plan.run.results)
          if (result.success)
            m_controller.set_outputs(std::filesystem::path(result.destination).parent_path().string(),
                                     result.result_file);
      },
      options.priority);
  if (!started) return;
  m_run_active = true;
  m_close_after_run = false;
  set_running_look(true);
}

void MainWindow::set_running_look(bool running) {
  m_mosaic_button->setChecked(running);
  m_mosaic_button->setIcon(button_icon(running ? ButtonPicture::create_mosaic_stop : ButtonPicture::create_mosaic));
  m_mosaic_button->setText(qt(running ? tess::tr("&Stop") : tess::tr("&Mosaic")));
  for (QWidget* widget : m_idle_only) widget->setEnabled(!running);
  if (!running) {
    const int index = m_settings_box->currentIndex();
    m_settings_delete->setEnabled(index >= 0 && index < static_cast<int>(m_entries.size()) &&
                                  m_entries[static_cast<std::size_t>(index)].code == kSettingsUser);
  }
}

void MainWindow::tick() {
  // A message shown from a tick runs its own event loop; the ticks it lets
  // through wait for it.
  if (m_in_tick) return;
  m_in_tick = true;
  ++m_ticks;
  if (m_ticks == 6 && m_update_check) m_update_check(false);  // the scheduled update check, once after start

  // Whether the worker had ended is read before the poll, so the run is
  // only closed after a poll that saw the worker's end (and the final action).
  const bool run_ended = m_run_active && !m_controller.running();
  std::string status_text;
  if (m_run_active || m_controller.running()) {
    const MosaicBuilder::ProgressText progress = m_controller.poll();
    status_text = progress.text;
    m_status->setText(qt(progress.text));
    const int value = static_cast<int>(std::clamp(progress.percent, 0.0, 100.0) * 100.0);
    if (m_progress->value() != value) m_progress->setValue(value);
    show_run_sketch();
  }
  if (run_ended) {
    m_controller.wait();
    m_run_active = false;
    set_running_look(false);
    // A stage that failed ends with the texts of a stop; the status line
    // adds why, so nobody takes it for a cancel.
    if (!m_plan.run.stopped && !m_plan.run.failure.empty())
      m_status->setText(qt(status_text + " " + m_plan.run.failure));
    show_written_mosaic();
    show_colour_figures();
    if (m_close_after_run) {
      m_in_tick = false;
      close();
      return;
    }
  }
  m_in_tick = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (m_controller.running()) {
    m_controller.request_stop();
    // Stopping: the window closes once the run has ended.
    if (m_builder.stop_requested()) m_close_after_run = true;
    event->ignore();
    return;
  }
  save_auto_settings();
  event->accept();
  // QDialog's own close handling would call reject(), which closes again.
  done(QDialog::Rejected);
}

void MainWindow::reject() { close(); }

}  // namespace tess
