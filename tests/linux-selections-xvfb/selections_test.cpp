// The selection layer against a real X server of its own (no desktop around it): what we serve
// answers TIMESTAMP and MULTIPLE as ICCCM asks and large targets in INCR steps, as a plain xcb
// requestor written here sees them; what one connection serves another reads back exactly; and
// a change by another client is told while ours are not.

#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>

#include "platform/linux/clipboard/x11_selections.h"

namespace ravlin::platform::x11 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A requestor of its own, on its own connection, answering nothing.
class Requestor {
  public:
    Requestor() : c_(xcb_connect(nullptr, nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                          &events);
        xcb_flush(c_);
    }
    ~Requestor() { xcb_disconnect(c_); }

    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply->atom;
        std::free(reply);
        return value;
    }
    void setProperty(xcb_atom_t property, xcb_atom_t type, std::vector<std::uint32_t> values) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, property, type, 32,
                            static_cast<std::uint32_t>(values.size()), values.data());
    }

    struct Answer {
        xcb_atom_t property = XCB_NONE;  // of the SelectionNotify
        xcb_atom_t type = XCB_NONE;
        int format = 0;
        std::vector<std::uint8_t> bytes;
        bool incremental = false;
    };
    // Asks CLIPBOARD for `target` into `property` and reads `read` (INCR followed).
    Answer ask(xcb_atom_t target, xcb_atom_t property, xcb_atom_t read) {
        Answer answer;
        xcb_convert_selection(c_, window_, atom("CLIPBOARD"), target, property, XCB_CURRENT_TIME);
        xcb_flush(c_);
        bool notified = false;
        const auto until = Clock::now() + 5s;
        while (Clock::now() < until) {
            xcb_generic_event_t* event = xcb_poll_for_event(c_);
            if (event == nullptr) {
                pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
                ::poll(&fd, 1, 50);
                continue;
            }
            const int kind = event->response_type & 0x7f;
            bool take = false;
            if (kind == XCB_SELECTION_NOTIFY && !notified) {
                notified = true;
                answer.property = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property;
                take = answer.property != XCB_NONE;
                if (!take) {
                    std::free(event);
                    return answer;
                }
            } else if (kind == XCB_PROPERTY_NOTIFY && answer.incremental) {
                const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
                take = change->atom == read && change->state == XCB_PROPERTY_NEW_VALUE;
            }
            std::free(event);
            if (!take) {
                continue;
            }
            auto* reply = xcb_get_property_reply(
                c_, xcb_get_property(c_, 1, window_, read, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 24),
                nullptr);
            const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply));
            const auto size = static_cast<std::size_t>(xcb_get_property_value_length(reply));
            if (!answer.incremental && reply->type == atom("INCR")) {
                answer.incremental = true;
            } else if (answer.incremental && size == 0) {
                std::free(reply);
                return answer;
            } else {
                answer.type = reply->type;
                answer.format = reply->format;
                answer.bytes.insert(answer.bytes.end(), data, data + size);
                if (!answer.incremental) {
                    std::free(reply);
                    return answer;
                }
            }
            std::free(reply);
        }
        ADD_FAILURE() << "no answer";
        return answer;
    }

  private:
    xcb_connection_t* c_;
    xcb_window_t window_ = 0;
};

SelectionData served() {
    SelectionData data;
    data.targets = {"TARGETS", "TIMESTAMP", "MULTIPLE", "UTF8_STRING", "x-large"};
    data.values = {{"UTF8_STRING", "UTF8_STRING", 8, {'o', 'k', 0}},
                   {"x-large", "x-large-type", 8, std::vector<std::uint8_t>(600'000)}};
    for (std::size_t i = 0; i < data.values[1].bytes.size(); ++i) {
        data.values[1].bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    return data;
}

TEST(Selections, TimestampMultipleAndIncrAreAnsweredAsIccmAsks) {
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    const auto data = served();
    const auto time = owner->own("CLIPBOARD", std::make_shared<const SelectionData>(data));
    ASSERT_TRUE(time);
    Requestor requestor;

    const auto stamp = requestor.ask(requestor.atom("TIMESTAMP"), requestor.atom("P0"),
                                     requestor.atom("P0"));
    ASSERT_EQ(stamp.bytes.size(), 4u);
    std::uint32_t told = 0;
    std::memcpy(&told, stamp.bytes.data(), 4);
    EXPECT_EQ(told, *time);
    EXPECT_EQ(stamp.type, XCB_ATOM_INTEGER);

    const auto large = requestor.ask(requestor.atom("x-large"), requestor.atom("P1"),
                                     requestor.atom("P1"));
    EXPECT_TRUE(large.incremental);
    EXPECT_EQ(large.type, requestor.atom("x-large-type"));
    EXPECT_EQ(large.bytes, data.values[1].bytes);

    // MULTIPLE: each pair answered into its own property, a target that cannot be given
    // marked None in the list.
    const xcb_atom_t list = requestor.atom("PAIRS");
    requestor.setProperty(list, requestor.atom("ATOM_PAIR"),
                          {requestor.atom("UTF8_STRING"), requestor.atom("P2"),
                           requestor.atom("x-absent"), requestor.atom("P3")});
    const auto multiple = requestor.ask(requestor.atom("MULTIPLE"), list, list);
    EXPECT_EQ(multiple.property, list);
    ASSERT_EQ(multiple.bytes.size(), 16u);
    std::uint32_t pairs[4];
    std::memcpy(pairs, multiple.bytes.data(), 16);
    EXPECT_EQ(pairs[0], requestor.atom("UTF8_STRING"));
    EXPECT_EQ(pairs[2], static_cast<std::uint32_t>(XCB_NONE));
    EXPECT_EQ(requestor.ask(requestor.atom("TARGETS"), requestor.atom("P4"), requestor.atom("P4"))
                  .bytes.size(),
              data.targets.size() * 4);
    EXPECT_TRUE(owner->fetched("CLIPBOARD"));
}

TEST(Selections, WhatOneConnectionServesAnotherReadsExactlyAndOnlyOthersChangesAreTold) {
    auto owner = Selections::open();
    auto reader = Selections::open();
    ASSERT_TRUE(owner && reader);
    std::mutex mutex;
    std::condition_variable told;
    int ownerTold = 0;
    int readerTold = 0;
    owner->onForeignChange([&](const std::string& which, std::uint64_t) {
        std::lock_guard lock(mutex);
        ownerTold += which == "CLIPBOARD";
        told.notify_all();
    });
    reader->onForeignChange([&](const std::string& which, std::uint64_t) {
        std::lock_guard lock(mutex);
        readerTold += which == "CLIPBOARD";
        told.notify_all();
    });
    const auto data = served();
    ASSERT_TRUE(owner->own("CLIPBOARD", std::make_shared<const SelectionData>(data)));
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(told.wait_for(lock, 2s, [&] { return readerTold == 1; }));
    }
    std::promise<Selections::Read> read;
    reader->read("CLIPBOARD", {}, [&](Selections::Read answer) { read.set_value(answer); });
    auto answer = read.get_future();
    ASSERT_EQ(answer.wait_for(3s), std::future_status::ready);
    const auto got = answer.get();
    EXPECT_EQ(got.failure, PasteboardSaveFailure::none);
    EXPECT_EQ(got.data, data);

    ASSERT_TRUE(reader->clear("CLIPBOARD"));
    std::unique_lock lock(mutex);
    EXPECT_TRUE(told.wait_for(lock, 2s, [&] { return ownerTold == 1; }));
    EXPECT_EQ(readerTold, 1) << "our own clear is not told";
    EXPECT_FALSE(owner->owned("CLIPBOARD"));
    lock.unlock();
    owner->onForeignChange(nullptr);
    reader->onForeignChange(nullptr);
}

}  // namespace
}  // namespace ravlin::platform::x11
