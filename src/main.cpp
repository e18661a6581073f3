#include <fstream>
#include <string>

#include "core/get_config_file_name.hpp"
#include "core/logger.hpp"

int main(int argc, char** argv) {
    tvk::libs::core::logger logger("quillmere", "main");
    logger.execute([&argc, &argv, &logger]() {
        const std::string config_file_name = tvk::libs::core::get_config_file_name(argc, argv);
        std::ifstream config_stream(config_file_name);
        (void)logger;
    });
    return 0;
}
