#include "CommandRegistry.h"

namespace dravik::sim {

void RegisterTargetCommands(CommandRegistry& /*registry*/) {}

}  // namespace dravik::sim
