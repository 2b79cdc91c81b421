#include "core/binding/usb_port_binding.h"

namespace fwup {
namespace {

template <class Function>
Function bind(LoadedLibrary& library, const char* name) {
    return reinterpret_cast<Function>(library.find_export(name));
}

}  // namespace

std::string library_missing_text(std::string_view file) {
    return "Can't find '" + std::string(file) + "' file";
}

std::string export_missing_text(std::string_view file) {
    return "Function inport failed from'" + std::string(file) + "' file";
}

void exit_dialog(UsbPortApi& api, DialogControls& dialog) {
    if (api.loaded()) api.release();
    dialog.end_dialog(0);
}

BindResult bind_usb_port_library(const PlatformFlags& flags, LibraryLoader& loader, const std::string& path,
                                 UsbPortApi& api, DialogControls& dialog, std::string_view file) {
    if (!flags.is_win98 && !flags.is_win2000 && !flags.is_vista_or_later) return BindResult::NotNeeded;

    api.library = loader.load(path);
    if (!api.loaded()) {
        dialog.message_box(library_missing_text(file), kBindingCaption, MessageIcon::Error);
        exit_dialog(api, dialog);
        return BindResult::LibraryMissing;
    }
    api.get_device_id = bind<GetDeviceIDFn>(*api.library, "GetDeviceID");
    api.write_to_usb_port = bind<WriteToUsbPortFn>(*api.library, "WriteToUsbPort");
    api.read_from_usb_port = bind<ReadFromUsbPortFn>(*api.library, "ReadFromUsbPort");
    if (!api.usable()) {
        dialog.message_box(export_missing_text(file), kBindingCaption, MessageIcon::Error);
        exit_dialog(api, dialog);
        return BindResult::ExportMissing;
    }
    return BindResult::Bound;
}

}  // namespace fwup
