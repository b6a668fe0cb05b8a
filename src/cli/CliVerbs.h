// The verbs of tilvorn-cli. Each verb lives in a .cpp of its own in this folder and registers
// itself with a static RegisterVerb object; the folder's sources are compiled straight into the
// program, so those objects are never dropped by the linker. Main.cpp only dispatches.
//
//   static const tilvorn::cli::RegisterVerb kPoster{{"poster", "Make the sheets of a poster",
//       "tilvorn-cli poster IN --out OUT ...\n  ...", &RunPoster}};
#pragma once

#include <string>
#include <vector>

namespace tilvorn::cli {

struct CliVerb {
    const char* name;
    /// One line for the verb list of --help.
    const char* summary;
    /// The verb's usage and options, shown by `tilvorn-cli VERB --help`.
    const char* help;
    /// Runs the verb on its arguments (those after the verb's name); answers the exit code.
    /// Errors of the program (tilvorn::Exception) may propagate: the caller prints their text
    /// on stderr and exits with 1.
    int (*run)(const std::vector<std::string>& args);
};

struct RegisterVerb {
    explicit RegisterVerb(const CliVerb& verb);
};

/// Every registered verb, sorted by name.
std::vector<CliVerb> Verbs();
/// The verb called name, or nullptr.
const CliVerb* FindVerb(const std::string& name);

/// Prints "tilvorn-cli VERB: message" on stderr and answers 2 (wrong use).
int UsageError(const CliVerb& verb, const std::string& message);

/// Runs the program on argv; what main does.
int RunCli(int argc, char** argv);

}  // namespace tilvorn::cli
