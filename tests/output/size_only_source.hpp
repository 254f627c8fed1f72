// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A picture that claims a size and has no pixels, for the size limits: a
// refused picture must be refused before its writer starts, so any row
// asked of it is a fault.

#include <cstdint>

#include <gtest/gtest.h>

#include "output/row_source.hpp"

namespace tess::testing {

class SizeOnlySource final : public RowSource {
 public:
  SizeOnlySource(int width, int height) : m_width(width), m_height(height) {}
  int width() const override { return m_width; }
  int height() const override { return m_height; }
  const std::uint32_t* next_row() override {
    ADD_FAILURE() << "a row was pulled";
    return nullptr;
  }
  bool stop_requested() const override { return false; }

 private:
  int m_width;
  int m_height;
};

}  // namespace tess::testing
