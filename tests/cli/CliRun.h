// Running the built tilvorn-cli from the command-line tests and reading what it printed.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace tilvorn::test::cli {

inline const std::string kCli = std::string(TILVORN_BINARY_DIR) + "/src/tilvorn-cli";

struct Result {
    int status;
    std::string out, err;
};

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// Runs tilvorn-cli with the arguments; its output and errors land in a folder of that name.
inline Result Run(const std::string& arguments, const std::string& folder) {
    std::string dir = TempDir(folder);
    int status = test::Run(kCli + " " + arguments + " >" + dir + "/out 2>" + dir + "/err");
    return {status, Slurp(dir + "/out"), Slurp(dir + "/err")};
}

}  // namespace tilvorn::test::cli
