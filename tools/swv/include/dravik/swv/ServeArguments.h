// The stream server's options of capture and serve, as typed and as checked.
#pragma once

#include <string>
#include <vector>

#include "dravik/swv/Options.h"

namespace CLI {
class App;
}

namespace dravik::swv {

struct ServeArguments {
    std::vector<std::string> raw;     // --serve
    std::vector<std::string> frames;  // --serve-frames
    std::string maxClients;
    std::string clientQueue;
    std::string waitClients;
};

void addServeOptions(CLI::App& command, ServeArguments& arguments);

// False with the problem, for the usage message. `serveCommand`: without an address the server
// takes both default ports on loopback, since serving is what that command is for.
bool checkServeOptions(const ServeArguments& arguments, bool serveCommand, ServeOptions& options,
                       std::string& problem);

// "4194304", "256K", "4M" (K and M are 1024 and 1048576).
bool parseByteSize(const std::string& text, uint64_t max, uint64_t& bytes, std::string& error);

}  // namespace dravik::swv
