#pragma once
#include <atomic>
#include <functional>
#include <string>

#include "core/binding/usb_port_api.h"
#include "core/binding/usb_port_binding.h"
#include "core/config/upgrade_settings.h"
#include "core/dialog/control_ids.h"
#include "core/dialog/dialog_controls.h"
#include "core/platform/platform_flags.h"
#include "core/transfer/procedures.h"

namespace fwup {

inline constexpr char kUpgradeTitle[] = "F/W Upgrade Utility for Windows 95/98";
inline constexpr char kUpgradeRevision[] = "V1.06";
inline constexpr char kDemoTitle[] = "Download Demo Utility for Windows 95/98";
inline constexpr char kDemoRevision[] = "V1.01";
inline constexpr char kDownloadNowCaption[] = "Download Now";

// The dialog's end results a front end's framework uses for its own commands.
inline constexpr int kDialogResultExit = 0;
inline constexpr int kDialogResultOk = 1;      // the Enter key
inline constexpr int kDialogResultCancel = 2;  // the Escape key, the close box

// What a window's title starts with on a virtual machine.
inline constexpr char kVirtualMachineTitlePrefix[] = "[Virtual printer] ";

// "F/W Upgrade Utility for Windows 95/98 (V1.06)", or the demo title in
// Download Demo mode; on a virtual machine it starts with "[Virtual printer] ",
// so that nobody takes a run there for a real printer's upgrade. A printer
// named by the start-up follows: " - /dev/usb/lp0 (VP-1000)".
std::string dialog_title(bool demo, bool virtual_machine = false, const std::string& printer = {});

// The machine as the dialog's procedures reach it.
struct DialogServices {
    ParallelPorts& ports;
    ImageFiles& images;
    Clock& clock;
    LibraryLoader& loader;
    std::string library_path = kUsbPortLibraryPath;
    LeadByteTest is_lead_byte = system_lead_byte_test();
    std::string library_file = kUsbPortLibraryFile;  // as the message boxes name it
    // The virtual machine's file name when the machine is a virtual one; empty
    // on a real system.
    std::string virtual_machine = {};
    // The printer the dialog talks to, for the title, where the start-up knows
    // it; empty: the title names none.
    std::string printer = {};
    // Called after every download that sent its command, on the thread the
    // download ran on, with what it found and the status it ended with: the
    // program keeps its history from it. Empty: nothing is called.
    std::function<void(const RunFacts&, const std::string& status)> after_download = {};
    // The network printer the procedures reach instead of USB and the
    // parallel port; null: none was named.
    NetworkPrinter* network = nullptr;
};

// The main dialog's logic, independent of any window system. A front end
// creates its window, calls initialise() once the controls exist, and hands
// every button click to on_command(). The framework's own OK and cancel
// commands stay with the front end: they only end the dialog (with
// kDialogResultOk / kDialogResultCancel), never while busy().
class UpgradeDialog {
public:
    static constexpr int kResourceId = IDD_UPGRADE_DIALOG;

    UpgradeDialog(const UpgradeSettings& settings, const PlatformFlags& flags, DialogServices services);

    // Fills the texts and the title and binds the USB port library. False when
    // binding failed: the operator has been told and the dialog has been ended.
    bool initialise(DialogControls& controls);

    // A button click: 1000 download, 1001 Exit, 1002 verify. False for any other
    // id. A click while a procedure runs is ignored.
    bool on_command(int control_id, DialogControls& controls);

    void verify(DialogControls& controls);
    void download(DialogControls& controls);
    // Releases the USB port library and ends the dialog with kDialogResultExit.
    void exit(DialogControls& controls);

    // True while verify or download runs (a front end may run them on a worker
    // thread; it then refuses commands and closing until this turns false).
    bool busy() const { return busy_.load(); }

    const std::string& model_text() const { return model_text_; }
    const std::string& image_file_text() const { return image_file_text_; }
    const std::string& image_version_text() const { return image_version_text_; }
    const UpgradeSettings& settings() const { return settings_; }
    const PlatformFlags& flags() const { return flags_; }
    const UsbPortApi& usb() const { return usb_; }
    // What the procedures found out so far; read it only while none runs.
    const RunFacts& facts() const { return state_.facts; }

private:
    // False when a procedure was running already and this one did not start.
    template <class Procedure>
    bool run(DialogControls& controls, Procedure procedure);
    void show_texts(DialogControls& controls) const;

    const UpgradeSettings settings_;
    const PlatformFlags flags_;
    DialogServices services_;
    UsbPortApi usb_;
    TransferState state_;
    std::string model_text_;
    std::string image_file_text_;
    std::string image_version_text_;
    std::atomic<bool> busy_{false};
};

}  // namespace fwup
