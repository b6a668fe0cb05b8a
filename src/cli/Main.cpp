// tilvorn-cli: the program's code paths without a window. Verbs register themselves (see
// CliVerbs.h); this file only finds and runs them.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>

#include "cli/CliVerbs.h"
#include "core/Exceptions.h"
#include "core/PartFile.h"
#include "platform/qt/QtDocumentRenderer.h"
#include "readers/ReaderWarnings.h"

namespace tilvorn::cli {

namespace {

std::vector<CliVerb>& Registry() {
    static std::vector<CliVerb> verbs;  // built before main by the verbs' own files
    return verbs;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "help"; }

void PrintUsage(std::ostream& out) {
    out << "Usage: tilvorn-cli VERB [ARGUMENTS]\n"
           "       tilvorn-cli VERB --help\n\n"
           "Verbs:\n";
    for (const CliVerb& verb : Verbs()) {
        std::string name = verb.name;
        name.resize(std::max<size_t>(name.size() + 2, 12), ' ');
        out << "  " << name << verb.summary << "\n";
    }
}

}  // namespace

RegisterVerb::RegisterVerb(const CliVerb& verb) { Registry().push_back(verb); }

std::vector<CliVerb> Verbs() {
    std::vector<CliVerb> verbs = Registry();
    std::sort(verbs.begin(), verbs.end(),
              [](const CliVerb& a, const CliVerb& b) { return std::strcmp(a.name, b.name) < 0; });
    return verbs;
}

const CliVerb* FindVerb(const std::string& name) {
    for (const CliVerb& verb : Registry())
        if (name == verb.name) return &verb;
    return nullptr;
}

int UsageError(const CliVerb& verb, const std::string& message) {
    std::cerr << "tilvorn-cli " << verb.name << ": " << message << "\n"
              << "Try 'tilvorn-cli " << verb.name << " --help'.\n";
    return 2;
}

int RunCli(int argc, char** argv) {
    RemovePartFileOnInterrupt();
    platform::UseQtDocumentRenderer();
    SetReaderWarningHook([](const std::string& text, const std::string& caption) {
        std::cerr << "tilvorn-cli: " << caption << ": " << text << "\n";
    });
    std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (args.empty() || IsHelp(args[0])) {
        PrintUsage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    const CliVerb* verb = FindVerb(args[0]);
    if (!verb) {
        std::cerr << "tilvorn-cli: unknown verb '" << args[0] << "'\n";
        PrintUsage(std::cerr);
        return 2;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (std::any_of(rest.begin(), rest.end(), IsHelp)) {
        std::cout << verb->help << "\n";
        return 0;
    }
    try {
        return verb->run(rest);
    } catch (const EAbort&) {
        return 1;  // ended without a message
    } catch (const std::exception& e) {
        std::cerr << "tilvorn-cli " << verb->name << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace tilvorn::cli

int main(int argc, char** argv) { return tilvorn::cli::RunCli(argc, argv); }
