// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The 64-bit FNV-1a hash: short, stable names and fingerprints for paths and
// files (cache and lock file names, list shares, what a placement was made
// for, the report's self-test).

#include <cstdint>
#include <string_view>

namespace tess {

inline constexpr std::uint64_t kFnv1aOffsetBasis = 0xCBF29CE484222325ull;
inline constexpr std::uint64_t kFnv1aPrime = 0x100000001B3ull;

/// The 64-bit FNV-1a hash of `bytes` (each byte XORed in before the
/// multiplication), going on from `hash`: pieces hashed one after another
/// give the hash of the whole.
constexpr std::uint64_t fnv1a_64(std::string_view bytes, std::uint64_t hash = kFnv1aOffsetBasis) {
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * kFnv1aPrime;
  return hash;
}

}  // namespace tess
