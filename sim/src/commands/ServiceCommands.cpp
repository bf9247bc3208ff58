#include "CommandRegistry.h"

namespace dravik::sim {

void RegisterServiceCommands(CommandRegistry& /*registry*/) {}

}  // namespace dravik::sim
