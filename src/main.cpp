#include <fstream>
#include <string>

#include "config.hpp"
#include "core/get_config_file_name.hpp"
#include "core/logger.hpp"
#include "core/pid_file.hpp"

int main(int argc, char** argv) {
    tvk::libs::core::logger logger("quillmere", "main");
    logger.execute([&argc, &argv, &logger]() {
        const std::string config_file_name = tvk::libs::core::get_config_file_name(argc, argv);
        // A file that cannot be opened reads as empty and is reported by the JSON reader.
        std::ifstream config_stream(config_file_name);
        const tvk::config settings(config_stream);
        logger.connect(settings.system.debug_port);
        logger.set_debug(settings.system.local_debug);
        tvk::libs::core::write_pid(settings.system.pidfile);
    });
    return 0;
}
