// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the files of the main window share: the text conversion and the
// picture buttons of its boxes.

#include <filesystem>
#include <string>

#include <QString>
#include <QToolButton>

#include "ui/icons.hpp"

namespace tess::main_window_parts {

inline QString qt(const std::string& text) { return QString::fromStdString(text); }

inline QString file_name_of(const std::string& path) { return qt(std::filesystem::path(path).filename().string()); }

/// A tool button that shows `picture` and names itself `text`.
QToolButton* picture_button(ButtonPicture picture, const std::string& text);

}  // namespace tess::main_window_parts
