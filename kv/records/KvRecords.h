// KvRecords: the run records in one include: the engine watcher base, the hall of fame, the
// statistics log, the convergence plot and the progress line.
#pragma once

#include "kv/records/convergence_plot.h"
#include "kv/records/engine_watcher.h"
#include "kv/records/hall_of_fame.h"
#include "kv/records/progress_line.h"
#include "kv/records/statistics_log.h"
