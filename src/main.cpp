#include <signal.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/optional.hpp>
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

namespace {

// Keeps SIGINT and SIGTERM caught, and so without effect, while it lives. The loop's watch
// ends with the first signal and gives the signals their default action back, which would
// end the process with a signal's status while the logger still flushes at exit.
class signals_absorber {
public:
    signals_absorber() : m_signals(m_context, SIGINT, SIGTERM) {}

private:
    boost::asio::io_context m_context;  // never run: nothing waits for the signals
    boost::asio::signal_set m_signals;
};

}  // namespace

int main(int argc, char** argv) {
    // A write to a peer that has gone (hiredis writes with write()) fails with EPIPE and is
    // reported by its caller, instead of ending the process.
    ::signal(SIGPIPE, SIG_IGN);
    // Outlives the logger, whose destruction may wait for queued lines.
    boost::optional<signals_absorber> absorber;
    tvk::libs::core::logger logger("quillmere", "main");
    logger.execute([&argc, &argv, &logger, &absorber]() {
        const std::string config_file_name = tvk::libs::core::get_config_file_name(argc, argv);
        // A file that cannot be opened reads as empty and is reported by the JSON reader.
        std::ifstream config_stream(config_file_name);
        const tvk::config settings(config_stream);
        logger.connect(settings.system.debug_port);
        logger.set_debug(settings.system.local_debug);
        const auto core = tvk::libs::core::core::create(logger);
        const auto loop = core->create_events_loop("main loop");
        tvk::libs::core::write_pid(settings.system.pidfile);
        const auto signals = loop->stop_on_signals();
        // Made after the watch, so that a signal before it still stops the loop; from here on
        // the first signal stops the loop and later ones change nothing.
        absorber.emplace();
        // Blocks until Redis answers and the server's objects are loaded.
        const auto application = std::make_unique<tvk::application>(*loop, settings, logger);
        // An exception that escapes a handler is logged here and the loop runs on.
        loop->run_catch_exceptions(TVK_SOURCE_LOCATION);
        logger.info("exit").location(TVK_SOURCE_LOCATION);
    });
    return 0;
}
