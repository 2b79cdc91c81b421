#include "core/devices/device_choice.h"

#include <algorithm>

namespace fwup {

namespace {

std::string trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

// ASCII letters only, as section names and ID keys are: the C runtime's
// toupper is not in every Windows runtime's list of what the programs import.
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_letters(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

// Section names are matched as the profile reader reads them, in any letter case.
bool names(const DeviceAddress& wanted, const std::optional<DeviceAddress>& address) {
    if (!address || address->kind != wanted.kind) return false;
    return wanted.kind == DeviceAddress::Kind::VirtualSection ? same_letters(wanted.text, address->text)
                                                              : wanted.text == address->text;
}

std::string listing(const std::vector<const AttachedPrinter*>& printers) {
    std::string text;
    for (const AttachedPrinter* printer : printers) {
        if (!text.empty()) text += ", ";
        text += describe(*printer);
    }
    return text;
}

}  // namespace

std::string model_of(std::string_view identification) {
    while (!identification.empty()) {
        const std::size_t end = std::min(identification.find(';'), identification.size());
        const std::string_view field = identification.substr(0, end);
        identification.remove_prefix(std::min(end + 1, identification.size()));
        const std::size_t colon = field.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string key = trimmed(field.substr(0, colon));
        if (same_letters(key, "MDL") || same_letters(key, "MODEL")) return trimmed(field.substr(colon + 1));
    }
    return {};
}

std::string describe(const AttachedPrinter& printer) {
    const std::string model = printer.identification ? model_of(*printer.identification) : std::string();
    return model.empty() ? printer.device : printer.device + " (" + model + ")";
}

std::string DeviceChoice::printer_text() const {
    if (!printer) return {};
    std::string text = describe(*printer);
    if (outcome == Outcome::FirstOfSeveral) text += "; " + message;
    return text;
}

DeviceChoice choose_device(const std::vector<AttachedPrinter>& printers, const std::optional<DeviceAddress>& wanted,
                           DeviceIntent intent, std::string_view how_to_choose) {
    DeviceChoice choice;
    std::vector<const AttachedPrinter*> usb;
    for (const AttachedPrinter& printer : printers) {
        if (printer.usb()) usb.push_back(&printer);
    }
    choice.usb_count = usb.size();
    const std::string how(how_to_choose);

    if (wanted && wanted->kind == DeviceAddress::Kind::Network) {
        // Nothing lists the network: the address names the printer by itself.
        choice.outcome = DeviceChoice::Outcome::Chosen;
        choice.printer = AttachedPrinter{"NET", wanted->display(), wanted, {}, {}, true, {}};
        return choice;
    }
    if (wanted) {
        const auto named = std::find_if(printers.begin(), printers.end(),
                                        [&](const AttachedPrinter& p) { return names(*wanted, p.address); });
        choice.outcome = DeviceChoice::Outcome::Refused;
        if (named == printers.end()) {
            choice.message = how + " " + wanted->display() + " names no printer; " +
                             (usb.empty() ? std::string("no USB printer is attached")
                                          : "the USB printers attached: " + listing(usb));
        } else if (!named->usb() && !named->network()) {
            // A parallel port's printer is reached through the settings' LPT
            // port, never by name: taking the name would silently reach the USB one.
            choice.message = how + " " + wanted->display() + " names the printer on " + named->port + "; " + how +
                             " chooses a USB printer, the parallel port is the settings' LPT";
        } else {
            choice.outcome = DeviceChoice::Outcome::Chosen;
            choice.printer = *named;
        }
        return choice;
    }
    if (usb.empty()) return choice;
    if (usb.size() == 1) {
        choice.outcome = DeviceChoice::Outcome::Only;
        choice.printer = *usb.front();
        return choice;
    }
    if (intent == DeviceIntent::Upgrade) {
        choice.outcome = DeviceChoice::Outcome::Refused;
        choice.message = std::to_string(usb.size()) + " USB printers are attached (" + listing(usb) +
                         "): say which one to upgrade with " + how + "; nothing was sent";
        return choice;
    }
    // The library takes the first that opens; one in use by another program does not.
    const auto first = std::find_if(usb.begin(), usb.end(), [](const AttachedPrinter* p) { return p->answers; });
    choice.outcome = DeviceChoice::Outcome::FirstOfSeveral;
    choice.printer = **(first == usb.end() ? usb.begin() : first);
    choice.message = "the first that opens of " + std::to_string(usb.size()) + " USB printers; choose one with " + how;
    return choice;
}

}  // namespace fwup
