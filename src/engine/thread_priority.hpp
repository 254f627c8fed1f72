#pragma once
// Thread priorities of the mosaic worker and the job pool's threads. The
// option stores a word ("IDLE" .. "HIGHEST"); on Linux each level becomes a
// nice value of the calling thread alone, so a run in the background does not
// slow the rest of the process (the dialog thread keeps its own value).

#include <string_view>

namespace tess {

enum class ThreadPriority { idle, lowest, below_normal, normal, above_normal, highest };

/// The level named by a stored option word: blanks and underscores are
/// removed and case is ignored ("below normal", "Below_Normal" and
/// "BELOWNORMAL" are all below normal); any other word gives `lowest`.
ThreadPriority thread_priority_from_word(std::string_view word);

/// The nice value of a level: idle 19, lowest 10, below normal 5, normal 0,
/// above normal -1, highest -2.
int thread_nice_value(ThreadPriority priority);

/// Gives the calling thread (only it, not the process) the level's nice
/// value. Raising a thread above its current level needs a privilege most
/// users lack; then the thread silently keeps its value and the call returns
/// false. Threads started afterwards by this thread inherit the value.
bool apply_thread_priority(ThreadPriority priority);

}  // namespace tess
