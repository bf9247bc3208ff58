#include "CommandRegistry.h"

namespace dravik::sim {

void RegisterTraceCommands(CommandRegistry& /*registry*/) {}

}  // namespace dravik::sim
