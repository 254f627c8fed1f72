// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Status: how a step below the front ends ended. The step does not show its
// failure itself; it hands back the translated text (and the icon it is shown
// with, and an error code such as errno where there is one), and the caller,
// who holds the Prompt, shows it. A fine status holds no text and allocates
// nothing.

#include <string>
#include <utility>

#include "base/prompt.hpp"

namespace tess {

class [[nodiscard]] Status {
 public:
  /// Fine.
  Status() = default;

  /// A failure with a text to show.
  static Status failure(std::string message, Icon icon = Icon::error, int code = 0) {
    Status status;
    status.m_failed = true;
    status.m_message = std::move(message);
    status.m_icon = icon;
    status.m_code = code;
    return status;
  }
  /// A failure with nothing to show: the request itself was not one that can
  /// be met (a size that is not positive, an angle that is no turn).
  static Status refused(int code = 0) {
    Status status;
    status.m_failed = true;
    status.m_code = code;
    return status;
  }

  bool ok() const { return !m_failed; }
  explicit operator bool() const { return ok(); }

  /// The translated text; empty when fine or when there is nothing to show.
  const std::string& message() const { return m_message; }
  Icon icon() const { return m_icon; }
  /// errno or a library's own code where the failure has one; 0 otherwise.
  int code() const { return m_code; }

  /// True when fine; otherwise shows the text (if any) through `prompt` and
  /// returns false. The one place a failure below the front ends reaches a person.
  bool ok_or_show(Prompt& prompt) const {
    if (!m_failed) return true;
    if (!m_message.empty()) prompt.message(m_message, m_icon);
    return false;
  }

 private:
  bool m_failed = false;
  Icon m_icon = Icon::none;
  int m_code = 0;
  std::string m_message;
};

}  // namespace tess
