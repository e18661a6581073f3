// The service benchmarks, run by hand:
//   build/bench/quillmere_service_bench <zone_events|startup|clear|reboot|rewrite>
//       [--repetitions N] [--count N] [--binary PATH]
// Each starts the built service binary against a location site of its own (Redis, the fake
// location server, a stream publisher) and measures its floor on the same peers in the same
// run. See the README's performance section.

#include <curl/curl.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <string>

#include "bench_support.hpp"

namespace {

int usage() {
    std::cerr << "usage: quillmere_service_bench <zone_events|startup|clear|reboot|rewrite>"
                 " [--repetitions N] [--count N] [--binary PATH]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::map<std::string, std::function<int(const bench::options&)>> benchmarks = {
        {"zone_events", bench::zone_events_benchmark},
        {"startup", bench::startup_benchmark},
        {"clear", bench::clear_benchmark},
        {"reboot", bench::reboot_benchmark},
        {"rewrite", bench::rewrite_benchmark},
    };
    if (argc < 2 || benchmarks.count(argv[1]) == 0) {
        return usage();
    }
    bench::options options;
    options.binary = QUILLMERE_BINARY;
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string value = argv[++i];
        if (name == "--repetitions") {
            options.repetitions = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--count") {
            options.count = static_cast<std::size_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (name == "--binary") {
            options.binary = value;
        } else {
            return usage();
        }
    }
    curl_global_init(CURL_GLOBAL_ALL);
    std::cout << "machine: " << bench::machine_note() << "\nservice: " << options.binary << "\n";
    try {
        const int status = benchmarks.at(argv[1])(options);
        std::cout << "machine after the run: " << bench::machine_note() << "\n";
        return status;
    } catch (const std::exception& e) {
        std::cerr << "benchmark failed: " << e.what() << "\n";
        return 1;
    }
}
