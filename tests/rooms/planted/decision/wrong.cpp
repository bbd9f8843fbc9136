// A decision that reads the run's record: the check must refuse it.
#include "decision/comparison.h"
#include "plan/plan.h"
#include "record/runlog.h"
