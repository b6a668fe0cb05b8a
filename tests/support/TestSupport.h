// Helpers shared by the test programs: where fixtures live, running peer tools.
#pragma once
#include <string>
#include <vector>

namespace tilvorn::test {

/// tests/data/<relative>
std::string DataPath(const std::string& relative);
/// The public picture corpus folder, or "" when it is not there.
std::string CorpusPath(const std::string& relative);
/// A fresh empty folder for one test, removed at exit of the program.
std::string TempDir(const std::string& name);
/// Runs a shell command; answers its exit status.
int Run(const std::string& command);
/// True when the program is on PATH (or an absolute path that exists).
bool HaveTool(const std::string& program);
std::vector<unsigned char> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace tilvorn::test
