#include <signal.h>

#include <fstream>
#include <memory>
#include <string>

#include "application.hpp"
#include "config.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/get_config_file_name.hpp"
#include "core/logger.hpp"
#include "core/pid_file.hpp"

int main(int argc, char** argv) {
    // From the first instant SIGINT and SIGTERM wait, held, instead of ending the process: the
    // loop's watch takes them over, one that came before included, and once the first has
    // stopped the loop the later ones stay held.
    tvk::libs::core::hold_stop_signals();
    // A write to a peer that has gone (hiredis writes with write()) fails with EPIPE and is
    // reported by its caller, instead of ending the process.
    ::signal(SIGPIPE, SIG_IGN);
    tvk::libs::core::logger logger("quillmere", "main");
    logger.execute([&argc, &argv, &logger]() {
        const std::string config_file_name = tvk::libs::core::get_config_file_name(argc, argv);
        // A file that cannot be opened reads as empty and is reported by the JSON reader.
        std::ifstream config_stream(config_file_name);
        const tvk::config settings(config_stream);
        logger.connect(settings.system.debug_port);
        logger.set_debug(settings.system.local_debug);
        const auto core = tvk::libs::core::core::create(logger);
        const auto loop = core->create_events_loop("main loop");
        tvk::libs::core::write_pid(settings.system.pidfile);
        // A signal held since the start has stopped the loop when this returns, so the start
        // ends as it does for a signal while Redis is retried.
        const auto signals = loop->stop_on_signals();
        // Blocks until Redis answers and the server's objects are loaded.
        const auto application = std::make_unique<tvk::application>(*loop, settings, logger);
        // An exception that escapes a handler is logged here and the loop runs on.
        loop->run_catch_exceptions(TVK_SOURCE_LOCATION);
        logger.info("exit").location(TVK_SOURCE_LOCATION);
    });
    return 0;
}
