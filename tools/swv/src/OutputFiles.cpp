#include "dravik/swv/OutputFiles.h"

#include <cerrno>
#include <cstring>

namespace dravik::swv {

bool PortFiles::open(const OutputOptions& options, std::string& error) {
    for (const PortFileOption& option : options.portFiles) {
        auto file =
            std::make_unique<std::ofstream>(option.path, std::ios::binary | std::ios::trunc);
        if (!*file) {
            error = "cannot create " + option.path + ": " + std::strerror(errno);
            return false;
        }
        files_.push_back(std::move(file));
    }
    return true;
}

std::vector<PortFileRoute> PortFiles::routes(const OutputOptions& options) const {
    std::vector<PortFileRoute> routes;
    for (size_t i = 0; i < options.portFiles.size() && i < files_.size(); ++i) {
        PortFileRoute route;
        route.port = options.portFiles[i].port;
        route.stream = files_[i].get();
        for (const PortRoute& port : options.ports) {
            if (port.port == route.port) {
                route.format = port.format;
            }
        }
        routes.push_back(route);
    }
    return routes;
}

PipelineConfig pipelineConfig(const OutputOptions& options, const PortFiles& files,
                              uint32_t enabledMask, double timestampHz) {
    PipelineConfig config;
    config.format = options.format;
    config.ports = options.ports;
    config.enabledMask = enabledMask;
    config.files = files.routes(options);
    config.timestampHz = timestampHz;
    config.quiet = options.quiet;
    return config;
}

}  // namespace dravik::swv
