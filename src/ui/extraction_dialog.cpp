#include "ui/extraction_dialog.hpp"

#include <algorithm>
#include <limits>
#include <random>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/foto.hpp"
#include "ui/tile_list_support.hpp"

namespace tess {
namespace {

// The sample is shown at most this large; the rectangle is scaled with it.
constexpr int kViewWidth = 480;
constexpr int kViewHeight = 360;
constexpr int kLargestEntry = std::numeric_limits<int>::max();

int entry_value(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, 0, kLargestEntry));
}

QSpinBox* number_field(const char* name, QWidget* parent) {
  auto* field = new QSpinBox(parent);
  // Wider than any video, so a crop beyond the frame is refused with its
  // message instead of being clamped while the user types.
  field->setRange(0, kLargestEntry);
  field->setObjectName(QString::fromLatin1(name));
  field->setAlignment(Qt::AlignRight);
  return field;
}

QLabel* make_sample_view(QWidget* dialog) {
  auto* view = new QLabel(dialog);
  view->setObjectName(QStringLiteral("sample"));
  view->setAlignment(Qt::AlignCenter);
  view->setMinimumSize(kViewWidth, kViewHeight);
  view->setFrameShape(QFrame::StyledPanel);
  view->setBackgroundRole(QPalette::Dark);
  view->setAutoFillBackground(true);
  return view;
}

// The buttons that choose the sample frame and mark the crop on it.
struct FrameButtons {
  QPushButton* first;
  QPushButton* random;
  QPushButton* last;
  QPushButton* show_rect;
};

QHBoxLayout* make_frame_buttons(QWidget* dialog, MnemonicSet& keys, FrameButtons& b) {
  b.first = new QPushButton(keys.label(tess::tr("First Frame")), dialog);
  b.random = new QPushButton(keys.label(tess::tr("Random Frame")), dialog);
  b.last = new QPushButton(keys.label(tess::tr("Last Frame")), dialog);
  b.show_rect = new QPushButton(keys.label(tess::tr("Show Rectangle")), dialog);
  for (QPushButton* button : {b.first, b.random, b.last, b.show_rect}) button->setAutoDefault(false);
  b.first->setToolTip(to_qstring(tess::tr("Show the first frame of the video.")));
  b.random->setToolTip(to_qstring(tess::tr("Show a frame picked at random.")));
  b.last->setToolTip(to_qstring(tess::tr("Show the last frame of the video.")));
  b.show_rect->setToolTip(to_qstring(tess::tr("Mark the part of the frame that is kept.")));
  auto* row = new QHBoxLayout;
  row->addWidget(b.first);
  row->addWidget(b.random);
  row->addWidget(b.last);
  row->addStretch(1);
  row->addWidget(b.show_rect);
  return row;
}

}  // namespace

ExtractionDialog::ExtractionDialog(CAviStream& stream, Prompt& prompt, QWidget* parent)
    : QDialog(parent), m_stream(stream), m_prompt(prompt) {
  setWindowTitle(to_qstring(tess::tr("Extract Frames from Video/Movie")));
  MnemonicSet keys;

  // The sample frame and the buttons that choose it.
  m_view = make_sample_view(this);
  FrameButtons frame{};
  QHBoxLayout* frame_buttons = make_frame_buttons(this, keys, frame);

  // The crop rectangle.
  m_left = number_field("left", this);
  m_top = number_field("top", this);
  m_width = number_field("width", this);
  m_height = number_field("height", this);
  auto* crop_box = new QGroupBox(to_qstring(tess::tr("Position/Size")), this);
  auto* crop_form = new QFormLayout(crop_box);
  const auto add_row = [&keys](QFormLayout* form, const char* text, QWidget* field, const char* tip) {
    auto* label = new QLabel(keys.label(tess::tr(text)), field->parentWidget());
    label->setBuddy(field);
    field->setToolTip(to_qstring(tess::tr(tip)));
    form->addRow(label, field);
  };
  constexpr const char* kCropTip = N_("The part of every frame that is kept, in pixels of the video.");
  add_row(crop_form, N_("Left:"), m_left, kCropTip);
  add_row(crop_form, N_("Top:"), m_top, kCropTip);
  add_row(crop_form, "Width:", m_width, kCropTip);
  add_row(crop_form, "Height:", m_height, kCropTip);

  // The frames.
  m_first = number_field("first", this);
  m_last = number_field("last", this);
  m_count = number_field("count", this);
  m_count->setMinimum(1);
  auto* auto_button = new QPushButton(keys.label(tess::tr("Auto")), this);
  auto* max_button = new QPushButton(keys.label(tess::tr("Max")), this);
  auto_button->setAutoDefault(false);
  max_button->setAutoDefault(false);
  auto* frames_box = new QGroupBox(to_qstring(tess::tr("Frames")), this);
  auto* frames_form = new QFormLayout(frames_box);
  add_row(frames_form, N_("First:"), m_first, N_("The first frame to extract."));
  add_row(frames_form, N_("Last:"), m_last, N_("The last frame to extract."));
  add_row(frames_form, N_("Count:"), m_count, N_("How many frames are extracted between the first and the last."));
  auto_button->setToolTip(to_qstring(tess::tr("Fill in the first and last frame and the count suggested for this video.")));
  max_button->setToolTip(to_qstring(tess::tr("Extract every frame of the video.")));
  auto* fill_buttons = new QHBoxLayout;
  fill_buttons->addWidget(auto_button);
  fill_buttons->addWidget(max_button);
  frames_form->addRow(fill_buttons);

  // What is written.
  m_format = new QComboBox(this);
  m_format->setObjectName(QStringLiteral("format"));
  m_format->addItem(to_qstring(tess::tr("Video Clips")), static_cast<int>(ExtractMode::clips));
  m_format->addItem(to_qstring(tess::tr("JPEG Images")), static_cast<int>(ExtractMode::jpeg));
  m_format->addItem(to_qstring(tess::tr("BMP Images")), static_cast<int>(ExtractMode::bmp));
  m_quality = number_field("quality", this);
  m_quality->setRange(1, 100);
  m_quality->setSuffix(QStringLiteral("%"));
  m_prefix = new QLineEdit(this);
  m_prefix->setObjectName(QStringLiteral("prefix"));
  auto* output_box = new QGroupBox(to_qstring(tess::tr("Output")), this);
  auto* output_form = new QFormLayout(output_box);
  add_row(output_form, "File Format:", m_format, N_("Write the frames as short video clips, JPEG or BMP pictures."));
  add_row(output_form, N_("Quality:"), m_quality, N_("The JPEG quality of the extracted pictures."));
  add_row(output_form, N_("File Prefix:"), m_prefix, N_("The first part of the name of every file written."));

  auto* buttons = new QDialogButtonBox(this);
  auto* extract = buttons->addButton(keys.label(tess::tr("Extract")), QDialogButtonBox::AcceptRole);
  extract->setObjectName(QStringLiteral("extract"));
  extract->setDefault(true);
  buttons->addButton(to_qstring(tess::tr("Cancel")), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &ExtractionDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ExtractionDialog::reject);

  auto* info = new QLabel(to_qstring(format("%d x %d, %ld", m_stream.width(), m_stream.height(),
                                            static_cast<long>(m_stream.frame_count()))) +
                              QStringLiteral(" ") + to_qstring(tess::tr("Frames")),
                          this);
  info->setObjectName(QStringLiteral("video_size"));

  auto* fields = new QHBoxLayout;
  fields->addWidget(crop_box);
  fields->addWidget(frames_box);
  fields->addWidget(output_box);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_view, 1);
  layout->addWidget(info);
  layout->addLayout(frame_buttons);
  layout->addLayout(fields);
  layout->addWidget(buttons);

  connect(frame.first, &QPushButton::clicked, this, [this] { show_frame(0); });
  connect(frame.last, &QPushButton::clicked, this, [this] { show_frame(m_stream.frame_count() - 1); });
  connect(frame.random, &QPushButton::clicked, this, [this] {
    static std::mt19937_64 generator{std::random_device{}()};
    const std::int64_t frames = std::max<std::int64_t>(m_stream.frame_count(), 1);
    show_frame(std::uniform_int_distribution<std::int64_t>(0, frames - 1)(generator));
  });
  connect(frame.show_rect, &QPushButton::clicked, this, &ExtractionDialog::show_rectangle);
  connect(auto_button, &QPushButton::clicked, this, &ExtractionDialog::fill_auto);
  connect(max_button, &QPushButton::clicked, this, &ExtractionDialog::fill_max);
  connect(m_format, &QComboBox::currentIndexChanged, this, &ExtractionDialog::update_enabled);

  set_parameters(extract_parameters(extraction_defaults(m_stream, true), ExtractMode::clips));
  show_frame(0);
  setTabOrder(m_left, m_top);
  setTabOrder(m_top, m_width);
  setTabOrder(m_width, m_height);
  setTabOrder(m_height, m_first);
  setTabOrder(m_first, m_last);
  setTabOrder(m_last, m_count);
  setTabOrder(m_count, m_format);
  setTabOrder(m_format, m_quality);
  setTabOrder(m_quality, m_prefix);
}

ExtractMode ExtractionDialog::mode() const { return static_cast<ExtractMode>(m_format->currentData().toInt()); }

ExtractParameters ExtractionDialog::parameters() const {
  ExtractParameters params;
  params.crop = FrameRect{m_left->value(), m_top->value(), m_width->value(), m_height->value()};
  params.first = m_first->value();
  params.last = m_last->value();
  params.count = m_count->value();
  params.mode = mode();
  params.quality = m_quality->value();
  params.prefix = m_prefix->text().toStdString();
  return params;
}

void ExtractionDialog::set_parameters(const ExtractParameters& params) {
  m_left->setValue(entry_value(params.crop.left));
  m_top->setValue(entry_value(params.crop.top));
  m_width->setValue(entry_value(params.crop.width));
  m_height->setValue(entry_value(params.crop.height));
  m_first->setValue(entry_value(params.first));
  m_last->setValue(entry_value(params.last));
  m_count->setValue(std::max(1, entry_value(params.count)));
  m_format->setCurrentIndex(std::max(0, m_format->findData(static_cast<int>(params.mode))));
  m_quality->setValue(std::clamp(params.quality, 1, 100));
  m_prefix->setText(to_qstring(params.prefix));
  update_enabled();
}

void ExtractionDialog::update_enabled() {
  // The count only picks images; the quality only matters to JPEG.
  m_count->setEnabled(mode() != ExtractMode::clips);
  m_quality->setEnabled(mode() == ExtractMode::jpeg);
}

void ExtractionDialog::show_frame(std::int64_t index) {
  m_sample = std::clamp<std::int64_t>(index, 0, std::max<std::int64_t>(m_stream.frame_count() - 1, 0));
  Foto frame;
  // A frame that cannot be read has been reported; the view stays empty.
  m_frame = m_stream.get_frame(m_sample, frame) ? foto_to_image(frame) : QImage();
  show_rectangle();
}

void ExtractionDialog::show_rectangle() {
  if (m_frame.isNull()) {
    m_picture = QImage();
    m_view->clear();
    return;
  }
  m_picture = m_frame.scaled(kViewWidth, kViewHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  const double scale_x = static_cast<double>(m_picture.width()) / m_frame.width();
  const double scale_y = static_cast<double>(m_picture.height()) / m_frame.height();
  QPainter painter(&m_picture);
  painter.setPen(QPen(Qt::white, 1));
  painter.setBrush(Qt::NoBrush);
  const QRectF crop(m_left->value() * scale_x, m_top->value() * scale_y, m_width->value() * scale_x,
                    m_height->value() * scale_y);
  // The pen is drawn inside the area, so the rectangle's edges stay on the picture.
  painter.drawRect(crop.adjusted(0.5, 0.5, -0.5, -0.5));
  painter.end();
  m_view->setPixmap(QPixmap::fromImage(m_picture));
}

void ExtractionDialog::fill_auto() {
  const ExtractionDefaults defaults = extraction_defaults(m_stream, mode() == ExtractMode::clips);
  m_first->setValue(entry_value(defaults.first));
  m_last->setValue(entry_value(defaults.last));
  m_count->setValue(std::max(1, entry_value(defaults.count)));
}

void ExtractionDialog::fill_max() {
  const std::int64_t frames = std::max<std::int64_t>(m_stream.frame_count(), 1);
  m_first->setValue(0);
  m_last->setValue(entry_value(frames - 1));
  m_count->setValue(std::max(1, entry_value(frames)));
}

void ExtractionDialog::accept() {
  const ExtractParameters params = parameters();
  std::string refusal =
      check_extract_parameters(params, m_stream.width(), m_stream.height(), m_stream.frame_count());
  if (refusal.empty()) refusal = crop_error(params.crop, m_stream.width(), m_stream.height());
  if (!refusal.empty()) {
    m_prompt.message(refusal, Icon::warning);
    return;
  }
  QDialog::accept();
}

}  // namespace tess
