// The schedule input window and its dialogs.
#include "ScheduleKit.h"
#include "frmScheduleInput.h"

using namespace sched_test;

TEST_F(ScheduleTest, Placeholder) {
  frmScheduleInput w(nullptr);
  w.Form_Load();
  Shot(&w, "frmScheduleInput");
}
