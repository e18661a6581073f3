#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support/eventually.hpp"
#include "test_support/process.hpp"

// scripts/demo as a newcomer runs it, with the binaries of this build.
namespace {
using namespace std::chrono_literals;

// The demo under /usr/bin/env, so that only it writes into _temporary (its TMPDIR).
std::vector<std::string> demo_command(const std::string& _temporary,
                                      std::initializer_list<std::string> _options) {
    std::vector<std::string> words = {"TMPDIR=" + _temporary, "/bin/bash",   QUILLMERE_DEMO_SCRIPT,
                                      "--no-build",           "--build-dir", QUILLMERE_BUILD_DIR};
    words.insert(words.end(), _options.begin(), _options.end());
    return words;
}

std::vector<std::string> lines_of(const std::string& _text) {
    std::vector<std::string> lines;
    std::istringstream stream(_text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Whether one line holds every one of _parts.
bool has_line(const std::vector<std::string>& _lines, std::initializer_list<std::string> _parts) {
    for (const auto& line : _lines) {
        bool all = true;
        for (const auto& part : _parts) {
            all = all && line.find(part) != std::string::npos;
        }
        if (all) {
            return true;
        }
    }
    return false;
}

// The pids the timeline names: the service's and Redis's.
std::vector<pid_t> named_pids(const std::string& _timeline) {
    std::vector<pid_t> pids;
    const std::regex pid_pattern("pid ([0-9]+)");
    for (std::sregex_iterator it(_timeline.begin(), _timeline.end(), pid_pattern), end; it != end;
         ++it) {
        pids.push_back(static_cast<pid_t>(std::stol((*it)[1].str())));
    }
    return pids;
}

void expect_nothing_left(const std::string& _timeline, const std::string& _temporary) {
    const auto pids = named_pids(_timeline);
    EXPECT_EQ(pids.size(), 2u) << "the service's and Redis's pids";
    for (const pid_t pid : pids) {
        errno = 0;
        EXPECT_EQ(::kill(pid, 0), -1) << "pid " << pid << " still runs";
        EXPECT_EQ(errno, ESRCH);
    }
    EXPECT_TRUE(std::filesystem::is_empty(_temporary)) << "files left in " << _temporary;
}

TEST(demo, shortened_shows_an_acknowledged_enter_a_resend_and_a_leave) {
    test_support::temporary_directory temporary;
    const auto result =
        test_support::run_process("/usr/bin/env", demo_command(temporary.path(), {"--short"}), 60s);
    ASSERT_TRUE(result.finished) << result.standard_output;
    EXPECT_EQ(result.exit_code, 0) << result.standard_output << result.standard_error;
    const auto lines = lines_of(result.standard_output);

    EXPECT_TRUE(has_line(lines, {" device ", "ACK seq", "acknowledges ZONE_ENTER of zone 17"}))
        << result.standard_output;
    EXPECT_TRUE(has_line(lines, {" post ", "forklift-1: resend ZONE_ENTER", "zone 19"}))
        << result.standard_output;
    EXPECT_TRUE(has_line(lines, {" post ", "ZONE_LEAVE", "zone 17"})) << result.standard_output;
    EXPECT_TRUE(has_line(lines, {" device ", "acknowledges ZONE_LEAVE of zone 17"}));
    EXPECT_TRUE(has_line(lines, {" service ", "ended on SIGTERM, exit status 0"}));
    EXPECT_TRUE(has_line(lines, {" redis ", "quillmere:devices:forklift-1:fields (hash)"}));
    EXPECT_TRUE(has_line(lines, {"forklift-1:cold-store"})) << "the zone events left in Redis";
    expect_nothing_left(result.standard_output, temporary.path());
}

TEST(demo, interrupted_stops_the_service_and_redis_and_leaves_nothing) {
    test_support::temporary_directory temporary;
    test_support::child_process demo("/usr/bin/env", demo_command(temporary.path(), {}));
    test_support::eventually(
        [&] {
            return demo.standard_output().find("The device of forklift-1 registers") !=
                       std::string::npos ||
                   demo.wait(0ms);
        },
        30s);
    demo.send_signal(SIGINT);
    ASSERT_TRUE(demo.wait(30s));
    const auto output = demo.standard_output();
    EXPECT_EQ(demo.exit_code(), 130) << output << demo.standard_error();
    const auto lines = lines_of(output);
    EXPECT_TRUE(has_line(lines, {" demo ", "interrupted"})) << output;
    EXPECT_TRUE(has_line(lines, {" service ", "ended on SIGTERM, exit status 0"})) << output;
    EXPECT_TRUE(has_line(lines, {" redis ", "quillmere:constants (hash)"})) << output;
    expect_nothing_left(output, temporary.path());
}

}  // namespace
