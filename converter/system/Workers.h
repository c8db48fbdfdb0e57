#pragma once

// Runs a batch of independent jobs on several worker processes and reports them in job order.
// The plug-in keeps module-wide state and runs on one thread, so conversions run side by side
// in separate processes.

// The workers are forked before any job has run. Each takes the next job when it finishes one,
// so a long job holds up only one worker. What a job writes to stderr is kept by its worker and
// written out by this process in job order, so the output reads as if the jobs had run one
// after another.

// TERM, INT and HUP that reach this process while workers run are passed on to them; once the
// workers have ended, this process ends by the same signal.

#include <cstddef>
#include <functional>
#include <string>

// The processors this process may run on: the default number of workers.
unsigned ProcessorCount();

// How many processes RunJobs runs `count` jobs in with up to `workers` workers: 1 means this one.
unsigned WorkerProcesses(size_t count, unsigned workers);

// Runs jobs 0 to count - 1 and returns how many succeeded; `run` does one job, writes its
// messages to stderr and returns success. Jobs run in up to `workers` forked processes when
// there are several of both, else here in turn. A job whose worker dies fails: `lost(job, why)`
// reports it in turn, and a new worker takes over.
size_t RunJobs(size_t count, unsigned workers, const std::function<bool(size_t job)>& run,
               const std::function<void(size_t job, const std::string& why)>& lost);
