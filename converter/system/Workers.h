#pragma once

// Runs a batch of independent jobs on several worker processes, reporting them in job order.
// The plug-in keeps module-wide state and runs on one thread, so conversions run side by side
// in processes: the workers are forked before any job has run, and each takes the next job
// when it finishes one, so a long job holds up one worker only. What a job writes to stderr is
// kept by its worker and written out by this process in job order, so the output reads as if
// the jobs had run one after another.

#include <cstddef>
#include <functional>
#include <string>

// The processors this process may run on: the default number of workers.
unsigned ProcessorCount();

// Runs jobs 0 to count - 1 and returns how many succeeded. `run` does one job, writes its
// messages to stderr and says whether it succeeded. With more than one worker and more than
// one job, the jobs run in up to `workers` forked processes; otherwise here, one after another.
// A job whose worker dies fails: `lost(job, why)` writes its message in the job's turn, and a
// new worker takes the jobs that remain. TERM, INT and HUP that reach this process while
// workers run are passed on to them; once they have ended, this process ends by that signal.
size_t RunJobs(size_t count, unsigned workers, const std::function<bool(size_t job)>& run,
               const std::function<void(size_t job, const std::string& why)>& lost);
