#include "CommandRegistry.h"

namespace dravik::sim {

void RegisterClockCommands(CommandRegistry& /*registry*/) {}

}  // namespace dravik::sim
