#pragma once

// Reading a selection as an ICCCM requestor: ConvertSelection of TARGETS into a property of our
// window, then of each target that carries contents, each answer taken from the property (in
// INCR steps when the owner sends it so: we delete the property, the owner writes the next step,
// until an empty one). One read at a time per selection, each within its own deadline whatever
// the owner does; a property per read, taken in turn from a set of names, so that an owner still
// answering a read that gave up cannot write into a later one. A read that gives up or refuses in
// the middle of an INCR answer still takes the owner's remaining steps, without keeping them, so
// that an owner serving one requestor at a time goes on serving everyone else. Runs on the
// pump's thread.

#include <xcb/xcb.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/clipboard/selection_connection.h"
#include "platform/linux/clipboard/x11_selections.h"

namespace ravlin::platform::x11 {

class SelectionReader {
  public:
    // What we serve ourselves for a selection (none when we do not own it): a read of a
    // selection our window owns answers from it.
    using Served = std::function<std::shared_ptr<const SelectionData>(xcb_atom_t selection)>;
    // The last change of a selection we know of (SelectionOwner::lastChange).
    using Known = std::function<Selections::KnownChange(xcb_atom_t selection)>;

    struct Job {
        xcb_atom_t selection = XCB_NONE;
        xcb_atom_t property = XCB_NONE;
        SelectionLimits limits;
        Clock::time_point deadline;  // moved on by each answer of the owner's, up to `latest`
        Clock::time_point latest;
        bool textOnly = false;
        std::function<void(Selections::Read)> done;
        bool started = false;
        bool awaitingNotify = false;
        bool incr = false;  // the owner has announced an INCR answer we have not seen the end of
        xcb_atom_t asking = XCB_NONE;
        std::vector<xcb_atom_t> pending;  // content targets still to read
        SelectionValue current;
        Selections::Read result;
        std::size_t bytes = 0;
        std::uint32_t ownerTime = 0;  // its answer to TIMESTAMP (0: none)
        std::uint32_t announced = 0;  // the size the owner announced for an INCR answer
        bool restarted = false;
    };

    SelectionReader(SelectionConnection& connection, Served served, Known known);

    // Queues `job` behind the reads of its selection already in progress.
    void start(std::shared_ptr<Job> job);

    // Events for our window.
    void onSelectionNotify(const xcb_selection_notify_event_t& event);
    void onNewValue(xcb_atom_t property);

    [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const;
    void expire(Clock::time_point now);
    // The display is gone: every read ends now.
    void failAll();

    // What went wrong (Selections::onTrouble).
    std::function<void(std::string)> onTrouble;
    [[nodiscard]] std::size_t drainsInProgress() const { return drains_.size(); }

  private:
    void advance(std::shared_ptr<Job> job);
    // Begins the read at the front of `job`'s queue on the pump's next turn, outside the
    // handling of any event (beginning drains what xcb has read).
    void beginLater(const std::shared_ptr<Job>& job);
    void ask(const std::shared_ptr<Job>& job, xcb_atom_t target);
    // The owner has answered the job's request (or sent a step of an INCR answer).
    static void answered(Job& job);
    void takeProperty(const std::shared_ptr<Job>& job, bool first);
    void valueRead(const std::shared_ptr<Job>& job);
    void finish(std::shared_ptr<Job> job, PasteboardSaveFailure failure);
    // The rest of an INCR answer on `property`, taken step by step and dropped.
    struct Drain {
        xcb_atom_t property = XCB_NONE;
        Clock::time_point lastStep;
        std::uint64_t bytes = 0;
        std::uint64_t limit = 0;
    };
    void drain(xcb_atom_t property, std::uint64_t limit);
    bool drainStep(xcb_atom_t property);
    void endDrain(std::vector<Drain>::iterator drain, const char* why);
    [[nodiscard]] xcb_atom_t nextReadProperty();
    void tell(std::string line);

    SelectionConnection& connection_;
    xcb_connection_t* c_;
    Served served_;
    Known known_;
    std::map<xcb_atom_t, std::deque<std::shared_ptr<Job>>> reads_;
    int nextProperty_ = 0;
    std::vector<Drain> drains_;  // oldest first
};

}  // namespace ravlin::platform::x11
