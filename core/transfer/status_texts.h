#pragma once
#include <string>
#include <string_view>

// The texts the procedures show, byte for byte as the printer's operators know
// them (odd wording included).
namespace fwup::text {

// Status line.
inline constexpr char kDeviceNotResponding[] = "Device not responding...";
inline constexpr char kModelNotMatched[] = "Model not matched...!";
inline constexpr char kFailedToOpenLpt[] = "Failed to open LPT port";
inline constexpr char kFailedToSetCommState[] = "Failed to set Comm State";
inline constexpr char kWritingVersionCommandError[] = "Writing version command error...!";
inline constexpr char kReadingVersionDataError[] = "Reading version data error...!";
inline constexpr char kReadyToDownloadDemo[] = "Ready to download demo image...";
inline constexpr char kReadyToUpgrade[] = "Ready to upgrade...";
inline constexpr char kNoUpgradeRequired[] = "No Upgrade Required...!";
inline constexpr char kUpgradeNotNecessary[] = "Upgrade not necessary...!";
inline constexpr char kDemoImageTooBig[] = "Demo image file is too big for download..!";
inline constexpr char kWritingDownloadCommandError[] = "Writing download command error...!";
inline constexpr char kReadingCommandError[] = "Reading command error...!";
inline constexpr char kDemoNotSupported[] = "Your printer is not support Demo print!";
inline constexpr char kPrinterBusy[] = "Printer is busy...!";
inline constexpr char kDownloading[] = "Downloading...Do not turn off your printer.!";
inline constexpr char kErrorReadingFile[] = "Error reading file...!";
inline constexpr char kWritingDataError[] = "Writing data error...!";
inline constexpr char kWritingComplete[] = "Writing complete....Do not turn off until printer is initialized!";
// A network printer whose name does not resolve, and one that takes no connection.
inline constexpr char kNetworkPrinterNotFound[] = "Failed to find network printer";
inline constexpr char kFailedToConnectPrinter[] = "Failed to connect network printer";

// Every status text above, for a front end that sizes its status line to them.
inline constexpr const char* kStatusTexts[] = {
    kDeviceNotResponding,  kModelNotMatched,    kFailedToOpenLpt,
    kFailedToSetCommState, kWritingVersionCommandError, kReadingVersionDataError,
    kReadyToDownloadDemo,  kReadyToUpgrade,     kNoUpgradeRequired,
    kUpgradeNotNecessary,  kDemoImageTooBig,    kWritingDownloadCommandError,
    kReadingCommandError,  kDemoNotSupported,   kPrinterBusy,
    kDownloading,          kErrorReadingFile,   kWritingDataError,
    kWritingComplete,      kNetworkPrinterNotFound, kFailedToConnectPrinter,
};

// "File open error...(%s)" filled with the image file's name.
inline std::string file_open_error(std::string_view file) {
    return "File open error...(" + std::string(file) + ")";
}

// Message boxes.
inline constexpr char kConfirmUpgrade[] =
    "If upgrade to new firmware code, all configuration values are reset by default.\n"
    "Are you sure you want to upgrade?";
inline constexpr char kConfirmUpgradeCaption[] = "Confirm upgrade";
inline constexpr char kLastErrorCaption[] = "GetLastError()";

}  // namespace fwup::text
