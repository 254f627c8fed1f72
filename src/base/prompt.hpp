#pragma once
// Every message box, question and file or folder dialog of the program goes
// through a Prompt, so the engine never knows whether a person at a window, a
// terminal or a test script is answering.

#include <cstdint>
#include <string>
#include <vector>

namespace tess {

enum class Icon { none, information, warning, error, question };

/// The answer to a question.
enum class Answer { ok, cancel, yes, no, abort, retry, ignore };

/// The buttons a question offers.
enum class Buttons { ok, ok_cancel, yes_no, yes_no_cancel, retry_cancel, abort_retry_ignore };

/// A plain view of 32-bit pixels (red in bits 0-7, transparency in bits
/// 24-31, top row first, no padding), so that base needs no image type.
struct PictureView {
  int width = 0;
  int height = 0;
  const std::uint32_t* pixels = nullptr;
};

/// A request for one or more files.
struct FileRequest {
  std::string caption;
  std::string kind;            ///< dialog kind, names the remembered folder ("ImageList", "MaskFile", ...)
  std::string default_folder;  ///< used when no folder is remembered for the kind
  std::string default_name;    ///< proposed file name (save dialogs)
  std::string filter;          ///< "Description (*.jpg *.png)" entries separated by ";;"
  bool save = false;           ///< a save dialog rather than an open dialog
  bool multiple = false;       ///< several files may be chosen
};

/// A request for a folder.
struct FolderRequest {
  std::string caption;
  std::string kind;
  std::string default_folder;
};

class Prompt {
 public:
  virtual ~Prompt() = default;

  /// Shows a message and returns when the user has read it.
  virtual void message(const std::string& text, Icon icon) = 0;

  /// Asks a question; returns the button chosen (`default_answer` when nobody
  /// can answer).
  virtual Answer ask(const std::string& text, Buttons buttons, Answer default_answer,
                     Icon icon = Icon::question) = 0;

  /// The chosen paths; empty when the user cancelled.
  virtual std::vector<std::string> choose_files(const FileRequest& request) = 0;

  /// The chosen folder; empty when the user cancelled.
  virtual std::string choose_folder(const FolderRequest& request) = 0;

  /// Shows a picture with a caption (queued messages that carry a picture).
  virtual void show_picture(const PictureView& view, const std::string& caption) = 0;

  /// Whether a window with buttons stands behind the prompt, so a text may
  /// point at its buttons and windows. The command line has none: it gets
  /// texts of its own, and no question about opening folders or stopping a
  /// run it drives itself.
  virtual bool has_window() const { return true; }
};

/// A prompt nobody watches: messages are dropped, questions take their
/// default answer and dialogs are cancelled. For side outputs whose failures
/// are deliberately not reported one by one.
class SilentPrompt final : public Prompt {
 public:
  void message(const std::string&, Icon) override {}
  Answer ask(const std::string&, Buttons, Answer default_answer, Icon) override { return default_answer; }
  std::vector<std::string> choose_files(const FileRequest&) override { return {}; }
  std::string choose_folder(const FolderRequest&) override { return {}; }
  void show_picture(const PictureView&, const std::string&) override {}
};

}  // namespace tess
