// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a list analysis left out, in one line for the person who made the
// list: "412 files of an unsupported type (.xcf 400, .mov 12); 3 damaged".

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.hpp"
#include "tilelist/skipped_files.hpp"

namespace tess {

/// The reason remembered for a picture that failed to load: the kind of
/// failure first ("damaged", "unsupported format", ...), then the decoder's
/// own words after ": ".
std::string skipped_reason(const Status& status);

/// The kind a remembered reason begins with; empty for a reason of no known
/// kind (such as those of files written before kinds were remembered).
std::string_view reason_kind(std::string_view reason);

/// The line for the files a scan passed over for their kind (`unsupported_types`,
/// by lower-case extension) and those the analysis could not use (`skipped`,
/// grouped by their reason's kind; those of an unsupported format join the
/// types by their extension). Empty when nothing was left out.
std::string left_out_summary(const std::map<std::string, long>& unsupported_types,
                             const std::vector<SkippedFile>& skipped);

}  // namespace tess
