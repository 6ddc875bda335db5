// The clipboard on Wayland through the data-control protocol (wlroots, KWin): read and set while
// another program has the keyboard, which a Wayland client's own clipboard cannot. Also offers a
// text for a paste and tells when the target has read it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/wayland/WaylandConnection.h"

struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace platform {

class DataControlClipboard : public Clipboard {
  public:
    explicit DataControlClipboard(WaylandConnection& w);
    ~DataControlClipboard() override;
    DataControlClipboard(const DataControlClipboard&) = delete;
    DataControlClipboard& operator=(const DataControlClipboard&) = delete;

    // Whether the compositor lets this program at the clipboard.
    bool Available() const { return device_ != nullptr; }

    std::string Text() override;
    void Clear() override;
    bool WaitText(int timeoutMs) override;
    std::unique_ptr<ClipboardContents> Take() override;
    void PutBack(std::unique_ptr<ClipboardContents> saved) override;

    // Puts `text` (UTF-8) on the clipboard from this program, for a paste, once the programs
    // that read every new clipboard have read it (counted in offeredReads).
    void OfferText(const std::string& text);
    // How many times a program has asked for the offered text's content since OfferText.
    int offeredReads() const { return offeredReads_; }
    // Waits until the offered text has been asked for once more than `reads` (as often as for
    // the last paste, once that is known) and handed over in full, and the reader has had a
    // moment after its last read to take it in (a browser drops a paste whose clipboard changes
    // while it still reads); false on timeout.
    bool WaitRead(int reads, int timeoutMs);

    // The primary selection's text: what is highlighted now ("" when the compositor keeps none).
    std::string PrimaryText();

  private:
    struct Offer {
        zwlr_data_control_offer_v1* offer = nullptr;
        std::vector<std::string> types;
    };
    // What a source of ours offers, by type.
    using Formats = std::vector<std::pair<std::string, std::string>>;
    struct Source;

    static void OnDataOffer(void* d, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* o);
    static void OnSelection(void* d, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* o);
    static void OnFinished(void* d, zwlr_data_control_device_v1*);
    static void OnPrimary(void* d, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* o);

    // The offer's text ("" when it has none); the offer may be gone by the time it is read.
    std::string TextOf(zwlr_data_control_offer_v1* offer);
    // Reads the offer's content in that type in full; "" on failure.
    std::string Receive(zwlr_data_control_offer_v1* offer, const std::string& type);
    void SetSelection(Formats formats, bool countReads);
    // Waits, up to `timeoutMs`, until the offered text has been read `atLeast` times and nothing
    // has been read or handed over for `quietMs`.
    void WaitReadsQuiet(int atLeast, std::uint32_t quietMs, int timeoutMs, int pollMs);
    void DropOffer(zwlr_data_control_offer_v1* o);

    WaylandConnection& w_;
    zwlr_data_control_manager_v1* manager_ = nullptr;
    zwlr_data_control_device_v1* device_ = nullptr;
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers_;
    zwlr_data_control_offer_v1* selection_ = nullptr;
    zwlr_data_control_offer_v1* primary_ = nullptr;
    // Our source that holds the clipboard now, nullptr when another program's does.
    std::unique_ptr<Source> source_;
    std::uint64_t selectionSerial_ = 0;
    int offeredReads_ = 0;
    int readsPerPaste_ = 0;  // how often the last paste was read (0: none yet)
    std::optional<int> watchers_;  // how many read the last offer before its paste
    // How many of the offered text's hand-overs have been written in full.
    std::shared_ptr<std::atomic<int>> offeredWritten_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace platform
