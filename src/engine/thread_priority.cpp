#include "engine/thread_priority.hpp"

#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace tess {

ThreadPriority thread_priority_from_word(std::string_view word) {
  std::string key;
  key.reserve(word.size());
  for (char c : word) {
    if (c == ' ' || c == '\t' || c == '_') continue;
    key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (key == "IDLE") return ThreadPriority::idle;
  if (key == "LOWEST") return ThreadPriority::lowest;
  if (key == "BELOWNORMAL") return ThreadPriority::below_normal;
  if (key == "NORMAL") return ThreadPriority::normal;
  if (key == "ABOVENORMAL") return ThreadPriority::above_normal;
  if (key == "HIGHEST") return ThreadPriority::highest;
  // An unknown word must never make a run greedier than the user asked for.
  return ThreadPriority::lowest;
}

int thread_nice_value(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::idle: return 19;
    case ThreadPriority::lowest: return 10;
    case ThreadPriority::below_normal: return 5;
    case ThreadPriority::normal: return 0;
    case ThreadPriority::above_normal: return -1;
    case ThreadPriority::highest: return -2;
  }
  return 10;
}

bool apply_thread_priority(ThreadPriority priority) {
  // On Linux the nice value belongs to the kernel task, that is to one
  // thread, so PRIO_PROCESS with the thread id leaves the other threads alone.
  const id_t thread = static_cast<id_t>(::gettid());
  return ::setpriority(PRIO_PROCESS, thread, thread_nice_value(priority)) == 0;
}

}  // namespace tess
