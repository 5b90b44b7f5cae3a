#include "platform/linux/clipboard/selection_reader.h"
#include "platform/linux/clipboard/selection_text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace ravlin::platform::x11 {
namespace {

using namespace std::chrono_literals;

// Our reads use one property per read, taken in turn from this many names.
constexpr int readProperties = 64;
// The rest of an INCR answer we no longer want is taken to its end while its steps keep coming:
// each within this long of the last, up to a number of bytes (this many times what the owner
// announced, or what the read would have kept where it announced less), and at most this many
// answers at once (the oldest gives way). A slow owner of a large clipboard is followed as long
// as it sends; only one that stops, or sends without end, is left.
constexpr auto drainStepLimit = 5s;
constexpr std::uint64_t drainBeyondAnnounced = 4;
constexpr std::size_t maxDrains = 8;

}  // namespace

SelectionReader::SelectionReader(SelectionConnection& connection, Served served, Known known)
    : connection_(connection),
      c_(connection.xcb()),
      served_(std::move(served)),
      known_(std::move(known)) {}

void SelectionReader::start(std::shared_ptr<Job> job) {
    auto& queue = reads_[job->selection];
    queue.push_back(job);
    if (queue.size() == 1) {
        advance(job);
    }
}

void SelectionReader::advance(std::shared_ptr<Job> job) {
    if (!job->started) {
        job->started = true;
        if (Clock::now() >= job->deadline) {
            finish(job, PasteboardSaveFailure::ownerNotAnswering);
            return;
        }
        job->property = nextReadProperty();
        const auto look = xcb_get_selection_owner(c_, job->selection);
        Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(c_, look, nullptr));
        if (!owner) {
            finish(job, PasteboardSaveFailure::ownerNotAnswering);
            return;
        }
        job->result.owner = owner->owner;
        // The news of every change the server made before its answer is in by now: what is read
        // is the last of them, unless another follows before the read ends.
        connection_.drainQueued(look.sequence);
        job->result.change = known_(job->selection);
        if (owner->owner == XCB_NONE) {
            finish(job, PasteboardSaveFailure::none);  // nobody owns it: empty
            return;
        }
        if (owner->owner == connection_.window()) {
            if (const auto mine = served_(job->selection)) {
                job->result.data = *mine;
                finish(job, PasteboardSaveFailure::none);
                return;
            }
        }
        ask(job, connection_.atom("TARGETS"));
        return;
    }
    if (job->pending.empty()) {
        finish(job, PasteboardSaveFailure::none);
        return;
    }
    const xcb_atom_t next = job->pending.front();
    job->pending.erase(job->pending.begin());
    ask(job, next);
}

void SelectionReader::beginLater(const std::shared_ptr<Job>& job) {
    connection_.post([this, job] {
        const auto queue = reads_.find(job->selection);
        if (queue != reads_.end() && !queue->second.empty() && queue->second.front() == job &&
            !job->started) {
            advance(job);
        }
    });
}

void SelectionReader::ask(const std::shared_ptr<Job>& job, xcb_atom_t target) {
    job->asking = target;
    job->awaitingNotify = true;
    job->incr = false;
    job->current = SelectionValue{};
    xcb_delete_property(c_, connection_.window(), job->property);
    xcb_convert_selection(c_, connection_.window(), job->selection, target, job->property,
                          XCB_CURRENT_TIME);
}

void SelectionReader::onSelectionNotify(const xcb_selection_notify_event_t& event) {
    const auto queue = reads_.find(event.selection);
    if (queue == reads_.end() || queue->second.empty()) {
        return;
    }
    const auto job = queue->second.front();
    if (!job->awaitingNotify || event.target != job->asking ||
        (event.property != XCB_NONE && event.property != job->property)) {
        return;  // an answer to a read that gave up
    }
    job->awaitingNotify = false;
    answered(*job);
    if (event.property == XCB_NONE) {
        if (job->asking == connection_.atom("TARGETS")) {
            finish(job, PasteboardSaveFailure::typeFailed);  // nothing known of what it holds
            return;
        }
        // The owner lists a target it refuses (Emacs lists FILE_NAME, LINE_NUMBER and others it
        // has nothing for): that is part of what it holds. Kept as listed without contents, it
        // is refused again by whoever serves the contents after it.
        advance(job);
        return;
    }
    takeProperty(job, true);
}

xcb_atom_t SelectionReader::nextReadProperty() {
    // Never one an owner is still writing the rest of an answer into.
    for (int tried = 0; tried < readProperties; ++tried) {
        const auto property = connection_.atom("_RAVLIN_READ_" + std::to_string(nextProperty_));
        nextProperty_ = (nextProperty_ + 1) % readProperties;
        if (std::ranges::none_of(drains_,
                                 [&](const Drain& drain) { return drain.property == property; })) {
            return property;
        }
    }
    return connection_.atom("_RAVLIN_READ_" + std::to_string(nextProperty_));
}

void SelectionReader::answered(Job& job) {
    // A slow owner (a busy one, on a loaded machine) that answers is waited for again.
    job.deadline = std::min(job.latest, std::max(job.deadline, Clock::now() + job.limits.total));
}

void SelectionReader::onNewValue(xcb_atom_t property) {
    if (drainStep(property)) {
        return;
    }
    for (auto& [selection, queue] : reads_) {
        if (!queue.empty() && queue.front()->incr && queue.front()->property == property) {
            const auto job = queue.front();
            answered(*job);
            takeProperty(job, false);
            return;
        }
    }
}

void SelectionReader::takeProperty(const std::shared_ptr<Job>& job, bool first) {
    // The owner's list of targets is bounded by its count, the contents by their bytes, over
    // all the steps of an INCR answer.
    const bool listing = job->asking == connection_.atom("TARGETS");
    const std::size_t limit = listing ? job->limits.maxTargets * 4 : job->limits.maxBytes;
    const std::size_t room = limit - std::min(job->bytes, limit);
    const auto longs = static_cast<std::uint32_t>(std::min<std::size_t>(room / 4 + 1, UINT32_MAX));
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c_,
        xcb_get_property(c_, 1, connection_.window(), job->property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                         longs),
        nullptr));
    if (!reply || reply->type == XCB_NONE) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    const auto* value = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
    const auto size = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    if (first && reply->type == connection_.atom("INCR")) {
        // The owner sends it in steps, each when we have taken the last; it announces at least
        // this many bytes.
        std::uint32_t announced = 0;
        if (reply->format == 32 && size >= 4) {
            std::memcpy(&announced, value, 4);
        }
        job->incr = true;
        job->announced = announced;
        if (announced > room) {
            finish(job,
                   listing ? PasteboardSaveFailure::tooManyTypes : PasteboardSaveFailure::tooLarge);
        }
        return;
    }
    if (reply->bytes_after > 0 || size > room) {
        finish(job,
               listing ? PasteboardSaveFailure::tooManyTypes : PasteboardSaveFailure::tooLarge);
        return;
    }
    if (reply->format != 8 && reply->format != 16 && reply->format != 32) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    if (job->incr && size == 0) {
        valueRead(job);  // the closing empty step
        return;
    }
    const auto type = connection_.name(reply->type);
    if (!type) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    if (job->current.type.empty()) {
        job->current.type = *type;
        job->current.format = reply->format;
    } else if (job->current.format != reply->format) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    job->current.bytes.insert(job->current.bytes.end(), value, value + size);
    job->bytes += size;
    if (!job->incr) {
        valueRead(job);
    }
}

void SelectionReader::valueRead(const std::shared_ptr<Job>& job) {
    job->incr = false;
    auto value = std::move(job->current);
    if (job->asking == connection_.atom("TARGETS")) {
        // The owner's list: atoms, 32 bits each.
        job->bytes = 0;
        if (value.format != 32) {
            finish(job, PasteboardSaveFailure::typeFailed);
            return;
        }
        std::vector<xcb_atom_t> listed(value.bytes.size() / 4);
        std::memcpy(listed.data(), value.bytes.data(), listed.size() * 4);
        if (listed.size() > job->limits.maxTargets) {
            finish(job, PasteboardSaveFailure::tooManyTypes);
            return;
        }
        if (!connection_.resolveNames(listed)) {
            finish(job, PasteboardSaveFailure::typeFailed);
            return;
        }
        auto& data = job->result.data;
        data.targetsType = value.type;
        std::vector<xcb_atom_t> contents;
        for (const auto target : listed) {
            data.targets.push_back(connection_.name(target).value_or(std::string()));
            if (target != XCB_NONE && !isProtocolTarget(data.targets.back()) &&
                std::ranges::find(contents, target) == contents.end()) {
                contents.push_back(target);
            }
        }
        // Where we have heard of no change since it began, the owner says when its ownership
        // did (what a take over these contents goes as of).
        if (!job->textOnly && job->result.change.time == 0 &&
            std::ranges::find(data.targets, "TIMESTAMP") != data.targets.end()) {
            job->pending.insert(job->pending.begin(), connection_.atom("TIMESTAMP"));
        }
        if (job->textOnly) {
            job->pending.clear();
            for (const auto text : textTargets) {
                const auto found = std::ranges::find(data.targets, text);
                if (found != data.targets.end()) {
                    job->pending.push_back(connection_.atom(std::string(text)));
                    break;
                }
            }
        } else {
            job->pending = std::move(contents);
        }
        advance(job);
        return;
    }
    if (job->asking == connection_.atom("TIMESTAMP")) {
        if (value.format == 32 && value.bytes.size() == 4) {
            std::memcpy(&job->ownerTime, value.bytes.data(), 4);
        }
        advance(job);
        return;
    }
    const auto target = connection_.name(job->asking);
    if (!target) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    value.target = *target;
    job->result.data.values.push_back(std::move(value));
    advance(job);
}

void SelectionReader::finish(std::shared_ptr<Job> job, PasteboardSaveFailure failure) {
    auto& queue = reads_[job->selection];
    if (queue.empty() || queue.front() != job) {
        return;
    }
    if (job->property != XCB_NONE) {
        // Taking the property is also the owner's cue for the next step of an INCR answer.
        xcb_delete_property(c_, connection_.window(), job->property);
        if (job->incr && failure != PasteboardSaveFailure::none) {
            const bool listing = job->asking == connection_.atom("TARGETS");
            const std::uint64_t kept = listing ? job->limits.maxTargets * 4 : job->limits.maxBytes;
            drain(job->property, drainBeyondAnnounced * std::max<std::uint64_t>(job->announced, kept));
        }
    }
    if (failure == PasteboardSaveFailure::none &&
        known_(job->selection).number != job->result.change.number) {
        // Another change came while the contents were read: some targets may be the new
        // owner's. Never a mix: read again from the start, once.
        if (!job->restarted && Clock::now() < job->deadline) {
            const bool textOnly = job->textOnly;
            auto done = std::move(job->done);
            *job = Job{.selection = job->selection,
                       .limits = job->limits,
                       .deadline = job->deadline,
                       .latest = job->latest,
                       .textOnly = textOnly,
                       .done = std::move(done),
                       .restarted = true};
            beginLater(job);
            return;
        }
        failure = PasteboardSaveFailure::ownerChanged;
    }
    queue.pop_front();
    if (job->result.change.time == 0) {
        job->result.change.time = job->ownerTime;
    }
    job->result.failure = failure;
    if (failure != PasteboardSaveFailure::none) {
        job->result.data = SelectionData{};  // nothing of a read that failed is kept
    }
    if (job->done) {
        auto done = std::move(job->done);
        done(std::move(job->result));
    }
    if (!queue.empty()) {
        beginLater(queue.front());
    }
}

void SelectionReader::drain(xcb_atom_t property, std::uint64_t limit) {
    if (drains_.size() >= maxDrains) {
        endDrain(drains_.begin(), "too-many");
    }
    drains_.push_back(Drain{property, Clock::now(), 0, limit});
}

bool SelectionReader::drainStep(xcb_atom_t property) {
    const auto drain = std::ranges::find(drains_, property, &Drain::property);
    if (drain == drains_.end()) {
        return false;
    }
    // The step's size without its bytes; an empty step ends the answer.
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c_,
        xcb_get_property(c_, 0, connection_.window(), property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
        nullptr));
    if (reply && reply->type == XCB_NONE) {
        return true;  // news of a step already taken (the read's own last take of it)
    }
    xcb_delete_property(c_, connection_.window(), property);
    if (!reply || reply->bytes_after == 0) {
        drains_.erase(drain);
        return true;
    }
    drain->bytes += reply->bytes_after;
    drain->lastStep = Clock::now();
    if (drain->bytes >= drain->limit) {
        endDrain(drain, "too-large");
    }
    return true;
}

void SelectionReader::endDrain(std::vector<Drain>::iterator drain, const char* why) {
    tell(std::string("incr_drain_given_up reason=") + why + " bytes=" +
         std::to_string(drain->bytes));
    xcb_delete_property(c_, connection_.window(), drain->property);
    drains_.erase(drain);
}

void SelectionReader::tell(std::string line) {
    if (onTrouble) {
        onTrouble(std::move(line));
    }
}

std::optional<Clock::time_point> SelectionReader::nextDeadline() const {
    std::optional<Clock::time_point> due;
    const auto consider = [&](Clock::time_point at) {
        if (!due || at < *due) {
            due = at;
        }
    };
    for (const auto& [selection, queue] : reads_) {
        if (!queue.empty()) {
            consider(queue.front()->deadline);
        }
    }
    for (const auto& drain : drains_) {
        consider(drain.lastStep + drainStepLimit);
    }
    return due;
}

void SelectionReader::expire(Clock::time_point now) {
    for (auto& [selection, queue] : reads_) {
        while (!queue.empty() && queue.front()->deadline <= now) {
            finish(queue.front(), PasteboardSaveFailure::ownerNotAnswering);
        }
    }
    for (auto drain = drains_.begin(); drain != drains_.end();) {
        if (now - drain->lastStep >= drainStepLimit) {
            endDrain(drain, "owner-stalled");
            drain = drains_.begin();
        } else {
            ++drain;
        }
    }
}

void SelectionReader::failAll() {
    for (auto& [selection, queue] : reads_) {
        while (!queue.empty()) {
            finish(queue.front(), PasteboardSaveFailure::ownerNotAnswering);
        }
    }
}

}  // namespace ravlin::platform::x11
