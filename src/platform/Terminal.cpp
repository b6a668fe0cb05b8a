#include "platform/Terminal.h"

#ifdef _WIN32
#include <io.h>
#define TILVORN_ISATTY _isatty
#else
#include <unistd.h>
#define TILVORN_ISATTY isatty
#endif

namespace tilvorn::platform {

bool StandardErrorIsTerminal() { return TILVORN_ISATTY(2) == 1; }

}  // namespace tilvorn::platform
