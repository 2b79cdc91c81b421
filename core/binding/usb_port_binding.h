#pragma once
#include <string>
#include <string_view>

#include "core/binding/usb_port_api.h"
#include "core/dialog/dialog_controls.h"
#include "core/platform/platform_flags.h"

namespace fwup {

// Where the program looks for the USB port library: the current directory.
// Front ends on other systems pass their own name (for example "./libveltport.so").
inline constexpr char kUsbPortLibraryPath[] = ".\\veltport.dll";
// The library's file as the message boxes name it.
inline constexpr char kUsbPortLibraryFile[] = "veltport.dll";

inline constexpr char kBindingCaption[] = "F/W Upgrade Utility for Windows 95/98";

// "Can't find 'veltport.dll' file" and "Function inport failed from'veltport.dll' file",
// naming the given file instead where another system's library has another name.
std::string library_missing_text(std::string_view file);
std::string export_missing_text(std::string_view file);

enum class BindResult {
    NotNeeded,       // neither Windows 98 nor Windows 2000: LPT only
    Bound,           // all three exports in place
    LibraryMissing,  // reported, and the dialog ended
    ExportMissing,   // reported, and the dialog ended
};

// Exit: releases the USB port library if it is loaded and ends the dialog with result 0.
void exit_dialog(UsbPortApi& api, DialogControls& dialog);

// Loads the USB port library where the program reaches USB printers through it
// (Windows 98 and Windows 2000) and binds GetDeviceID, WriteToUsbPort and
// ReadFromUsbPort by name. A missing library or export is reported in a
// message box naming `file`, and ends the dialog through Exit.
BindResult bind_usb_port_library(const PlatformFlags& flags, LibraryLoader& loader, const std::string& path,
                                 UsbPortApi& api, DialogControls& dialog,
                                 std::string_view file = kUsbPortLibraryFile);

}  // namespace fwup
