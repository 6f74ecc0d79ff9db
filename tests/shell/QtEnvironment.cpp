// One offscreen Qt application for the whole test program.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[11] = "test_shell";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
