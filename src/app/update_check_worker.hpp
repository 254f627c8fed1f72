#pragma once
// The update check of the desktop program: the request runs on a thread of
// its own, and its outcome comes back to the GUI thread, where the messages
// are shown. See update_check.hpp for the rules.

class QWidget;

namespace tess {

class ConfigFile;
class Prompt;

/// Starts an update check. The main window calls it with `manual` false on
/// the sixth tick of its 500 ms timer; "Check Now" of the "More Options"
/// window calls it with `manual` true. On the GUI thread, before anything
/// else: nothing happens while a check is running; the first-run question is
/// asked when the user was never asked; the schedule in "CheckVersion" and
/// the date of the last check decide whether a request is made. The request
/// then runs on its own thread and this returns at once; its outcome is
/// reported through `prompt` on the GUI thread (an automatic check that
/// fails says nothing). `prompt` must outlive the check; when `parent` is
/// destroyed first, the check is abandoned silently. True when a request
/// was started.
bool start_update_check(QWidget* parent, const ConfigFile& config, Prompt& prompt, bool manual);

/// True while a started check has not been reported yet.
[[nodiscard]] bool update_check_running();

}  // namespace tess
