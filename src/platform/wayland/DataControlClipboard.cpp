#include "platform/wayland/DataControlClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "wlr-data-control-unstable-v1-client.h"

namespace platform {

namespace {
// How long another program may take to hand over what it offers.
constexpr int kReceiveTimeoutMs = 2000;
// How long a browser takes to put a pasted text into the page once it has read it all (the
// clipboard must not change before: Chromium drops the paste then, and a key after it may come
// first: Firefox on a cold machine took an Enter before the text and sent the form without
// it). Nothing tells when it has; a browser slow to come for the text is slow to put it in
// too, so it gets twice the time it took to come, within these bounds.
constexpr int kPasteTakeInMs = 40;
constexpr int kPasteTakeInMaxMs = 400;
// The take-in before the first paste, whose reads are not counted yet.
constexpr int kFirstPasteTakeInMs = 200;
// Programs that watch the clipboard (an input method's clipboard history) read each new one at
// once, before the paste's keys go out. The offer waits for as many of them as read the last
// one, up to a while, and for a quiet moment after the last read: longer while none has been
// counted yet.
constexpr int kWatchersWithinMs = 500;
constexpr int kWatchersQuietMs = 15;
constexpr int kFirstWatchersQuietMs = 60;
// The types text is read in, best first, and offered in.
const char* const kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                  "TEXT", "STRING"};

// Names of X11's selection protocol that some programs list among their types (Firefox lists
// SAVE_TARGETS): no data comes for them, and asking would wait out the whole timeout.
const char* const kNoDataTypes[] = {"SAVE_TARGETS", "TARGETS", "MULTIPLE", "TIMESTAMP", "DELETE",
                                    "INSERT_PROPERTY", "INSERT_SELECTION"};

bool IsTextType(const std::string& t) {
    return std::find(std::begin(kTextTypes), std::end(kTextTypes), t) != std::end(kTextTypes);
}

class SavedFormats : public ClipboardContents {
  public:
    std::vector<std::pair<std::string, std::string>> formats;
};
}  // namespace

// One of our offers on the clipboard: answers every program that reads it until another
// program's offer replaces it.
struct DataControlClipboard::Source {
    DataControlClipboard* owner = nullptr;
    zwlr_data_control_source_v1* source = nullptr;
    Formats formats;
    bool countReads = false;
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() {
        if (source) zwlr_data_control_source_v1_destroy(source);
    }
};

DataControlClipboard::DataControlClipboard(WaylandConnection& w) : w_(w) {
    // A reader that closes its end early must not end the program.
    signal(SIGPIPE, SIG_IGN);
    manager_ = static_cast<zwlr_data_control_manager_v1*>(
        w_.Bind(&zwlr_data_control_manager_v1_interface, 2));
    if (!manager_ || !w_.seat()) return;
    device_ = zwlr_data_control_manager_v1_get_data_device(manager_, w_.seat());
    static const zwlr_data_control_device_v1_listener listener = {OnDataOffer, OnSelection,
                                                                  OnFinished, OnPrimary};
    zwlr_data_control_device_v1_add_listener(device_, &listener, this);
    // The clipboard as it is now.
    w_.RoundTrip();
}

DataControlClipboard::~DataControlClipboard() {
    source_.reset();
    for (auto& [offer, types] : offers_) zwlr_data_control_offer_v1_destroy(offer);
    if (device_) zwlr_data_control_device_v1_destroy(device_);
    if (manager_) zwlr_data_control_manager_v1_destroy(manager_);
    w_.RoundTrip();
}

void DataControlClipboard::OnDataOffer(void* d, zwlr_data_control_device_v1*,
                                       zwlr_data_control_offer_v1* o) {
    auto* self = static_cast<DataControlClipboard*>(d);
    static const zwlr_data_control_offer_v1_listener listener = {
        [](void* d, zwlr_data_control_offer_v1* o, const char* type) {
            static_cast<DataControlClipboard*>(d)->offers_[o].push_back(type);
        }};
    self->offers_[o];
    zwlr_data_control_offer_v1_add_listener(o, &listener, self);
}

void DataControlClipboard::DropOffer(zwlr_data_control_offer_v1* o) {
    if (!o || o == selection_ || o == primary_) return;
    offers_.erase(o);
    zwlr_data_control_offer_v1_destroy(o);
}

void DataControlClipboard::OnSelection(void* d, zwlr_data_control_device_v1*,
                                       zwlr_data_control_offer_v1* o) {
    auto* self = static_cast<DataControlClipboard*>(d);
    zwlr_data_control_offer_v1* old = self->selection_;
    self->selection_ = o;
    self->DropOffer(old);
    ++self->selectionSerial_;
}

void DataControlClipboard::OnPrimary(void* d, zwlr_data_control_device_v1*,
                                     zwlr_data_control_offer_v1* o) {
    auto* self = static_cast<DataControlClipboard*>(d);
    zwlr_data_control_offer_v1* old = self->primary_;
    self->primary_ = o;
    self->DropOffer(old);
}

void DataControlClipboard::OnFinished(void* d, zwlr_data_control_device_v1*) {
    auto* self = static_cast<DataControlClipboard*>(d);
    // The seat went away: nothing more comes through this device.
    self->selection_ = self->primary_ = nullptr;
    for (auto& [offer, types] : self->offers_) zwlr_data_control_offer_v1_destroy(offer);
    self->offers_.clear();
    zwlr_data_control_device_v1_destroy(self->device_);
    self->device_ = nullptr;
}

std::string DataControlClipboard::Receive(zwlr_data_control_offer_v1* offer,
                                          const std::string& type) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    zwlr_data_control_offer_v1_receive(offer, type.c_str(), fds[1]);
    close(fds[1]);
    wl_display_flush(w_.display());
    // The offer may be our own: keep answering the compositor while reading.
    std::string data;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReceiveTimeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            data.clear();
            break;
        }
        pollfd p[2] = {{fds[0], POLLIN, 0}, {wl_display_get_fd(w_.display()), POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(left.count())) < 0) break;
        if (p[1].revents & POLLIN) w_.Dispatch();
        if (p[0].revents & (POLLIN | POLLHUP)) {
            char buf[65536];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            data.append(buf, static_cast<std::size_t>(n));
        }
    }
    close(fds[0]);
    return data;
}

std::string DataControlClipboard::TextOf(zwlr_data_control_offer_v1* offer) {
    w_.Dispatch();
    auto it = offers_.find(offer);
    if (!offer || it == offers_.end()) return {};
    for (const char* t : kTextTypes) {
        if (std::find(it->second.begin(), it->second.end(), t) != it->second.end())
            return Receive(offer, t);
    }
    return {};
}

std::string DataControlClipboard::Text() {
    return TextOf(selection_);
}

std::string DataControlClipboard::PrimaryText() {
    return TextOf(primary_);
}

void DataControlClipboard::Clear() {
    if (!device_) return;
    source_.reset();
    zwlr_data_control_device_v1_set_selection(device_, nullptr);
    w_.RoundTrip();
}

bool DataControlClipboard::WaitText(int timeoutMs) {
    return w_.WaitUntil(
        [this] {
            auto it = offers_.find(selection_);
            return selection_ && it != offers_.end() &&
                   std::any_of(it->second.begin(), it->second.end(), IsTextType);
        },
        timeoutMs);
}

std::unique_ptr<ClipboardContents> DataControlClipboard::Take() {
    auto saved = std::make_unique<SavedFormats>();
    w_.Dispatch();
    auto it = offers_.find(selection_);
    if (!selection_ || it == offers_.end()) return saved;
    const std::vector<std::string> types = it->second;
    for (const std::string& t : types) {
        const bool listed = std::any_of(saved->formats.begin(), saved->formats.end(),
                                        [&](const auto& f) { return f.first == t; });
        if (listed || std::find(std::begin(kNoDataTypes), std::end(kNoDataTypes), t) !=
                          std::end(kNoDataTypes))
            continue;
        saved->formats.emplace_back(t, Receive(selection_, t));
    }
    return saved;
}

void DataControlClipboard::PutBack(std::unique_ptr<ClipboardContents> saved) {
    auto* formats = dynamic_cast<SavedFormats*>(saved.get());
    if (!device_) return;
    if (!formats || formats->formats.empty()) {
        Clear();
        return;
    }
    SetSelection(std::move(formats->formats), false);
}

void DataControlClipboard::OfferText(const std::string& text) {
    Formats formats;
    for (const char* t : kTextTypes) formats.emplace_back(t, text);
    offeredReads_ = 0;
    offeredWritten_->store(0);
    SetSelection(std::move(formats), true);
    // Their reads are not the paste's: a paste counted one of them as the browser's and put the
    // clipboard back before a slow browser had read it, which then pasted the old clipboard.
    w_.RoundTrip();
    WaitReadsQuiet(watchers_.value_or(0), watchers_ ? kWatchersQuietMs : kFirstWatchersQuietMs,
                   kWatchersWithinMs, 2);
    watchers_ = offeredReads_;
}

void DataControlClipboard::WaitReadsQuiet(int atLeast, std::uint32_t quietMs, int timeoutMs,
                                          int pollMs) {
    auto allWritten = [this] { return offeredWritten_->load() >= offeredReads_; };
    int seen = offeredReads_;
    std::uint32_t lastRead = WaylandConnection::NowMs();
    w_.WaitUntil(
        [&] {
            if (offeredReads_ != seen || !allWritten()) {
                seen = offeredReads_;
                lastRead = WaylandConnection::NowMs();
            }
            return offeredReads_ >= atLeast && WaylandConnection::NowMs() - lastRead >= quietMs;
        },
        timeoutMs, pollMs, false);
}

bool DataControlClipboard::WaitRead(int reads, int timeoutMs) {
    auto allWritten = [this] { return offeredWritten_->load() >= offeredReads_; };
    const std::uint32_t asked = WaylandConnection::NowMs();
    if (!w_.WaitUntil([&] { return offeredReads_ > reads && allWritten(); }, timeoutMs, 5, false))
        return false;
    std::uint32_t takeIn = std::clamp<std::uint32_t>(
        2 * (WaylandConnection::NowMs() - asked), kPasteTakeInMs, kPasteTakeInMaxMs);
    // A browser may read one paste more than once (Chromium twice, the second read only as the
    // page takes the text, on a busy machine well after the first, and it pasted what the
    // clipboard held by then). So the paste is waited for as often as the last paste was read,
    // as long as for the first, the take-in counted from the last read handed over. The first
    // time only the longer take-in stands for the count.
    if (readsPerPaste_ > 1)
        w_.WaitUntil([&] { return offeredReads_ - reads >= readsPerPaste_ && allWritten(); },
                     timeoutMs, 5, false);
    else if (readsPerPaste_ == 0)
        takeIn = std::max<std::uint32_t>(takeIn, kFirstPasteTakeInMs);
    WaitReadsQuiet(0, takeIn, timeoutMs, 5);
    readsPerPaste_ = offeredReads_ - reads;
    return true;
}

void DataControlClipboard::SetSelection(Formats formats, bool countReads) {
    if (!device_) return;
    auto source = std::make_unique<Source>();
    source->owner = this;
    source->source = zwlr_data_control_manager_v1_create_data_source(manager_);
    source->formats = std::move(formats);
    source->countReads = countReads;
    static const zwlr_data_control_source_v1_listener listener = {
        [](void* d, zwlr_data_control_source_v1*, const char* type, int fd) {
            auto* s = static_cast<Source*>(d);
            auto it = std::find_if(s->formats.begin(), s->formats.end(),
                                   [type](const auto& f) { return f.first == type; });
            if (it == s->formats.end()) {
                close(fd);
                return;
            }
            std::shared_ptr<std::atomic<int>> written;
            if (s->countReads && IsTextType(type)) {
                ++s->owner->offeredReads_;
                written = s->owner->offeredWritten_;
            }
            // Written apart from the event loop: the reader may be this program itself, which
            // reads only once this handler has returned.
            std::thread([fd, data = it->second, written] {
                std::size_t done = 0;
                while (done < data.size()) {
                    const ssize_t n = write(fd, data.data() + done, data.size() - done);
                    if (n <= 0) break;
                    done += static_cast<std::size_t>(n);
                }
                close(fd);
                if (written) ++*written;
            }).detach();
        },
        [](void* d, zwlr_data_control_source_v1*) {
            auto* s = static_cast<Source*>(d);
            // Another program's offer has replaced ours.
            if (s->owner->source_.get() == s) s->owner->source_.reset();
        }};
    zwlr_data_control_source_v1_add_listener(source->source, &listener, source.get());
    for (const auto& [type, data] : source->formats)
        zwlr_data_control_source_v1_offer(source->source, type.c_str());
    zwlr_data_control_device_v1_set_selection(device_, source->source);
    source_ = std::move(source);
    w_.RoundTrip();
}

}  // namespace platform
