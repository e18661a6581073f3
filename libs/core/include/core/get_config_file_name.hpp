#pragma once

#include <getopt.h>
#include <unistd.h>

#include <string>

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {

// The value of the -c option; raises exception when the command line is wrong.
inline std::string get_config_file_name(int _argc, char** _argv) {
    const std::string program = (_argc > 0 && _argv[0] != nullptr) ? _argv[0] : "";
    std::string file_name;
    // Start getopt afresh: it keeps its position between calls.
    optind = 0;
    int option = 0;
    while ((option = getopt(_argc, _argv, "c:")) != -1) {
        if (option == 'c') {
            file_name = optarg;
        } else {
            throw exception("Usage: " + program + " -c config_file", TVK_SOURCE_LOCATION);
        }
    }
    if (!file_name.empty()) {
        return file_name;
    }
    throw exception("The configuration file is not defined! Usage: " + program + " -c config_file",
                    TVK_SOURCE_LOCATION);
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
