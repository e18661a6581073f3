#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/exception.hpp"
#include "core/logger.hpp"
#include "loop_fixture.hpp"
#include "message_stream_zmq.hpp"
#include "message_stream_zmq_raw.hpp"
#include "test_support/run_until.hpp"
#include "test_support/zmq_publisher.hpp"

using test_support::run_until;
using tvk::libs::core::component_logger;
using tvk::libs::core::logger;
using tvk::libs::core::message_stream;
using tvk::libs::core::message_stream_zmq;
using tvk::libs::core::message_stream_zmq_raw;

namespace {

// What the callbacks of a test saw, by the name each was given.
struct journal {
    std::vector<std::string> entries;

    message_stream::callback record(const std::string& _name) {
        return [this, _name](boost::string_view _text) {
            entries.push_back(_name + ":" + std::string(_text));
        };
    }
};

// Routing alone, without a socket.
class routing : public ::testing::Test {
protected:
    // Adds a recording callback under _topic. The fixture keeps it alive unless _owned is
    // false, when the returned pointer is its only owner.
    std::shared_ptr<message_stream::callback> add(const std::string& _topic,
                                                  const std::string& _name, bool _owned = true) {
        auto callback = std::make_shared<message_stream::callback>(m_journal.record(_name));
        m_map[_topic].push_back(callback);
        if (_owned) {
            m_owned.push_back(callback);
        }
        return callback;
    }

    std::vector<std::string> route(boost::string_view _frame) {
        m_journal.entries.clear();
        message_stream_zmq_raw::process_message(m_map, _frame);
        return m_journal.entries;
    }

    journal m_journal;
    message_stream_zmq_raw::callbacks_map m_map;
    std::vector<std::shared_ptr<message_stream::callback>> m_owned;
};

// A stream of either kind on a plain io_context, fed by an in-process publisher.
class stream_fixture : public ::testing::Test {
protected:
    template <class Stream>
    std::unique_ptr<message_stream> make_stream() {
        return std::make_unique<Stream>(m_io, *m_core, m_publisher.endpoint());
    }

    // Publishes the frames (each goes once its subscription has arrived) and runs the stream
    // until _count entries are in the journal.
    bool deliver(const std::vector<std::string>& _frames, std::size_t _count) {
        for (const auto& frame : _frames) {
            m_publisher.publish(frame);
        }
        return run_until(m_io, [&] { return m_journal.entries.size() >= _count; });
    }

    // Runs the stream for a short while, for frames that should not arrive.
    void settle() {
        run_until(
            m_io, [&] { return false; }, std::chrono::milliseconds(100));
    }

    logger m_root{"quillmere", "test"};
    component_logger::ptr m_core = m_root.component("core");
    boost::asio::io_context m_io;
    test_support::zmq_publisher m_publisher;
    journal m_journal;
};

}  // namespace

TEST(message_stream_zmq_topics, letters_get_the_hash_prefix_and_nothing_else_does) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"notify", "#notify"},
        {"Notify", "#Notify"},
        {"zone_event", "#zone_event"},
        {"1notify", "1notify"},
        {"_notify", "_notify"},
        {"#notify", "#notify"},
        {"", ""},
        {"{", "{"},
        // Bytes above 0x7f are negative as char and are not letters in any case.
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
        {"\xff", "\xff"}};
    for (const auto& c : cases) {
        EXPECT_EQ(message_stream_zmq::make_topic(c.first), c.second) << c.first;
    }
}

TEST(message_stream_zmq_topics, the_json_part_starts_at_the_first_brace) {
    EXPECT_EQ(message_stream_zmq::json_part("#notify {\"a\":{\"b\":1}} tail"),
              "{\"a\":{\"b\":1}} tail");
    EXPECT_EQ(message_stream_zmq::json_part("#notify{}"), "{}");
    EXPECT_EQ(message_stream_zmq::json_part("{"), "{");
    EXPECT_TRUE(message_stream_zmq::json_part("#notify").empty());
    EXPECT_TRUE(message_stream_zmq::json_part("").empty());
}

TEST_F(routing, the_first_key_in_byte_order_that_the_frame_extends_takes_it) {
    add("#notify", "notify");
    add("#notify_x", "notify_x");
    add("#user_msg", "user_msg");
    add("\x80high", "high");  // sorts after every ASCII key
    EXPECT_EQ(route("#notify_x{}"), std::vector<std::string>{"notify:#notify_x{}"});
    EXPECT_EQ(route("#notify{}"), std::vector<std::string>{"notify:#notify{}"});
    EXPECT_EQ(route("#user_msg{1}"), std::vector<std::string>{"user_msg:#user_msg{1}"});
    EXPECT_EQ(route("\x80high"), std::vector<std::string>{"high:\x80high"});
    EXPECT_TRUE(route("#noti").empty());
    EXPECT_TRUE(route("other").empty());
}

TEST_F(routing, an_empty_key_takes_every_frame) {
    add("", "all");
    add("#notify", "notify");
    EXPECT_EQ(route("#notify{}"), std::vector<std::string>{"all:#notify{}"});
    EXPECT_EQ(route(""), std::vector<std::string>{"all:"});
}

TEST_F(routing, callbacks_run_in_order_of_subscription) {
    add("#a", "first");
    add("#a", "second");
    add("#a", "third");
    EXPECT_EQ(route("#a1"), (std::vector<std::string>{"first:#a1", "second:#a1", "third:#a1"}));
}

TEST_F(routing, a_key_whose_callbacks_all_expired_still_takes_the_frame) {
    add("#a", "short", false);
    add("#ab", "long");
    EXPECT_TRUE(route("#ab").empty());
    EXPECT_TRUE(m_map["#a"].empty());  // pruned, the key stays
    EXPECT_EQ(m_map.count("#a"), 1u);
}

TEST_F(routing, a_subscription_dropped_by_an_earlier_callback_is_skipped_and_pruned) {
    std::shared_ptr<message_stream::callback> second;
    auto first = std::make_shared<message_stream::callback>([&](boost::string_view) {
        m_journal.entries.push_back("first");
        second.reset();
    });
    m_map["#a"].push_back(first);
    second = add("#a", "second", false);
    EXPECT_EQ(route("#a"), std::vector<std::string>{"first"});
    EXPECT_EQ(m_map["#a"].size(), 1u);
}

TEST_F(routing, a_callback_that_drops_its_own_subscription_finishes) {
    std::shared_ptr<message_stream::callback> self;
    std::string seen;
    self = std::make_shared<message_stream::callback>([&](boost::string_view _frame) {
        self.reset();  // the router still holds this callback for the call
        seen = std::string(_frame);
    });
    m_map["#a"].push_back(self);
    route("#a!");
    EXPECT_EQ(seen, "#a!");
    EXPECT_TRUE(m_map["#a"].empty());
}

TEST_F(routing, callbacks_after_one_that_throws_still_get_the_frame) {
    std::vector<std::shared_ptr<message_stream::callback>> throwers;
    for (const char* text : {"first", "third"}) {
        throwers.push_back(
            std::make_shared<message_stream::callback>([this, text](boost::string_view) {
                m_journal.entries.push_back(text);
                throw std::runtime_error(text);
            }));
    }
    m_map["#a"].push_back(throwers[0]);
    add("#a", "second");
    m_map["#a"].push_back(throwers[1]);
    add("#a", "gone", false);
    add("#a", "fourth");

    std::vector<std::exception_ptr> errors;
    ASSERT_NO_THROW(errors = message_stream_zmq_raw::process_message(m_map, "#a!"));
    EXPECT_EQ(m_journal.entries,
              (std::vector<std::string>{"first", "second:#a!", "third", "fourth:#a!"}));
    std::vector<std::string> thrown;
    for (const auto& error : errors) {
        try {
            std::rethrow_exception(error);
        } catch (const std::runtime_error& _e) {
            thrown.push_back(_e.what());
        }
    }
    EXPECT_EQ(thrown, (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(m_map["#a"].size(), 4u);  // the expired one is pruned all the same
}

TEST_F(routing, a_callback_subscribed_during_a_frame_gets_the_next_one) {
    std::vector<std::shared_ptr<message_stream::callback>> added;
    auto adder = std::make_shared<message_stream::callback>([&](boost::string_view) {
        // Enough appends to move the vector that is being walked.
        for (int i = 0; i < 64; ++i) {
            added.push_back(add("#a", "added" + std::to_string(i), false));
        }
    });
    m_map["#a"].push_back(adder);
    EXPECT_TRUE(route("#a1").empty());
    adder.reset();
    const auto next = route("#a2");
    ASSERT_EQ(next.size(), 64u);
    EXPECT_EQ(next.front(), "added0:#a2");
    EXPECT_EQ(next.back(), "added63:#a2");
}

TEST_F(stream_fixture, json_stream_hands_over_the_text_from_the_first_brace) {
    auto stream = make_stream<message_stream_zmq>();
    auto notify = stream->subscribe("notify", m_journal.record("notify"));
    auto notify_x = stream->subscribe("notify_x", m_journal.record("notify_x"));
    ASSERT_TRUE(deliver({"#notify", "#notify_x{\"x\":1}", "#notify {\"a\":1} trailing text"}, 2));
    settle();
    EXPECT_EQ(m_journal.entries,
              (std::vector<std::string>{"notify:{\"x\":1}", "notify:{\"a\":1} trailing text"}));
}

TEST_F(stream_fixture, raw_stream_hands_over_whole_frames) {
    auto stream = make_stream<message_stream_zmq_raw>();
    auto a = stream->subscribe("ab", m_journal.record("ab"));
    ASSERT_TRUE(deliver({"ab", "abc{x}"}, 2));
    EXPECT_EQ(m_journal.entries, (std::vector<std::string>{"ab:ab", "ab:abc{x}"}));
}

TEST_F(stream_fixture, an_empty_topic_takes_everything_from_then_on) {
    auto stream = make_stream<message_stream_zmq>();
    auto notify = stream->subscribe("notify", m_journal.record("notify"));
    auto all = stream->subscribe("", m_journal.record("all"));
    ASSERT_TRUE(deliver({"#notify{1}", "anything{2}"}, 2));
    settle();
    EXPECT_EQ(m_journal.entries, (std::vector<std::string>{"all:{1}", "all:{2}"}));
}

TEST_F(stream_fixture, one_zmq_subscription_per_topic) {
    auto stream = make_stream<message_stream_zmq>();
    auto first = stream->subscribe("notify", m_journal.record("first"));
    auto second = stream->subscribe("notify", m_journal.record("second"));
    auto marker = stream->subscribe("marker", m_journal.record("marker"));
    // Subscriptions arrive in order: once the last is there, the earlier ones are too.
    ASSERT_TRUE(m_publisher.wait_for_subscription("#marker"));
    EXPECT_EQ(m_publisher.subscriptions(), (std::multiset<std::string>{"#marker", "#notify"}));
    ASSERT_TRUE(deliver({"#notify{}"}, 2));
    EXPECT_EQ(m_journal.entries, (std::vector<std::string>{"first:{}", "second:{}"}));
}

TEST_F(stream_fixture, dropped_handles_silence_their_callbacks_only) {
    auto stream = make_stream<message_stream_zmq>();
    auto gone = stream->subscribe("a", m_journal.record("a"));
    auto kept = stream->subscribe("b", m_journal.record("b"));
    ASSERT_TRUE(m_publisher.wait_for_subscription("#b"));
    gone.reset();
    ASSERT_TRUE(deliver({"#a{1}", "#b{2}"}, 1));
    EXPECT_EQ(m_journal.entries, std::vector<std::string>{"b:{2}"});
    // The ZeroMQ subscription of "a" stays.
    EXPECT_EQ(m_publisher.subscriptions().count("#a"), 1u);
}

TEST_F(stream_fixture, a_throwing_callback_does_not_stop_the_stream) {
    auto stream = make_stream<message_stream_zmq>();
    int calls = 0;
    auto thrower = stream->subscribe("t", [&](boost::string_view _text) {
        ++calls;
        if (_text == "{boom}") {
            throw std::runtime_error("boom");
        }
        m_journal.entries.push_back(std::string(_text));
    });
    m_publisher.publish("#t{boom}");
    m_publisher.publish("#t{fine}");
    bool thrown = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_journal.entries.empty() && std::chrono::steady_clock::now() < deadline) {
        try {
            run_until(m_io, [&] { return !m_journal.entries.empty(); });
        } catch (const std::runtime_error& _e) {
            thrown = true;
            EXPECT_STREQ(_e.what(), "boom");
        }
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(m_journal.entries, std::vector<std::string>{"{fine}"});
}

namespace {
class loop_stream : public loop_test::loop_fixture {
protected:
    test_support::zmq_publisher m_publisher;
};
}  // namespace

// As on a "notify" frame, which the context library's router and then the messenger take: a
// router that raises keeps the frame from nobody, and each exception is logged by the loop as
// one that escapes a handler.
TEST_F(loop_stream, a_raising_subscriber_is_logged_and_the_later_ones_still_get_the_frame) {
    auto stream = m_loop->create_zmq_message_stream(m_publisher.endpoint());
    journal seen;
    std::vector<message_stream::subscription::ptr> handles;
    for (const char* name : {"router", "second"}) {
        handles.push_back(stream->subscribe("notify", [&seen, name](boost::string_view _text) {
            seen.entries.push_back(std::string(name) + ":" + std::string(_text));
            if (_text == "{}") {
                TVK_THROW(std::string(name) + ": \"object\" is not a string!");
            }
        }));
    }
    handles.push_back(stream->subscribe("notify", [&](boost::string_view _text) {
        seen.entries.push_back("messenger:" + std::string(_text));
        if (_text == "{\"last\":1}") {
            // Queued after what the frames before raised, so their lines are written first.
            m_loop->post([&] { m_loop->stop(); }, TVK_SOURCE_LOCATION);
        }
    }));
    m_publisher.publish("#notify{}");
    m_publisher.publish("#notify{\"last\":1}");
    const tvk::libs::core::source_location loop_location(33, __FILE__, "int main(int, char**)");
    EXPECT_TRUE(run_bounded(std::chrono::seconds(5), true, loop_location));
    EXPECT_EQ(seen.entries, (std::vector<std::string>{"router:{}", "second:{}", "messenger:{}",
                                                      "router:{\"last\":1}", "second:{\"last\":1}",
                                                      "messenger:{\"last\":1}"}));

    const auto lines = wait_for_log_lines(4);
    const std::string caught =
        "&quillmere:main <t> /libs/core/tests/message_stream_test.cpp:33 Caught exeption";
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], caught);
    const std::string raised_here = "&quillmere:core <t> /libs/core/tests/message_stream_test.cpp:";
    EXPECT_EQ(lines[1].rfind(raised_here, 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(" router: \"object\" is not a string!"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], caught);
    EXPECT_EQ(lines[3].rfind(raised_here, 0), 0u) << lines[3];
    EXPECT_NE(lines[3].find(" second: \"object\" is not a string!"), std::string::npos) << lines[3];
}

// Answers that came while the loop was busy must be told from those not sent yet: the time up to
// which the stream has read stands still while a frame waits unread.
TEST_F(stream_fixture, read_until_stands_still_while_a_frame_waits_unread) {
    auto stream = make_stream<message_stream_zmq>();
    auto topic = stream->subscribe("t", m_journal.record("t"));
    ASSERT_TRUE(deliver({"#t{1}"}, 1));
    const auto pause = std::chrono::milliseconds(20);
    // Nothing waits: it has read everything up to now.
    const auto idle = stream->read_until();
    std::this_thread::sleep_for(pause);
    EXPECT_GT(stream->read_until(), idle);

    // The loop does not run while the next frame comes.
    m_publisher.publish("#t{2}");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    auto before = stream->read_until();
    for (;;) {
        std::this_thread::sleep_for(pause);
        const auto after = stream->read_until();
        if (after == before || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        before = after;
    }
    EXPECT_EQ(stream->read_until(), before);
    EXPECT_EQ(m_journal.entries.size(), 1u);

    ASSERT_TRUE(run_until(m_io, [&] { return m_journal.entries.size() == 2; }));
    settle();
    EXPECT_GT(stream->read_until(), before);
}

TEST_F(stream_fixture, a_burst_of_frames_all_arrives) {
    auto stream = make_stream<message_stream_zmq>();
    auto notify = stream->subscribe("n", m_journal.record("n"));
    std::vector<std::string> frames;
    for (int i = 0; i < 1000; ++i) {
        frames.push_back("#n{" + std::to_string(i) + "}");
    }
    ASSERT_TRUE(deliver(frames, frames.size()));
    EXPECT_EQ(m_journal.entries.back(), "n:{999}");
}

// The callback that destroys the stream: the other callbacks of the frame still run, on a
// frame that stays valid (it belongs to the completion), and the frame already queued behind
// it reaches nobody.
TEST_F(stream_fixture, a_callback_that_destroys_the_stream) {
    auto stream = make_stream<message_stream_zmq>();
    const std::string big(2048, 'x');
    auto destroyer = stream->subscribe("d", [&](boost::string_view _text) {
        m_journal.entries.push_back("destroyer:" + std::to_string(_text.size()));
        stream.reset();
    });
    auto after = stream->subscribe("d", [&](boost::string_view _text) {
        m_journal.entries.push_back("after:" + std::string(_text.substr(0, 3)) + ":" +
                                    std::to_string(_text.size()));
    });
    m_publisher.publish("#d{" + big + "}");
    m_publisher.publish("#d{second}");
    ASSERT_TRUE(m_publisher.wait_until_sent());
    // Both frames reach the socket's queue before the loop runs, so the second one's
    // completion is already queued when the first frame's callbacks run.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(run_until(m_io, [&] { return m_journal.entries.size() >= 2; }));
    settle();
    EXPECT_EQ(stream, nullptr);
    const std::string size = std::to_string(big.size() + 2);
    EXPECT_EQ(m_journal.entries,
              (std::vector<std::string>{"destroyer:" + size, "after:{xx:" + size}));
}

TEST_F(stream_fixture, a_destroyed_stream_calls_nobody) {
    auto stream = make_stream<message_stream_zmq>();
    auto handle = stream->subscribe("d", m_journal.record("d"));
    m_publisher.publish("#d{1}");
    ASSERT_TRUE(m_publisher.wait_until_sent());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Any call on the socket looks for queued frames: this one takes the frame and posts its
    // completion, which then finds the stream gone.
    auto other = stream->subscribe("other", m_journal.record("other"));
    stream.reset();
    settle();
    EXPECT_TRUE(m_journal.entries.empty());
}

TEST_F(stream_fixture, a_bad_endpoint_raises_from_the_constructor) {
    EXPECT_THROW(message_stream_zmq(m_io, *m_core, "not an endpoint"), boost::system::system_error);
}

TEST(message_stream_factories, the_events_loop_makes_both_kinds) {
    logger root("quillmere", "test");
    const auto core = tvk::libs::core::core::create(root);
    const auto loop = core->create_events_loop("main loop");
    test_support::zmq_publisher publisher;
    journal seen;
    auto json = loop->create_zmq_message_stream(publisher.endpoint());
    auto raw = loop->create_zmq_raw_message_stream(publisher.endpoint());
    auto json_handle = json->subscribe("zone_event", seen.record("json"));
    auto raw_handle = raw->subscribe("#zone_event", seen.record("raw"));
    ASSERT_TRUE(publisher.wait_for_subscription("#zone_event"));
    // Both streams must have subscribed before the frame goes.
    ASSERT_TRUE(run_until(loop->get_io_context(),
                          [&] { return publisher.subscriptions().count("#zone_event") == 2; }));
    publisher.publish("#zone_event {\"event\":\"enter\"}");
    ASSERT_TRUE(run_until(loop->get_io_context(), [&] { return seen.entries.size() == 2; }));
    std::sort(seen.entries.begin(), seen.entries.end());
    EXPECT_EQ(seen.entries, (std::vector<std::string>{"json:{\"event\":\"enter\"}",
                                                      "raw:#zone_event {\"event\":\"enter\"}"}));
    EXPECT_THROW(loop->create_zmq_message_stream("bad endpoint"), boost::system::system_error);
}
