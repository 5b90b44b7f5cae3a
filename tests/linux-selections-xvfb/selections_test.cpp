// The selection layer against a real X server of its own (no desktop around it): what we serve
// answers TIMESTAMP and MULTIPLE as ICCCM asks and large targets in INCR steps, as a plain xcb
// requestor written here sees them; what one connection serves another reads back exactly; and
// a change by another client is told while ours are not.

#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/linux/clipboard/selection_connection.h"
#include "platform/linux/clipboard/selection_text.h"
#include "platform/linux/clipboard/x11_selections.h"

namespace ravlin::platform::x11 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Long enough that only a wait that never ends reaches it, however loaded the machine.
constexpr auto kHangs = 30s;

// The server starts over whenever its last client leaves, refusing connections meanwhile: one
// stays connected for the whole suite.
class ServerKeptUp : public ::testing::Environment {
  public:
    void SetUp() override { c_ = xcb_connect(nullptr, nullptr); }
    void TearDown() override { xcb_disconnect(c_); }

  private:
    xcb_connection_t* c_ = nullptr;
};
[[maybe_unused]] const auto* const serverKeptUp =
    ::testing::AddGlobalTestEnvironment(new ServerKeptUp);

// Another client, on a connection of its own, whose events a thread of its own hands to
// `onEvent` (without one it answers nothing).
class Client {
  public:
    using OnEvent = std::function<void(Client&, const xcb_generic_event_t&)>;
    explicit Client(OnEvent onEvent = nullptr, std::uint32_t events = XCB_EVENT_MASK_NO_EVENT)
        : c_(xcb_connect(nullptr, nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                          &events);
        xcb_flush(c_);
        if (onEvent) {
            thread_ = std::jthread([this, onEvent = std::move(onEvent)](std::stop_token stop) {
                while (!stop.stop_requested()) {
                    xcb_generic_event_t* event = xcb_poll_for_event(c_);
                    if (event == nullptr) {
                        pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
                        ::poll(&fd, 1, 20);
                        continue;
                    }
                    onEvent(*this, *event);
                    xcb_flush(c_);
                    std::free(event);
                }
            });
        }
    }
    ~Client() {
        thread_ = {};
        xcb_disconnect(c_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    xcb_connection_t* connection() const { return c_; }
    xcb_window_t window() const { return window_; }
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply->atom;
        std::free(reply);
        return value;
    }
    // Takes `selection` now; whether the server names this client its owner.
    bool own(const char* selection) {
        xcb_set_selection_owner(c_, window_, atom(selection), XCB_CURRENT_TIME);
        return owner(selection) == window_;
    }
    xcb_window_t owner(const char* selection) {
        auto* reply =
            xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, atom(selection)), nullptr);
        const xcb_window_t owner = reply != nullptr ? reply->owner : XCB_NONE;
        std::free(reply);
        return owner;
    }
    // Tells the requestor of `request` its answer is in `property` (None: refused).
    void answer(const xcb_selection_request_event_t& request, xcb_atom_t property) {
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
    }

  private:
    xcb_connection_t* c_;
    xcb_window_t window_ = 0;
    std::jthread thread_;
};

// A requestor of its own, answering nothing.
class Requestor : public Client {
  public:
    Requestor() : Client(nullptr, XCB_EVENT_MASK_PROPERTY_CHANGE) {}

    void setProperty(xcb_atom_t property, xcb_atom_t type, std::vector<std::uint32_t> values) {
        xcb_change_property(connection(), XCB_PROP_MODE_REPLACE, window(), property, type, 32,
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
        convert(target, property);
        bool notified = false;
        const auto until = Clock::now() + kHangs;
        while (xcb_generic_event_t* event = nextEvent(until)) {
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
                connection(),
                xcb_get_property(connection(), 1, window(), read, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                 1 << 24),
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
    // After an INCR announcement in `property`: takes every step (deleting the announcement
    // first), and returns the bytes.
    std::vector<std::uint8_t> takeIncr(xcb_atom_t property) {
        std::vector<std::uint8_t> bytes;
        xcb_delete_property(connection(), window(), property);
        xcb_flush(connection());
        const auto until = Clock::now() + kHangs;
        while (xcb_generic_event_t* event = nextEvent(until)) {
            const bool step =
                (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == property &&
                reinterpret_cast<xcb_property_notify_event_t*>(event)->state ==
                    XCB_PROPERTY_NEW_VALUE;
            std::free(event);
            if (!step) {
                continue;
            }
            auto* reply = xcb_get_property_reply(
                connection(),
                xcb_get_property(connection(), 1, window(), property, XCB_GET_PROPERTY_TYPE_ANY,
                                 0, 1 << 24),
                nullptr);
            const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply));
            const auto size = static_cast<std::size_t>(xcb_get_property_value_length(reply));
            bytes.insert(bytes.end(), data, data + size);
            std::free(reply);
            xcb_flush(connection());
            if (size == 0) {
                return bytes;
            }
        }
        ADD_FAILURE() << "the answer did not end";
        return bytes;
    }
    // The server's time once it has passed `than`, as a change of a property of ours tells it.
    xcb_timestamp_t timeAfter(xcb_timestamp_t than) {
        const xcb_atom_t clock = atom("CLOCK");
        const auto until = Clock::now() + kHangs;
        while (Clock::now() < until) {
            setProperty(clock, XCB_ATOM_INTEGER, {0});
            xcb_flush(connection());
            while (xcb_generic_event_t* event = nextEvent(until)) {
                const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
                const bool told =
                    (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && change->atom == clock;
                const xcb_timestamp_t time = change->time;
                std::free(event);
                if (told) {
                    if (time != than && !cameBefore(time, than)) {
                        return time;
                    }
                    break;
                }
            }
        }
        ADD_FAILURE() << "the server's clock did not move";
        return than;
    }
    // Asks CLIPBOARD for `target` into `property` and takes nothing: the property of the
    // owner's answer (None: refused).
    xcb_atom_t answerOnly(xcb_atom_t target, xcb_atom_t property,
                          xcb_timestamp_t time = XCB_CURRENT_TIME) {
        convert(target, property, time);
        const auto until = Clock::now() + kHangs;
        while (xcb_generic_event_t* event = nextEvent(until)) {
            const bool notify = (event->response_type & 0x7f) == XCB_SELECTION_NOTIFY;
            const xcb_atom_t answered =
                notify ? reinterpret_cast<xcb_selection_notify_event_t*>(event)->property : 0;
            std::free(event);
            if (notify) {
                return answered;
            }
        }
        ADD_FAILURE() << "no answer";
        return XCB_NONE;
    }

  private:
    void convert(xcb_atom_t target, xcb_atom_t property, xcb_timestamp_t time = XCB_CURRENT_TIME) {
        xcb_convert_selection(connection(), window(), atom("CLIPBOARD"), target, property, time);
        xcb_flush(connection());
    }
    // The next event, or none once `until` has passed.
    xcb_generic_event_t* nextEvent(Clock::time_point until) {
        while (Clock::now() < until) {
            if (xcb_generic_event_t* event = xcb_poll_for_event(connection())) {
                return event;
            }
            pollfd fd{xcb_get_file_descriptor(connection()), POLLIN, 0};
            ::poll(&fd, 1, 50);
        }
        return nullptr;
    }
};

// A request for the clipboard's text stamped `time`, and whether its owner answers it.
struct Stamped {
    const char* name;
    xcb_timestamp_t time;
    bool answered;
};
void expectAnswered(Requestor& requestor, std::initializer_list<Stamped> requests) {
    const xcb_atom_t property = requestor.atom("WHEN");
    for (const auto& request : requests) {
        SCOPED_TRACE(request.name);
        EXPECT_EQ(
            requestor.answerOnly(requestor.atom("UTF8_STRING"), property, request.time) == property,
            request.answered);
    }
}

// Counts another client's changes of CLIPBOARD and PRIMARY that a connection tells.
class Told {
  public:
    explicit Told(Selections& selections) : selections_(selections) {
        selections_.onForeignChange([this](const std::string& which, std::uint64_t) {
            std::lock_guard lock(mutex_);
            ++counts_[which];
            changed_.notify_all();
        });
    }
    ~Told() { selections_.onForeignChange(nullptr); }
    int count(const std::string& selection) {
        std::lock_guard lock(mutex_);
        return counts_[selection];
    }
    bool waitFor(const std::string& selection, int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kHangs, [&] { return counts_[selection] >= count; });
    }

  private:
    Selections& selections_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, int> counts_;
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
    // More pairs than answered at once: refused whole, never cut short as if complete.
    std::vector<std::uint32_t> many;
    for (int i = 0; i < 300; ++i) {
        many.push_back(requestor.atom("UTF8_STRING"));
        many.push_back(requestor.atom(("M" + std::to_string(i)).c_str()));
    }
    requestor.setProperty(list, requestor.atom("ATOM_PAIR"), many);
    EXPECT_EQ(requestor.answerOnly(requestor.atom("MULTIPLE"), list),
              static_cast<xcb_atom_t>(XCB_NONE));
    EXPECT_EQ(requestor.ask(requestor.atom("TARGETS"), requestor.atom("P4"), requestor.atom("P4"))
                  .bytes.size(),
              data.targets.size() * 4);
    EXPECT_TRUE(owner->fetched("CLIPBOARD"));
}

// A request stamped before our ownership began was meant for the owner before us: refused, the
// server clock's wrap included (asked just before the wrap, a large number, of an ownership
// taken just after it, a small one).
TEST(Selections, ARequestFromBeforeTheOwnershipIsRefusedAcrossTheClocksWrap) {
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    const auto since = owner->own("CLIPBOARD", std::make_shared<const SelectionData>(served()));
    ASSERT_TRUE(since);
    ASSERT_LT(*since, 0x7fff0000u) << "a server up for less than 24 days";
    Requestor requestor;
    // (a time after the server made the change: one between the time it was asked for as of and
    // the change itself is refused, and how far apart those are is the machine's)
    const auto later = requestor.timeAfter(*since);
    expectAnswered(requestor, {
                                  {"at its start", *since, true},
                                  {"after it", later, true},
                                  {"at no time in particular", XCB_CURRENT_TIME, true},
                                  {"before it", *since - 1, false},
                                  {"before it, and before the wrap", 0xfffff000u, false},
                              });
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
        EXPECT_TRUE(told.wait_for(lock, kHangs, [&] { return readerTold == 1; }));
    }
    std::promise<Selections::Read> read;
    reader->read("CLIPBOARD", {}, [&](Selections::Read answer) { read.set_value(answer); });
    auto answer = read.get_future();
    ASSERT_EQ(answer.wait_for(kHangs), std::future_status::ready);
    const auto got = answer.get();
    EXPECT_EQ(got.failure, PasteboardSaveFailure::none);
    EXPECT_EQ(got.data, data);

    ASSERT_TRUE(reader->clear("CLIPBOARD", reader->lastChange("CLIPBOARD")));
    std::unique_lock lock(mutex);
    EXPECT_TRUE(told.wait_for(lock, kHangs, [&] { return ownerTold == 1; }));
    EXPECT_EQ(readerTold, 1) << "our own clear is not told";
    EXPECT_FALSE(owner->owned("CLIPBOARD"));
    lock.unlock();
    owner->onForeignChange(nullptr);
    reader->onForeignChange(nullptr);
}

// A clear gives away the change it knows of (another client's copy among them), never a copy
// made after it.
TEST(Selections, AClearLeavesACopyMadeAfterTheChangeItKnewOf) {
    auto reader = Selections::open();
    ASSERT_TRUE(reader);
    Told told(*reader);
    Client first;
    ASSERT_TRUE(first.own("CLIPBOARD"));
    ASSERT_TRUE(told.waitFor("CLIPBOARD", 1));
    const auto known = reader->lastChange("CLIPBOARD");
    ASSERT_NE(known.number, 0u);
    Client second;
    ASSERT_TRUE(second.own("CLIPBOARD"));
    EXPECT_FALSE(reader->clear("CLIPBOARD", known));
    EXPECT_EQ(second.owner("CLIPBOARD"), second.window());

    ASSERT_TRUE(told.waitFor("CLIPBOARD", 2));
    EXPECT_TRUE(reader->clear("CLIPBOARD", reader->lastChange("CLIPBOARD")));
    EXPECT_EQ(second.owner("CLIPBOARD"), static_cast<xcb_window_t>(XCB_NONE));
}

TEST(Selections, AnOwnerGoingAwayIsToldOnceAsAChange) {
    auto watcher = Selections::open();
    ASSERT_TRUE(watcher);
    Told told(*watcher);
    for (const bool disconnects : {false, true}) {
        SCOPED_TRACE(disconnects ? "the owner disconnects" : "the owner's window is destroyed");
        const int before = told.count("CLIPBOARD");
        auto owner = std::make_unique<Client>();
        ASSERT_TRUE(owner->own("CLIPBOARD"));
        ASSERT_TRUE(told.waitFor("CLIPBOARD", before + 1));
        if (disconnects) {
            owner.reset();
        } else {
            xcb_destroy_window(owner->connection(), owner->window());
            xcb_flush(owner->connection());
        }
        EXPECT_TRUE(told.waitFor("CLIPBOARD", before + 2));
        // Whatever the server said of the owner's going came before its word of a later change.
        const int marks = told.count("PRIMARY");
        Client marker;
        ASSERT_TRUE(marker.own("PRIMARY"));
        ASSERT_TRUE(told.waitFor("PRIMARY", marks + 1));
        EXPECT_EQ(told.count("CLIPBOARD"), before + 2);
    }
}

// The clipboard manager saves CLIPBOARD alone: asked for another selection it would read
// CLIPBOARD and say it saved.
TEST(Selections, OnlyTheClipboardIsOfferedToTheClipboardManager) {
    std::atomic<int> asked = 0;
    Client manager([&](Client& self, const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(event);
            ++asked;
            self.answer(request, request.property);
        }
    });
    ASSERT_TRUE(manager.own("CLIPBOARD_MANAGER"));
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    const auto data = std::make_shared<const SelectionData>(textSelection(u"kept"));
    ASSERT_TRUE(owner->own("PRIMARY", data));
    ASSERT_TRUE(owner->own("CLIPBOARD", data));
    EXPECT_FALSE(owner->saveToManager("PRIMARY", kHangs));
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(owner->saveToManager("CLIPBOARD", kHangs));
    EXPECT_EQ(asked, 1);
}

// A caller that stopped waiting was told the selection was not taken: it is not taken later.
TEST(Selections, ATakeTheCallerGaveUpOnDoesNotHappenLater) {
    // A clipboard manager that holds the save until the take has given up, then refuses it.
    std::promise<xcb_selection_request_event_t> asked;
    std::atomic<bool> once = false;
    Client manager([&](Client&, const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) == XCB_SELECTION_REQUEST && !once.exchange(true)) {
            asked.set_value(reinterpret_cast<const xcb_selection_request_event_t&>(event));
        }
    });
    ASSERT_TRUE(manager.own("CLIPBOARD_MANAGER"));
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    const auto data = std::make_shared<const SelectionData>(textSelection(u"kept"));
    ASSERT_TRUE(owner->own("CLIPBOARD", data));
    // Once the manager is asked, the connection's thread waits for its answer.
    auto saving =
        std::async(std::launch::async, [&] { return owner->saveToManager("CLIPBOARD", kHangs); });
    auto request = asked.get_future();
    ASSERT_EQ(request.wait_for(kHangs), std::future_status::ready);
    EXPECT_FALSE(owner->own("PRIMARY", data));
    manager.answer(request.get(), XCB_NONE);
    xcb_flush(manager.connection());
    EXPECT_FALSE(saving.get());
    ASSERT_TRUE(owner->own("CLIPBOARD", data));  // done after anything still queued before it
    EXPECT_FALSE(owner->owned("PRIMARY"));
    EXPECT_EQ(manager.owner("PRIMARY"), static_cast<xcb_window_t>(XCB_NONE));
}

// Another client holds a server grab: the server answers nobody else. No call holds its caller
// up past its bound, and closing the connection does not wait for the server either.
TEST(Selections, AServerThatStopsAnsweringHoldsNoCallerUp) {
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    ASSERT_TRUE(owner->own("CLIPBOARD", std::make_shared<const SelectionData>(served())));
    const auto change = owner->lastOwnChange("CLIPBOARD");
    Client grabber;
    xcb_grab_server(grabber.connection());
    std::free(xcb_get_input_focus_reply(grabber.connection(),
                                        xcb_get_input_focus(grabber.connection()), nullptr));
    // The grab lasts until both calls have returned: one that waited for the server would wait
    // for the watchdog.
    auto calls = std::async(std::launch::async, [&] {
        const bool cleared = owner->clear("CLIPBOARD", change);
        owner.reset();
        return cleared;
    });
    const bool returned = calls.wait_for(kHangs) == std::future_status::ready;
    xcb_ungrab_server(grabber.connection());
    xcb_flush(grabber.connection());
    EXPECT_TRUE(returned) << "a call waited for the server";
    EXPECT_FALSE(calls.get());
}

// A requestor in the middle of a large answer when the selection changes hands (the keeper
// taking it over, another client's copy) still gets the whole of what it asked for.
TEST(Selections, AnAnswerInProgressEndsWholeAfterTheSelectionChangesHands) {
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    const auto data = served();
    ASSERT_TRUE(owner->own("CLIPBOARD", std::make_shared<const SelectionData>(data)));
    Requestor requestor;
    const xcb_atom_t property = requestor.atom("MIDWAY");
    ASSERT_EQ(requestor.answerOnly(requestor.atom("x-large"), property), property);
    Client taker;
    ASSERT_TRUE(taker.own("CLIPBOARD"));
    EXPECT_EQ(requestor.takeIncr(property), data.values[1].bytes);
}

// An owner whose INCR list of targets never ends: refused once the steps pass the cap, not
// read on until the read's time runs out; the rest of its answer is taken for it only up to a
// bound (a few steps), never for ever.
TEST(Selections, AListOfTargetsGrowingStepByStepIsRefusedAtTheCap) {
    std::atomic<int> steps = 0;
    std::pair<xcb_window_t, xcb_atom_t> into{XCB_NONE, XCB_NONE};  // the owner's thread only
    Client owner([&](Client& self, const xcb_generic_event_t& event) {
        xcb_connection_t* c = self.connection();
        const int kind = event.response_type & 0x7f;
        if (kind == XCB_SELECTION_REQUEST) {
            const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(event);
            const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
            const std::uint32_t announced = 4;
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                self.atom("INCR"), 32, 1, &announced);
            into = {request.requestor, request.property};
            self.answer(request, request.property);
        } else if (kind == XCB_PROPERTY_NOTIFY) {
            const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (change.state == XCB_PROPERTY_DELETE && change.window == into.first &&
                change.atom == into.second) {
                const std::vector<std::uint32_t> listed(256, XCB_ATOM_STRING);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, change.window, change.atom,
                                    XCB_ATOM_ATOM, 32, 256, listed.data());
                ++steps;
            }
        }
    });
    ASSERT_TRUE(owner.own("CLIPBOARD"));
    auto reader = Selections::open();
    ASSERT_TRUE(reader);
    // The steps the owner had written when the answer came: after it, the read goes on taking
    // the owner's steps for the owner's sake, as many as it manages.
    int stepsAtAnswer = 0;
    std::promise<Selections::Read> read;
    reader->read("CLIPBOARD", {}, [&](Selections::Read answer) {
        stepsAtAnswer = steps;
        read.set_value(answer);
    });
    auto answer = read.get_future();
    ASSERT_EQ(answer.wait_for(kHangs), std::future_status::ready);
    EXPECT_EQ(answer.get().failure, PasteboardSaveFailure::tooManyTypes);
    // The first step fills the cap and the second is refused; taking it away lets the owner
    // write a third.
    EXPECT_LE(stepsAtAnswer, 3);
}

// An owner that sends a large answer in INCR steps, to one requestor at a time (as xclip does):
// until the requestor has taken its last, empty step it answers nobody else.
class IncrOwner : public Client {
  public:
    IncrOwner(std::uint32_t announced, std::size_t steps, std::chrono::milliseconds pause)
        : Client([this](Client& self, const xcb_generic_event_t& event) { onEvent(self, event); }),
          announced_(announced),
          steps_(steps),
          pause_(pause) {}
    // Whether the requestor took the whole answer, the closing step included.
    bool finished(std::chrono::milliseconds within) {
        const auto until = Clock::now() + within;
        while (!finished_ && Clock::now() < until) {
            std::this_thread::sleep_for(10ms);
        }
        return finished_;
    }

  private:
    static constexpr std::size_t stepBytes = 64 * 1024;
    void onEvent(Client& self, const xcb_generic_event_t& event) {
        xcb_connection_t* c = self.connection();
        const int kind = event.response_type & 0x7f;
        if (kind == XCB_SELECTION_REQUEST) {
            const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(event);
            if (into_.first != XCB_NONE) {
                return;  // busy with the answer in progress
            }
            const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
            if (request.target == self.atom("TARGETS")) {
                const std::uint32_t listed[] = {self.atom("TARGETS"), self.atom("x-big")};
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                    XCB_ATOM_ATOM, 32, 2, listed);
            } else {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                    self.atom("INCR"), 32, 1, &announced_);
                into_ = {request.requestor, request.property};
            }
            self.answer(request, request.property);
        } else if (kind == XCB_PROPERTY_NOTIFY) {
            const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (change.state != XCB_PROPERTY_DELETE || change.window != into_.first ||
                change.atom != into_.second) {
                return;
            }
            if (sent_ > steps_) {
                finished_ = true;
                into_ = {XCB_NONE, XCB_NONE};
                return;
            }
            std::this_thread::sleep_for(pause_);
            const std::vector<std::uint8_t> step(sent_ < steps_ ? stepBytes : 0, 'x');
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, change.window, change.atom,
                                self.atom("x-big"), 8, static_cast<std::uint32_t>(step.size()),
                                step.data());
            ++sent_;
        }
    }

    std::uint32_t announced_;
    std::size_t steps_;
    std::chrono::milliseconds pause_;
    std::pair<xcb_window_t, xcb_atom_t> into_{XCB_NONE, XCB_NONE};  // the owner's thread only
    std::size_t sent_ = 0;
    std::atomic<bool> finished_ = false;
};

// A read that refuses or gives up in the middle of an INCR answer still takes its remaining
// steps, so that an owner serving one requestor at a time is free again for the next.
TEST(Selections, ARefusedOrAbandonedIncrAnswerIsTakenToItsEndForTheOwner) {
    struct Case {
        const char* name;
        std::uint32_t announced;
        std::chrono::milliseconds pause, readLimit;
        PasteboardSaveFailure failure;
    };
    for (const Case& c : {
             Case{"announced over the cap", 40 * 65536, 0ms, kHangs,
                  PasteboardSaveFailure::tooLarge},
             Case{"over the cap only step by step", 4, 0ms, kHangs,
                  PasteboardSaveFailure::tooLarge},
             Case{"too slow for the read", 4, 20ms, 300ms,
                  PasteboardSaveFailure::ownerNotAnswering},
         }) {
        SCOPED_TRACE(c.name);
        IncrOwner owner(c.announced, 40, c.pause);
        ASSERT_TRUE(owner.own("CLIPBOARD"));
        auto reader = Selections::open();
        ASSERT_TRUE(reader);
        std::promise<Selections::Read> read;
        reader->read("CLIPBOARD",
                     {.total = c.readLimit, .answering = c.readLimit, .maxBytes = 1 << 20},
                     [&](Selections::Read answer) { read.set_value(answer); });
        auto answer = read.get_future();
        ASSERT_EQ(answer.wait_for(kHangs), std::future_status::ready);
        EXPECT_EQ(answer.get().failure, c.failure);
        EXPECT_TRUE(owner.finished(kHangs));
    }
}

// Requestors that ask for large answers and never take them hold a bounded number of them, and
// never starve a fresh one: the answer that has waited longest gives way.
TEST(Selections, StalledLargeAnswersGiveWayToAFreshRequestor) {
    const auto data = served();
    for (const int requestors : {1, 5}) {
        SCOPED_TRACE(requestors);
        auto owner = Selections::open();
        ASSERT_TRUE(owner);
        ASSERT_TRUE(owner->own("CLIPBOARD", std::make_shared<const SelectionData>(data)));
        std::atomic<int> dropped = 0;
        owner->onTrouble([&](const std::string& line) {
            dropped += line.starts_with("incr_answer_dropped");
        });
        std::vector<std::unique_ptr<Requestor>> stalled;
        int given = 0;
        for (int r = 0; r < requestors; ++r) {
            auto& requestor = *stalled.emplace_back(std::make_unique<Requestor>());
            for (int i = 0; i < 70; ++i) {
                const auto property = requestor.atom(("LARGE_" + std::to_string(i)).c_str());
                given += requestor.answerOnly(requestor.atom("x-large"), property) == property;
            }
        }
        EXPECT_EQ(given, 70 * requestors);
        // Within both bounds: 64 for each requestor, 256 in all.
        EXPECT_EQ(dropped, requestors == 1 ? 6 : 5 * 6 + (5 * 64 - 256));
        Requestor fresh;
        const auto large = fresh.ask(fresh.atom("x-large"), fresh.atom("FRESH"), fresh.atom("FRESH"));
        EXPECT_EQ(large.bytes, data.values[1].bytes);
        const auto small = stalled.front()->ask(stalled.front()->atom("UTF8_STRING"),
                                                stalled.front()->atom("SMALL"),
                                                stalled.front()->atom("SMALL"));
        EXPECT_EQ(small.bytes, (std::vector<std::uint8_t>{'o', 'k', 0}));
        owner->onTrouble(nullptr);
    }
}

}  // namespace
}  // namespace ravlin::platform::x11

namespace ravlin::platform::x11 {
namespace {

// An owner of CLIPBOARD that lists `targets` (after TARGETS and TIMESTAMP) and answers each with
// its text as UTF8_STRING, refusing those without one; `beforeAnswer` runs at each request for
// contents, before the answer goes out.
class TextOwner : public Client {
  public:
    TextOwner(std::vector<std::pair<std::string, std::optional<std::string>>> targets,
              std::function<void()> beforeAnswer = nullptr)
        : Client([this](Client& self, const xcb_generic_event_t& event) { onEvent(self, event); }),
          targets_(std::move(targets)),
          beforeAnswer_(std::move(beforeAnswer)) {}

  private:
    void onEvent(Client& self, const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) != XCB_SELECTION_REQUEST) {
            return;
        }
        const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(event);
        xcb_connection_t* c = self.connection();
        if (request.target == self.atom("TARGETS")) {
            std::vector<xcb_atom_t> listed{self.atom("TARGETS"), self.atom("TIMESTAMP")};
            for (const auto& [name, text] : targets_) {
                listed.push_back(self.atom(name.c_str()));
            }
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(listed.size()),
                                listed.data());
            self.answer(request, request.property);
            return;
        }
        if (beforeAnswer_) {
            beforeAnswer_();
        }
        for (const auto& [name, text] : targets_) {
            if (request.target == self.atom(name.c_str()) && text) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                    self.atom("UTF8_STRING"), 8,
                                    static_cast<std::uint32_t>(text->size()), text->data());
                self.answer(request, request.property);
                return;
            }
        }
        self.answer(request, XCB_NONE);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> targets_;
    std::function<void()> beforeAnswer_;
};

Selections::Read readNow(Selections& reader) {
    std::promise<Selections::Read> read;
    reader.read("CLIPBOARD", {}, [&](Selections::Read answer) { read.set_value(answer); });
    auto answer = read.get_future();
    EXPECT_EQ(answer.wait_for(kHangs), std::future_status::ready);
    return answer.get();
}

// An owner that lists targets it refuses (Emacs lists FILE_NAME, LINE_NUMBER, INTEGER...): the
// read keeps them as refused instead of failing, and whoever serves the contents afterwards
// refuses them as the owner did, giving every other target exactly.
TEST(Selections, TargetsTheOwnerRefusesAreKeptAsRefusedAndRefusedAgain) {
    TextOwner owner({{"UTF8_STRING", "kept"}, {"FILE_NAME", std::nullopt}, {"INTEGER", std::nullopt}});
    ASSERT_TRUE(owner.own("CLIPBOARD"));
    auto reader = Selections::open();
    ASSERT_TRUE(reader);
    const auto read = readNow(*reader);
    ASSERT_EQ(read.failure, PasteboardSaveFailure::none);
    EXPECT_EQ(read.data.targets, (std::vector<std::string>{"TARGETS", "TIMESTAMP", "UTF8_STRING",
                                                           "FILE_NAME", "INTEGER"}));
    EXPECT_TRUE(read.data.refuses("FILE_NAME"));
    EXPECT_TRUE(read.data.refuses("INTEGER"));
    ASSERT_TRUE(read.data.find("UTF8_STRING"));
    EXPECT_EQ(read.data.find("UTF8_STRING")->bytes, (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));

    ASSERT_TRUE(reader->own("CLIPBOARD", std::make_shared<const SelectionData>(read.data)));
    Requestor requestor;
    EXPECT_EQ(requestor.answerOnly(requestor.atom("FILE_NAME"), requestor.atom("R1")),
              static_cast<xcb_atom_t>(XCB_NONE));
    EXPECT_EQ(requestor.answerOnly(requestor.atom("INTEGER"), requestor.atom("R2")),
              static_cast<xcb_atom_t>(XCB_NONE));
    EXPECT_EQ(requestor.ask(requestor.atom("UTF8_STRING"), requestor.atom("R3"),
                            requestor.atom("R3"))
                  .bytes,
              (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));
}

// Another client takes the clipboard in the middle of our read: what was read is never a mix of
// the two owners' contents. The read begins again and reads the new owner whole; should the
// owner change again, the read is refused.
TEST(Selections, AnOwnerReplacedInTheMiddleOfAReadIsReadAgainWholeNeverMixed) {
    for (const bool twice : {false, true}) {
        SCOPED_TRACE(twice ? "replaced again during the second read" : "replaced once");
        TextOwner third({{"UTF8_STRING", "third"}, {"text/plain", "third"}});
        // Asked first for the rest of the first read, then by the read begun again.
        std::atomic<int> secondAsked = 0;
        TextOwner second({{"UTF8_STRING", "second"}, {"text/plain", "second"}}, [&] {
            if (twice && ++secondAsked == 2) {
                EXPECT_TRUE(third.own("CLIPBOARD"));
            }
        });
        std::atomic<bool> firstReplaced = false;
        TextOwner first({{"UTF8_STRING", "first"}, {"text/plain", "first"}}, [&] {
            if (!firstReplaced.exchange(true)) {
                EXPECT_TRUE(second.own("CLIPBOARD"));
            }
        });
        ASSERT_TRUE(first.own("CLIPBOARD"));
        auto reader = Selections::open();
        ASSERT_TRUE(reader);
        const auto read = readNow(*reader);
        if (twice) {
            EXPECT_EQ(read.failure, PasteboardSaveFailure::ownerChanged);
            EXPECT_TRUE(read.data.values.empty());
            continue;
        }
        ASSERT_EQ(read.failure, PasteboardSaveFailure::none);
        EXPECT_EQ(read.owner, second.window());
        for (const auto& value : read.data.values) {
            EXPECT_EQ(std::string(value.bytes.begin(), value.bytes.end()), "second")
                << value.target;
        }
        EXPECT_EQ(read.data.values.size(), 2u);
    }
}

// A busy owner answers each request late, the read of its contents as a whole outlasting the
// wait for one answer: the read waits on as long as the owner answers, and takes them all.
TEST(Selections, ABusyOwnerThatKeepsAnsweringIsReadWhole) {
    const SelectionLimits limits;
    TextOwner owner(
        {{"UTF8_STRING", "slow"}, {"text/plain", "slow"}, {"STRING", "slow"}, {"TEXT", "slow"}},
        [&] { std::this_thread::sleep_for(limits.total * 2 / 5); });
    ASSERT_TRUE(owner.own("CLIPBOARD"));
    auto reader = Selections::open();
    ASSERT_TRUE(reader);
    const auto read = readNow(*reader);
    EXPECT_EQ(read.failure, PasteboardSaveFailure::none);
    EXPECT_EQ(read.data.values.size(), 4u);
}

// A take goes over the contents read as of the time their owner took the selection, and the
// server makes it later: a request stamped in between was meant for that owner (a clipboard
// manager that reads on a timer, or asks for one target after another, asks the owner it last
// heard of) and is refused, never answered with our contents; one stamped at the time taken as
// of, once the take was made, or at no time in particular is answered.
TEST(Selections, ARequestStampedBeforeOurTakeWasMadeIsRefused) {
    auto borrower = Selections::open();
    ASSERT_TRUE(borrower);
    TextOwner owner({{"UTF8_STRING", std::optional<std::string>("the user's")}});
    {
        Told told(*borrower);
        ASSERT_TRUE(owner.own("CLIPBOARD"));
        ASSERT_TRUE(told.waitFor("CLIPBOARD", 1));  // (its time known)
    }
    const auto read = readNow(*borrower);
    ASSERT_EQ(read.failure, PasteboardSaveFailure::none);
    ASSERT_NE(read.change.time, XCB_CURRENT_TIME);
    Requestor requestor;
    const auto between = requestor.timeAfter(read.change.time);
    (void)requestor.timeAfter(between);  // (the take comes later still)
    const auto taken = borrower->takeOver(
        "CLIPBOARD", std::make_shared<const SelectionData>(textSelection(u"ours")), read.change);
    ASSERT_EQ(taken.outcome, Selections::Take::taken);
    ASSERT_EQ(taken.time, read.change.time);
    const auto after = requestor.timeAfter(between);
    expectAnswered(requestor, {
                                  {"at the time taken as of", read.change.time, true},
                                  {"while the owner read still had it", between, false},
                                  {"once the take was made", after, true},
                                  {"at no time in particular", XCB_CURRENT_TIME, true},
                              });
    // Taken again (a text left for the user made an ordinary copy): the owner all along, so a
    // request stamped since the first take is ours to answer.
    (void)requestor.timeAfter(after);
    ASSERT_EQ(borrower->replace("CLIPBOARD", borrower->lastOwnChange("CLIPBOARD"),
                                std::make_shared<const SelectionData>(textSelection(u"left"))),
              Selections::Verdict::yes);
    expectAnswered(requestor, {{"since the first take", after, true}});
}

// Our own text goes on the clipboard only over the contents we read: a copy another client made
// since stands, and the take says so; with no copy since, the take is made.
TEST(Selections, ATakeGoesOnlyOverTheContentsRead) {
    TextOwner owner({{"UTF8_STRING", std::optional<std::string>("the user's")}});
    ASSERT_TRUE(owner.own("CLIPBOARD"));
    auto borrower = Selections::open();
    ASSERT_TRUE(borrower);
    const auto ours = std::make_shared<const SelectionData>(textSelection(u"ours"));

    const auto read = readNow(*borrower);
    ASSERT_EQ(read.failure, PasteboardSaveFailure::none);
    Client copier;
    ASSERT_TRUE(copier.own("CLIPBOARD"));
    EXPECT_EQ(borrower->takeOver("CLIPBOARD", ours, read.change).outcome,
              Selections::Take::changed);
    EXPECT_EQ(copier.owner("CLIPBOARD"), copier.window());

    ASSERT_TRUE(owner.own("CLIPBOARD"));
    const auto again = readNow(*borrower);
    ASSERT_EQ(again.failure, PasteboardSaveFailure::none);
    const auto taken = borrower->takeOver("CLIPBOARD", ours, again.change);
    EXPECT_EQ(taken.outcome, Selections::Take::taken);
    EXPECT_EQ(copier.owner("CLIPBOARD"), borrower->window());
    EXPECT_EQ(borrower->isLastChange("CLIPBOARD", borrower->lastOwnChange("CLIPBOARD")),
              Selections::Verdict::yes);
}

// A client that floods us with requests while we own the clipboard (10,000, never reading our
// answers) holds none of our own commands up: the look at our change and the put-back are
// answered, not given up on.
// A client asking what an ownership of ours offers (TARGETS, nothing more) has looked at it once
// its answer is out; one that looked before a paste chord's mark watches the selection, and is
// still known to at our next ownership, where nobody has looked yet. One that asks only after
// the mark is no watcher.
TEST(Selections, AClientThatAsksWhatWeOfferHasLookedAndBeforeAChordWatches) {
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    const auto take = [&] {
        return owner->own("CLIPBOARD", std::make_shared<const SelectionData>(served()));
    };
    ASSERT_TRUE(take());
    Requestor watcher;
    Requestor paster;
    const auto bases = [&](const std::vector<ClientIdentity>& clients) {
        std::vector<std::uint32_t> found;
        for (const auto& client : clients) {
            found.push_back(client.base);
        }
        return found;
    };
    const std::vector<std::uint32_t> watcherOnly{owner->clientBaseOf(watcher.window())};
    EXPECT_TRUE(owner->fetches("CLIPBOARD").lookers.empty());
    ASSERT_NE(watcher.answerOnly(watcher.atom("TARGETS"), watcher.atom("W")), XCB_NONE);
    // (the mark runs on the owner's thread after the request's handling)
    ASSERT_TRUE(owner->markFetches("CLIPBOARD"));
    EXPECT_EQ(bases(owner->fetches("CLIPBOARD").lookers), watcherOnly);
    EXPECT_TRUE(owner->fetches("CLIPBOARD").requestors.empty()) << "a look fetches nothing";
    ASSERT_NE(paster.answerOnly(paster.atom("UTF8_STRING"), paster.atom("P")), XCB_NONE);
    ASSERT_TRUE(take());
    const auto next = owner->fetches("CLIPBOARD");
    EXPECT_TRUE(next.lookers.empty());
    EXPECT_EQ(bases(next.watchers), watcherOnly);
}

TEST(Selections, AFloodOfRequestsHoldsUpNoneOfOurCommands) {
    auto owner = Selections::open();
    ASSERT_TRUE(owner);
    ASSERT_TRUE(owner->own("CLIPBOARD",
                           std::make_shared<const SelectionData>(textSelection(u"borrowed"))));
    const auto ours = owner->lastOwnChange("CLIPBOARD");
    Requestor flooder;
    const xcb_atom_t clipboard = flooder.atom("CLIPBOARD");
    const xcb_atom_t text = flooder.atom("UTF8_STRING");
    for (int i = 0; i < 10'000; ++i) {
        xcb_convert_selection(flooder.connection(), flooder.window(), clipboard, text,
                              flooder.atom(("FLOOD_" + std::to_string(i % 64)).c_str()),
                              XCB_CURRENT_TIME);
    }
    xcb_flush(flooder.connection());
    EXPECT_EQ(owner->isLastChange("CLIPBOARD", ours), Selections::Verdict::yes);
    EXPECT_EQ(owner->replace("CLIPBOARD", ours,
                             std::make_shared<const SelectionData>(textSelection(u"the user's"))),
              Selections::Verdict::yes);
    Requestor reader;
    EXPECT_EQ(reader.ask(reader.atom("UTF8_STRING"), reader.atom("R"), reader.atom("R")).bytes,
              (std::vector<std::uint8_t>{'t', 'h', 'e', ' ', 'u', 's', 'e', 'r', '\'', 's'}));
}

}  // namespace
}  // namespace ravlin::platform::x11
