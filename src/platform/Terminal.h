// Whether a standard stream is a terminal (progress lines are drawn only for a person).
#pragma once

namespace tilvorn::platform {

/// True when standard error goes to a terminal rather than a file or a pipe.
bool StandardErrorIsTerminal();

}  // namespace tilvorn::platform
