#pragma once

// Plans the command's inputs as jobs: the model files they name (for a folder, the ones found
// below it) and the output each one is written to.

#include "Writers.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be run: the command says so and exits with 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Source {
    std::filesystem::path file;
    std::filesystem::path relative; // below an output folder
};

struct Job {
    std::string input;
    std::string output;
    const OutputFormatInfo* format;
};

// Returns the model files the inputs name; for a folder, the .model files below it, sorted. A
// folder that cannot be read or holds no model is reported in `problems`.
std::vector<Source> FindModels(const std::vector<std::string>& inputs, std::vector<std::string>& problems);

// Turns the inputs into jobs, each output named after its input. `output` is -o (a file for one input
// when it has an extension, else a folder); `formatName` is --format (empty: from -o, else the
// first format). Throws UsageError.
std::vector<Job> PlanJobs(const std::vector<std::string>& inputs, const std::string& output,
                          const std::string& formatName, std::vector<std::string>& problems);
