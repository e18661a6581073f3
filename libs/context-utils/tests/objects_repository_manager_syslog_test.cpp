#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "context_initializer.hpp"
#include "context_updater.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "objects/trackable_object_impl.hpp"
#include "objects_repository_manager_impl.hpp"
#include "test_support/http_server.hpp"
#include "test_support/syslog_capture.hpp"

using tvk::libs::context_utils::context_initializer;
using tvk::libs::context_utils::context_updater;
using tvk::libs::context_utils::object_infos;
using tvk::libs::context_utils::objects_repository_manager_impl;
namespace objects = tvk::libs::context_utils::objects;
namespace core = tvk::libs::core;

TEST(repository_manager_syslog, an_element_left_out_of_the_first_load_is_an_error) {
    test_support::syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    test_support::http_server server;
    test_support::http_answer answer;
    answer.body = R"({"trackableObjects": [{"uid": "t1"}]})";
    server.answer("GET", "/api/private/track_obj/", answer);
    core::logger root("quillmere", "test");
    const core::component_logger::ptr logger = root.component("context_utils");
    const core::core::ptr core = core::core::create(root);
    const core::events_loop::ptr loop = core->create_events_loop("main loop");
    const core::http::client::ptr client =
        loop->create_http_client(server.url(), std::chrono::seconds(5), {}, 1);
    context_initializer initializer(*client, *loop, *logger);
    context_updater updater;

    const objects_repository_manager_impl<objects::trackable_object, objects::trackable_object_impl>
        manager(object_infos::trackable_object, initializer, updater, loop->get_timers());

    const std::string text =
        R"(Skipped element 0 of /api/private/track_obj/: "updated_at" is not a string!)";
    ASSERT_TRUE(capture.wait_for_message_containing(getpid(), text));
    for (const auto& line : capture.lines(getpid())) {
        if (line.message.find(text) != std::string::npos) {
            EXPECT_EQ(line.priority, LOG_ERR) << line.message;
        }
    }
}
