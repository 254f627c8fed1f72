#include "ui/qt_prompt.hpp"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>

#include "base/text.hpp"
#include "settings/user_state.hpp"
#include "ui/picture_view.hpp"

namespace tess {
namespace {

// Runs `work` on the window thread. A worker thread waits until it is done,
// which is what a report from the run needs: the run goes on only once the
// user has answered.
template <typename Work>
void on_window_thread(Work&& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(app, std::forward<Work>(work), Qt::BlockingQueuedConnection);
}

QMessageBox::Icon box_icon(Icon icon) {
  switch (icon) {
    case Icon::information:
      return QMessageBox::Information;
    case Icon::warning:
      return QMessageBox::Warning;
    case Icon::error:
      return QMessageBox::Critical;
    case Icon::question:
      return QMessageBox::Question;
    case Icon::none:
      break;
  }
  return QMessageBox::NoIcon;
}

struct ButtonChoice {
  QMessageBox::StandardButton button;
  Answer answer;
  const char* label;
};

std::vector<ButtonChoice> button_choices(Buttons buttons) {
  const ButtonChoice ok{QMessageBox::Ok, Answer::ok, N_("OK")};
  const ButtonChoice cancel{QMessageBox::Cancel, Answer::cancel, N_("Cancel")};
  const ButtonChoice yes{QMessageBox::Yes, Answer::yes, N_("&Yes")};
  const ButtonChoice no{QMessageBox::No, Answer::no, N_("&No")};
  switch (buttons) {
    case Buttons::ok:
      return {ok};
    case Buttons::ok_cancel:
      return {ok, cancel};
    case Buttons::yes_no:
      return {yes, no};
    case Buttons::yes_no_cancel:
      return {yes, no, cancel};
    case Buttons::retry_cancel:
      return {{QMessageBox::Retry, Answer::retry, N_("&Retry")}, cancel};
    case Buttons::abort_retry_ignore:
      return {{QMessageBox::Abort, Answer::abort, N_("&Abort")},
              {QMessageBox::Retry, Answer::retry, N_("&Retry")},
              {QMessageBox::Ignore, Answer::ignore, N_("&Ignore")}};
  }
  return {ok};
}

QString window_title() { return QStringLiteral("Tessellarium"); }

QString qt_text(const std::string& text) { return QString::fromStdString(text); }

std::string utf8(const QString& text) { return text.toStdString(); }

// The folder part of a path, for a dialog that proposes a file name.
QString joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return qt_text(name);
  if (name.empty()) return qt_text(folder);
  return qt_text(folder.back() == '/' ? folder + name : folder + "/" + name);
}

// Where a dialog opens when no folder is remembered for its kind: the
// user's pictures folder, else home; never the working folder, which for a
// program started from a menu is "/" (slow to list where mounts hang).
QString start_folder(const std::string& folder) {
  if (!folder.empty()) return qt_text(folder);
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (!pictures.isEmpty() && QDir(pictures).exists()) return pictures;
  return QDir::homePath();
}

}  // namespace

QtPrompt::QtPrompt(QWidget* parent, const UserState* state) : m_parent(parent), m_state(state) {}

void QtPrompt::message(const std::string& text, Icon icon) {
  on_window_thread([&] {
    QMessageBox box(box_icon(icon), window_title(), qt_text(text), QMessageBox::Ok, m_parent.data());
    box.button(QMessageBox::Ok)->setText(qt_text(tess::tr("OK")));
    box.exec();
  });
}

Answer QtPrompt::ask(const std::string& text, Buttons buttons, Answer default_answer, Icon icon) {
  Answer answer = default_answer;
  on_window_thread([&] {
    QMessageBox box(box_icon(icon), window_title(), qt_text(text), QMessageBox::NoButton, m_parent.data());
    const std::vector<ButtonChoice> choices = button_choices(buttons);
    for (const ButtonChoice& choice : choices) {
      QPushButton* button = box.addButton(choice.button);
      button->setText(qt_text(tess::tr(choice.label)));
      if (choice.answer == default_answer) box.setDefaultButton(button);
    }
    // Escape takes the cancelling answer when there is one, else the default.
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const ButtonChoice& choice : choices)
      if (choice.button == clicked) answer = choice.answer;
  });
  return answer;
}

std::vector<std::string> QtPrompt::choose_files(const FileRequest& request) {
  std::vector<std::string> chosen;
  on_window_thread([&] {
    const std::string folder =
        m_state != nullptr ? m_state->file_dialog_folder(request.kind, request.default_folder) : request.default_folder;
    const QString caption = qt_text(request.caption);
    const QString filter = qt_text(request.filter);
    if (request.save) {
      const QString file = QFileDialog::getSaveFileName(
          m_parent.data(), caption, folder.empty() ? start_folder(folder) + QLatin1Char('/') + qt_text(request.default_name)
                                                   : joined(folder, request.default_name),
          filter);
      if (!file.isEmpty()) chosen.push_back(utf8(file));
    } else if (request.multiple) {
      for (const QString& file : QFileDialog::getOpenFileNames(m_parent.data(), caption, start_folder(folder), filter))
        chosen.push_back(utf8(file));
    } else {
      const QString file = QFileDialog::getOpenFileName(m_parent.data(), caption, start_folder(folder), filter);
      if (!file.isEmpty()) chosen.push_back(utf8(file));
    }
    if (!chosen.empty() && m_state != nullptr && !request.kind.empty())
      m_state->remember_file_choice(request.kind, chosen.front());
  });
  return chosen;
}

std::string QtPrompt::choose_folder(const FolderRequest& request) {
  std::string chosen;
  on_window_thread([&] {
    const std::string folder = m_state != nullptr
                                   ? m_state->folder_dialog_folder(request.kind, request.default_folder)
                                   : request.default_folder;
    chosen = utf8(QFileDialog::getExistingDirectory(m_parent.data(), qt_text(request.caption), start_folder(folder)));
    if (!chosen.empty() && m_state != nullptr && !request.kind.empty())
      m_state->remember_folder_choice(request.kind, chosen);
  });
  return chosen;
}

void QtPrompt::show_picture(const PictureView& view, const std::string& caption) {
  on_window_thread([&] { show_picture_dialog(m_parent.data(), view, caption); });
}

}  // namespace tess
