#include "ui/gap_report_window.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "ui/picture_view.hpp"

namespace tess {
namespace {

QString qtr(const char* message_id) { return QString::fromStdString(tess::tr(message_id)); }
QString qt(const std::string& text) { return QString::fromStdString(text); }

QString percent(double share) { return QString::number(share * 100.0, 'f', 1) + QStringLiteral(" %"); }

QString swatch_cell(std::uint32_t pixel) {
  return QStringLiteral("<td bgcolor=\"#%1%2%3\">&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;</td>")
      .arg(pixel_red(pixel), 2, 16, QLatin1Char('0'))
      .arg(pixel_green(pixel), 2, 16, QLatin1Char('0'))
      .arg(pixel_blue(pixel), 2, 16, QLatin1Char('0'));
}

/// A table of swatches, names and shares as Qt's rich text shows it.
template <typename Row>
QString swatch_table(const std::vector<Row>& rows) {
  QString html = QStringLiteral("<table cellspacing=\"4\">");
  for (const Row& row : rows)
    html += QStringLiteral("<tr>") + swatch_cell(row.swatch) + QStringLiteral("<td>") + qtr(row.name).toHtmlEscaped() +
            QStringLiteral("</td><td align=\"right\">") + percent(row.share) + QStringLiteral("</td></tr>");
  return html + QStringLiteral("</table>");
}

QLabel* picture_label(const Foto& foto) {
  auto* label = new QLabel;
  label->setPixmap(QPixmap::fromImage(picture_image({foto.width(), foto.height(), foto.pixels()})));
  label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  return label;
}

QLabel* heading(const QString& text) {
  auto* label = new QLabel(QStringLiteral("<b>") + text.toHtmlEscaped() + QStringLiteral("</b>"));
  label->setTextFormat(Qt::RichText);
  return label;
}

}  // namespace

GapReportWindow::GapReportWindow(GapReport report, Foto image, Prompt& prompt, QWidget* parent)
    : QDialog(parent), m_report(std::move(report)), m_image(std::move(image)), m_prompt(prompt) {
  setObjectName(QStringLiteral("GapReportWindow"));
  setWindowTitle(qt(format(tess::tr("Gap Report of %s"),
                           std::filesystem::path(m_report.list_file).filename().string())));

  auto* content = new QWidget;
  auto* columns = new QHBoxLayout(content);

  // The list alone: its chart and its holes.
  auto* left = new QVBoxLayout;
  left->addWidget(heading(qtr("Colour coverage")));
  Foto chart;
  SilentPrompt quiet;
  if (draw_coverage_chart(m_report.coverage, chart, quiet)) left->addWidget(picture_label(chart));
  auto* legend = new QLabel(qtr("Hue across, lightness down, greys at the right. Hatched: no tile within reach. Dots: "
                                "the tiles' colours."));
  legend->setWordWrap(true);
  left->addWidget(legend);
  left->addWidget(heading(qtr("Largest holes")));
  auto* holes = new QLabel(m_report.coverage.holes.empty() ? qtr("None: the tiles reach every colour.")
                                                           : swatch_table(m_report.coverage.holes));
  holes->setObjectName(QStringLiteral("gapHoles"));
  holes->setTextFormat(Qt::RichText);
  left->addWidget(holes);
  left->addStretch(1);
  columns->addLayout(left);

  // The list against the main image: the heat map and the colours to add.
  if (m_report.image_gaps) {
    const ImageGaps& gaps = *m_report.image_gaps;
    auto* right = new QVBoxLayout;
    right->addWidget(heading(qt(format(tess::tr("Against the main image %s"),
                                       std::filesystem::path(m_report.main_image).filename().string()))));
    Foto heat;
    if (draw_heat_map(gaps, m_image, heat, quiet, 560)) right->addWidget(picture_label(heat));
    right->addWidget(heading(qtr("Colours to add")));
    auto* add = new QLabel(gaps.to_add.empty() ? qtr("None: the tiles match every cell.") : swatch_table(gaps.to_add));
    add->setObjectName(QStringLiteral("gapColoursToAdd"));
    add->setTextFormat(Qt::RichText);
    right->addWidget(add);
    right->addStretch(1);
    columns->addLayout(right);
  }

  auto* scroll = new QScrollArea;
  scroll->setWidget(content);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  m_figures = new QLabel(figures_text());
  m_figures->setObjectName(QStringLiteral("gapFigures"));
  m_figures->setWordWrap(true);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  auto* save = buttons->addButton(qtr("Save Report..."), QDialogButtonBox::ActionRole);
  save->setObjectName(QStringLiteral("gapSaveReport"));
  connect(save, &QPushButton::clicked, this, [this] { save_report(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_figures);
  layout->addWidget(scroll, 1);
  layout->addWidget(buttons);
  // Wide enough for both columns, so only a tall report scrolls.
  const QSize wanted = content->sizeHint().expandedTo(content->minimumSizeHint());
  scroll->setMinimumWidth(std::min(
      wanted.width() + 2 * scroll->frameWidth() + scroll->verticalScrollBar()->sizeHint().width(), 1400));
  resize(std::min(wanted.width() + 60, 1460), std::min(wanted.height() + 140, 900));
}

QString GapReportWindow::figures_text() const {
  const ListCoverage& coverage = m_report.coverage;
  QString text = qt(format(tess::tr("%lu distinct tile colours reach %s of all colours within ΔE %d."),
                           static_cast<unsigned long>(coverage.tile_colours),
                           percent(coverage.covered_share).toStdString(), static_cast<int>(kGapDeltaE)));
  if (m_report.image_gaps) {
    const ImageGaps& gaps = *m_report.image_gaps;
    text += QLatin1Char('\n') + qt(format(tess::tr("Share of the image no tile matches within ΔE %d: %s"),
                                          static_cast<int>(kGapDeltaE), percent(gaps.unmatched_share).toStdString()));
    text += QLatin1Char('\n') + qt(format(tess::tr("Mean distance to the nearest tile: ΔE %.1f"), gaps.mean_delta));
  }
  return text;
}

bool GapReportWindow::save_report() {
  FolderRequest request;
  request.caption = tess::tr("Please select a Folder for the Gap Report:");
  request.kind = "GapReport";
  request.default_folder = default_gap_report_folder(m_report.list_file).parent_path().string();
  const std::string folder = m_prompt.choose_folder(request);
  if (folder.empty()) return false;
  if (!write_gap_report(m_report, m_image.empty() ? nullptr : &m_image, folder, m_prompt)) return false;
  m_prompt.message(format(tess::tr("The Gap Report was saved in '%s'."),
                          (std::filesystem::path(folder) / kGapPageName).string()),
                   Icon::information);
  return true;
}

}  // namespace tess
