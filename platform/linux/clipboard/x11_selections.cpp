#include "platform/linux/clipboard/x11_selections.h"

#include <xcb/xfixes.h>

#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/linux/clipboard/incr_transfers.h"
#include "platform/linux/clipboard/selection_connection.h"
#include "platform/linux/clipboard/selection_owner.h"
#include "platform/linux/clipboard/selection_reader.h"

namespace ravlin::platform::x11 {

// The connection, and the parts that run on its pump, each event handed to the part it is for.
struct Selections::Workings final : SelectionConnection::Handler {
    explicit Workings(std::unique_ptr<SelectionConnection> link)
        : connection(std::move(link)),
          transfers(*connection),
          owner(*connection, transfers),
          reader(
              *connection, [this](xcb_atom_t selection) { return owner.served(selection); },
              [this](xcb_atom_t selection) {
                  return owner.lastChange(connection->name(selection).value_or(std::string()));
              }) {
        const auto tellTrouble = [this](std::string line) { tell(std::move(line)); };
        reader.onTrouble = tellTrouble;
        transfers.onTrouble = tellTrouble;
        owner.onTrouble = tellTrouble;
        owner.watch(connection->atom("CLIPBOARD"));
        owner.watch(connection->atom("PRIMARY"));
        connection->start(*this);
    }
    // The pump ends before the parts it calls.
    ~Workings() override { connection->stop(); }
    Workings(const Workings&) = delete;
    Workings& operator=(const Workings&) = delete;

    void handle(const xcb_generic_event_t& event) override {
        const std::uint8_t type = event.response_type & 0x7f;
        const xcb_window_t ours = connection->window();
        switch (type) {
            case 0:  // an error of a request whose target went away: nothing waits for it
                return;
            case XCB_SELECTION_REQUEST:
                owner.onSelectionRequest(
                    reinterpret_cast<const xcb_selection_request_event_t&>(event));
                return;
            case XCB_SELECTION_NOTIFY: {
                const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
                if (notify.requestor != ours) {
                    return;
                }
                if (notify.selection == connection->atom("CLIPBOARD_MANAGER")) {
                    owner.onManagerAnswer(notify);
                } else {
                    reader.onSelectionNotify(notify);
                }
                return;
            }
            case XCB_DESTROY_NOTIFY:
                owner.onDestroyed(
                    reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window);
                return;
            case XCB_SELECTION_CLEAR:
                owner.onSelectionClear(reinterpret_cast<const xcb_selection_clear_event_t&>(event),
                                       event.full_sequence);
                return;
            case XCB_PROPERTY_NOTIFY: {
                const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
                if (change.window != ours) {
                    if (change.state == XCB_PROPERTY_DELETE) {
                        transfers.onPropertyDeleted(change.window, change.atom);
                    }
                } else if (change.state == XCB_PROPERTY_NEW_VALUE) {
                    reader.onNewValue(change.atom);
                }
                return;
            }
            default:
                break;
        }
        if (connection->xfixes() &&
            type == connection->xfixesFirstEvent() + XCB_XFIXES_SELECTION_NOTIFY) {
            owner.onOwnerChange(reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event),
                                event.full_sequence);
        }
    }

    [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const override {
        const auto reading = reader.nextDeadline();
        const auto sending = transfers.nextDeadline();
        if (reading && sending) {
            return std::min(*reading, *sending);
        }
        return reading ? reading : sending;
    }

    void expire(Clock::time_point now) override {
        reader.expire(now);
        transfers.expire(now);
    }

    void disconnected() override {
        reader.failAll();
        tell("display_connection_lost");
    }

    void tell(std::string line) {
        std::function<void(const std::string&)> told;
        {
            std::lock_guard lock(troubleMutex);
            told = onTrouble;
        }
        if (told) {
            told(line);
        }
    }

    std::mutex troubleMutex;
    std::function<void(const std::string&)> onTrouble;  // under troubleMutex

    std::unique_ptr<SelectionConnection> connection;
    IncrTransfers transfers;
    SelectionOwner owner;
    SelectionReader reader;
};

std::shared_ptr<Selections> Selections::open() {
    auto connection = SelectionConnection::connect();
    if (!connection) {
        return nullptr;
    }
    return std::shared_ptr<Selections>(
        new Selections(std::make_unique<Workings>(std::move(connection))));
}

Selections::Selections(std::unique_ptr<Workings> workings) : workings_(std::move(workings)) {}

Selections::~Selections() = default;

void Selections::read(std::string selection, SelectionLimits limits,
                      std::function<void(Read)> done) {
    submit(std::move(selection), limits, false, std::move(done));
}

void Selections::readTextOnly(std::string selection, SelectionLimits limits,
                              std::function<void(Read)> done) {
    submit(std::move(selection), limits, true, std::move(done));
}

void Selections::submit(std::string selection, SelectionLimits limits, bool textOnly,
                        std::function<void(Read)> done) {
    auto job = std::make_shared<SelectionReader::Job>();
    job->limits = limits;
    job->deadline = Clock::now() + limits.total;
    job->latest = Clock::now() + std::max(limits.total, limits.answering);
    job->textOnly = textOnly;
    if (!workings_->connection->connected()) {
        done(Read{{}, PasteboardSaveFailure::ownerNotAnswering});
        return;
    }
    job->done = std::move(done);
    workings_->connection->post([workings = workings_.get(), job, selection = std::move(selection)] {
        job->selection = workings->connection->atom(selection);
        workings->reader.start(job);
    });
}

std::optional<std::uint32_t> Selections::own(const std::string& selection,
                                             std::shared_ptr<const SelectionData> data) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<std::optional<std::uint32_t>>(
            [workings, selection, data = std::move(data)]() -> std::optional<std::uint32_t> {
                const auto time = workings->connection->serverTime();
                if (!time ||
                    !workings->owner.ownAt(workings->connection->atom(selection), data, *time)) {
                    return std::nullopt;
                }
                return time;
            },
            2 * serverWait)
        .value_or(std::nullopt);
}

bool Selections::ownAsOf(const std::string& selection, std::shared_ptr<const SelectionData> data,
                         std::uint32_t time) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<bool>(
            [workings, selection, data = std::move(data), time] {
                return workings->owner.ownAt(workings->connection->atom(selection), data, time);
            },
            serverWait)
        .value_or(false);
}

bool Selections::clear(const std::string& selection, KnownChange change) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<bool>(
            [workings, selection, change] {
                return workings->owner.clear(workings->connection->atom(selection), change);
            },
            serverWait)
        .value_or(false);
}

namespace {

Selections::Verdict verdictOf(std::optional<bool> answer, const SelectionConnection& connection) {
    if (!answer || (!*answer && !connection.connected())) {
        return Selections::Verdict::unknown;
    }
    return *answer ? Selections::Verdict::yes : Selections::Verdict::no;
}

}  // namespace

Selections::Verdict Selections::isLastChange(const std::string& selection, KnownChange change) {
    auto* workings = workings_.get();
    return verdictOf(workings->connection->call<bool>(
                         [workings, selection, change] {
                             return workings->owner.isLastChange(workings->connection->atom(selection),
                                                              change);
                         },
                         serverWait),
                     *workings->connection);
}

Selections::Verdict Selections::replace(const std::string& selection, KnownChange change,
                                        std::shared_ptr<const SelectionData> data) {
    auto* workings = workings_.get();
    return verdictOf(workings->connection->call<bool>(
                         [workings, selection, change, data = std::move(data)] {
                             return workings->owner.replace(workings->connection->atom(selection),
                                                         change, data);
                         },
                         2 * serverWait),
                     *workings->connection);
}

Selections::Taken Selections::takeOver(const std::string& selection,
                                       std::shared_ptr<const SelectionData> data,
                                       KnownChange basis) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<Taken>(
            [workings, selection, data = std::move(data), basis] {
                return workings->owner.takeOver(workings->connection->atom(selection), data, basis);
            },
            2 * serverWait)
        .value_or(Taken{});
}

Selections::KnownChange Selections::lastChange(const std::string& selection) const {
    return workings_->owner.lastChange(selection);
}

Selections::KnownChange Selections::lastOwnChange(const std::string& selection) const {
    return workings_->owner.lastOwnChange(selection);
}

std::shared_ptr<const SelectionData> Selections::owned(const std::string& selection) const {
    return workings_->owner.owned(selection);
}

std::uint32_t Selections::ownedSince(const std::string& selection) const {
    return workings_->owner.ownedSince(selection);
}

bool Selections::fetched(const std::string& selection) const {
    return workings_->owner.fetched(selection);
}

std::vector<ClientIdentity> Selections::requestors(const std::string& selection) const {
    return workings_->owner.requestors(selection);
}

Selections::Fetches Selections::fetches(const std::string& selection) const {
    return workings_->owner.fetches(selection);
}

bool Selections::markFetches(const std::string& selection) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<bool>(
            [workings, selection] {
                return workings->owner.markFetches(workings->connection->atom(selection));
            },
            serverWait)
        .value_or(false);
}

std::uint32_t Selections::clientBaseOf(std::uint32_t window) const {
    return workings_->owner.clientBaseOf(window);
}

std::uint64_t Selections::ownChanges(const std::string& selection) const {
    return workings_->owner.ownChanges(selection);
}

void Selections::onForeignChange(std::function<void(const std::string&, std::uint64_t)> callback) {
    workings_->owner.onForeignChange(std::move(callback));
}

bool Selections::saveToManager(const std::string& selection, std::chrono::milliseconds limit) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<bool>(
            [workings, selection, limit] {
                return workings->owner.saveToManager(workings->connection->atom(selection), limit);
            },
            limit + serverWait)
        .value_or(false);
}

std::uint32_t Selections::window() const {
    return workings_->connection->window();
}

void Selections::onOwnerChange(std::function<void(const OwnerChange&)> callback) {
    auto* workings = workings_.get();
    (void)workings->connection->call<bool>(
        [workings, callback = std::move(callback)] {
            workings->owner.onOwnerChanged = callback;
            return true;
        },
        serverWait);
}

void Selections::onFetch(
    std::function<void(const std::string&, const ClientIdentity&, bool)> callback) {
    auto* workings = workings_.get();
    (void)workings->connection->call<bool>(
        [workings, callback = std::move(callback)] {
            workings->owner.onFetch = callback;
            return true;
        },
        serverWait);
}

void Selections::onRequest(std::function<void(const std::string&)> callback) {
    auto* workings = workings_.get();
    (void)workings->connection->call<bool>(
        [workings, callback = std::move(callback)] {
            workings->owner.onRequest = callback;
            return true;
        },
        serverWait);
}

ClientIdentity Selections::clientOf(std::uint32_t window) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<ClientIdentity>([workings, window] { return workings->owner.clientOf(window); },
                               serverWait)
        .value_or(ClientIdentity{workings->owner.clientBaseOf(window), std::nullopt});
}

void Selections::setDeputy(std::uint32_t window) {
    // Done before the caller goes on: the deputy's next change must find it known.
    auto* workings = workings_.get();
    (void)workings->connection->call<bool>(
        [workings, window] {
            workings->owner.setDeputy(window);
            return true;
        },
        serverWait);
}

std::optional<Selections::KnownChange> Selections::deputyChange(const std::string& selection) {
    auto* workings = workings_.get();
    return workings->connection
        ->call<std::optional<KnownChange>>(
            [workings, selection] {
                return workings->owner.deputyChange(workings->connection->atom(selection));
            },
            serverWait)
        .value_or(std::nullopt);
}

void Selections::standBy(const std::string& selection, std::shared_ptr<const SelectionData> data,
                         std::uint32_t window) {
    auto* workings = workings_.get();
    (void)workings->connection->call<bool>(
        [workings, selection, data = std::move(data), window] {
            workings->owner.standBy(workings->connection->atom(selection), data, window);
            return true;
        },
        serverWait);
}

std::size_t Selections::transfersInProgress() {
    auto* workings = workings_.get();
    return workings->connection
        ->call<std::size_t>([workings] { return workings->transfers.inProgress(); }, serverWait)
        .value_or(0);
}

void Selections::onTrouble(std::function<void(const std::string&)> callback) {
    std::lock_guard lock(workings_->troubleMutex);
    workings_->onTrouble = std::move(callback);
}

bool Selections::connected() const {
    return workings_->connection->connected();
}

}  // namespace ravlin::platform::x11
