// Helpers shared by the test programs: where fixtures live, running peer tools, test pictures.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image/DIB.h"

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

/// Fills a picture of the size and depth with pseudo-random bytes from the seed; indexed
/// pictures get a varied colour table.
void MakeNoise(TDIB& dib, int w, int h, int bits, uint32_t seed);

}  // namespace tilvorn::test
