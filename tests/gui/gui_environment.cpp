// Every GUI test runs inside one QApplication on the offscreen platform
// (also when the test program is started by hand, without ctest).

#include <cstdlib>

#include <QApplication>

#include <gtest/gtest.h>

namespace {

class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    m_app = new QApplication(m_argc, m_argv);
  }
  void TearDown() override {
    delete m_app;
    m_app = nullptr;
  }

 private:
  int m_argc = 1;
  char m_name[16] = "gui_tests";
  char* m_argv[2] = {m_name, nullptr};
  QApplication* m_app = nullptr;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
