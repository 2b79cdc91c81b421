// probe.exe: looks at and operates another program's windows the way an
// operator would, for the tests of fwupgrade.exe under Wine.
//
//   probe dump TITLE [MS]             wait for the window, list it and its controls
//   probe click TITLE ID [MS]         press an enabled, visible button (BM_CLICK)
//   probe close TITLE [MS]            ask the window to close (WM_CLOSE)
//   probe key TITLE escape|enter [MS] press a key in the window's focused control
//   probe try-close TITLE [MS]        all of it at once: Exit (1001) if it is
//                                     enabled, the close box, Escape
//   probe wait-text TITLE ID TEXT [MS]    until control ID shows TEXT
//   probe wait-gone TITLE [MS]        until no window has this title
//   probe responsive TITLE MS         the window's thread answers within MS
//   probe screenshot TITLE FILE.png [MS]  the window as it is on the screen
//   probe text-width TITLE ID PROGRAM.exe TEXT...  for each TEXT, the width
//                                     it takes in control ID's font (WM_GETFONT)
//                                     against the control's width, as
//                                     "fits|cut WIDTH/LINE TEXT"
//   probe open-file PATH read|write   open a file from a second handle, as
//                                     another program would: "opened", or
//                                     "refused ERROR" with the system's code
//
// TITLE is a top-level window's whole title. MS is how long to wait for it
// (default 10000). Exit status 0 when done, 1 when not, 2 on bad usage.
// FWUP_PROBE_TIME_SCALE=N (a whole number, default 1) makes every wait and
// every time allowed for an answer N times as long, for a machine that runs
// the other program that many times slower; "responsive" keeps its limit.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultWait = 10000;
constexpr DWORD kPoll = 50;
constexpr UINT kAnswerTime = 2000;  // for each message sent to the other program

DWORD scaled(DWORD ms) {
    static const DWORD scale = [] {
        const char* text = std::getenv("FWUP_PROBE_TIME_SCALE");
        const unsigned long value = text != nullptr ? std::strtoul(text, nullptr, 10) : 1;
        return value >= 1 && value <= 100 ? static_cast<DWORD>(value) : DWORD{1};
    }();
    return ms * scale;
}

struct Found {
    std::string title;
    HWND window = nullptr;
};

BOOL CALLBACK match_title(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<Found*>(param);
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    if (found->title == text && IsWindowVisible(window)) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND find_window(const std::string& title) {
    Found found{title};
    EnumWindows(&match_title, reinterpret_cast<LPARAM>(&found));
    return found.window;
}

HWND wait_window(const std::string& title, DWORD wait) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = find_window(title)) return window;
        if (GetTickCount() - start >= wait) return nullptr;
        Sleep(kPoll);
    }
}

// Another program's control text: WM_GETTEXT is carried across processes.
std::string text_of(HWND window) {
    char text[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             scaled(kAnswerTime), &length)) {
        return "<no answer>";
    }
    return std::string(text, static_cast<std::size_t>(length));
}

std::string class_of(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Backslash escapes for the control characters, so one control is one line.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

LRESULT ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, scaled(kAnswerTime), &result);
    return static_cast<LRESULT>(result);
}

// The control's pixels as they are on the screen, 32 bits each.
std::vector<std::uint32_t> capture(HDC source, int x, int y, int width, int height) {
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

// Which of the system's message-box icons a static icon control shows. Icon
// handles do not cross processes, so this compares pixels: each candidate is
// drawn on the control's background (its top-left pixel, outside the icon's
// shape) and compared with the control as it is on the screen.
const char* icon_seen(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return "none";
    HDC screen = GetDC(nullptr);
    const std::vector<std::uint32_t> shown = capture(screen, r.left, r.top, width, height);
    struct Known {
        LPCSTR id;
        const char* name;
    };
    const Known known[] = {{IDI_HAND, "error"}, {IDI_ASTERISK, "information"}, {IDI_QUESTION, "question"},
                           {IDI_EXCLAMATION, "warning"}};
    const char* found = "other";
    for (const Known& k : known) {
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        const std::vector<std::uint32_t> plain(shown.size(), shown.front());
        SetDIBits(memory, bitmap, 0, static_cast<UINT>(height), plain.data(), &info, DIB_RGB_COLORS);
        DrawIconEx(memory, 0, 0, LoadIconA(nullptr, k.id), 0, 0, 0, nullptr, DI_NORMAL);
        const std::vector<std::uint32_t> drawn = capture(memory, 0, 0, width, height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        if (drawn == shown) {
            found = k.name;
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    return found;
}

// A box that has only just appeared may not have painted its icon yet.
const char* icon_name(HWND control) {
    const char* name = "other";
    for (int attempt = 0; attempt < 20; ++attempt) {
        name = icon_seen(control);
        if (std::strcmp(name, "other") != 0 && std::strcmp(name, "none") != 0) break;
        Sleep(100);
    }
    return name;
}

struct Listing {
    std::vector<HWND> controls;
};

BOOL CALLBACK collect(HWND control, LPARAM param) {
    auto* listing = reinterpret_cast<Listing*>(param);
    listing->controls.push_back(control);
    return TRUE;
}

void dump(HWND window) {
    const HWND owner = GetWindow(window, GW_OWNER);
    std::printf("window title=%s class=%s style=0x%08lx owner=%s enabled=%d visible=%d\n",
                quoted(text_of(window)).c_str(), class_of(window).c_str(),
                static_cast<unsigned long>(static_cast<std::uint32_t>(GetWindowLongPtrA(window, GWL_STYLE))),
                owner == nullptr ? "none" : quoted(text_of(owner)).c_str(), IsWindowEnabled(window) ? 1 : 0,
                IsWindowVisible(window) ? 1 : 0);
    Listing listing;
    EnumChildWindows(window, &collect, reinterpret_cast<LPARAM>(&listing));
    for (HWND control : listing.controls) {
        if (GetParent(control) != window) continue;
        const std::string cls = class_of(control);
        const auto style = static_cast<unsigned long>(static_cast<std::uint32_t>(GetWindowLongPtrA(control, GWL_STYLE)));
        std::printf("control id=%d class=%s text=%s enabled=%d visible=%d style=0x%08lx",
                    static_cast<int>(static_cast<short>(GetDlgCtrlID(control))), cls.c_str(),
                    quoted(text_of(control)).c_str(), IsWindowEnabled(control) ? 1 : 0,
                    IsWindowVisible(control) ? 1 : 0, style);
        if (lstrcmpiA(cls.c_str(), PROGRESS_CLASSA) == 0) {
            std::printf(" range=%ld..%ld pos=%ld", static_cast<long>(ask(control, PBM_GETRANGE, TRUE, 0)),
                        static_cast<long>(ask(control, PBM_GETRANGE, FALSE, 0)),
                        static_cast<long>(ask(control, PBM_GETPOS, 0, 0)));
        }
        if (lstrcmpiA(cls.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
            std::printf(" icon=%s", icon_name(control));
        }
        std::printf("\n");
    }
}

// A 24-bit PNG with stored (uncompressed) deflate blocks: no library needed.
class PngWriter {
public:
    static bool write(const char* path, int width, int height, const std::vector<std::uint8_t>& rgb) {
        std::vector<std::uint8_t> raw;
        const auto row = static_cast<std::size_t>(width) * 3;
        for (int y = 0; y < height; ++y) {
            raw.push_back(0);  // filter: none
            const auto* begin = rgb.data() + static_cast<std::size_t>(y) * row;
            raw.insert(raw.end(), begin, begin + row);
        }
        std::vector<std::uint8_t> z = {0x78, 0x01};
        for (std::size_t at = 0; at < raw.size() || at == 0;) {
            const std::size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
            z.push_back(at + n == raw.size() ? 1 : 0);
            z.push_back(static_cast<std::uint8_t>(n & 0xff));
            z.push_back(static_cast<std::uint8_t>(n >> 8));
            z.push_back(static_cast<std::uint8_t>(~n & 0xff));
            z.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xff));
            z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                     raw.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
            if (n == 0) break;
        }
        std::uint32_t a = 1, b = 0;
        for (const std::uint8_t byte : raw) {
            a = (a + byte) % 65521;
            b = (b + a) % 65521;
        }
        put32(z, (b << 16) | a);

        std::vector<std::uint8_t> header;
        put32(header, static_cast<std::uint32_t>(width));
        put32(header, static_cast<std::uint32_t>(height));
        header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB

        std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        chunk(file, "IHDR", header);
        chunk(file, "IDAT", z);
        chunk(file, "IEND", {});
        FILE* out = std::fopen(path, "wb");
        if (out == nullptr) return false;
        const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
        return std::fclose(out) == 0 && ok;
    }

private:
    static void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    static std::uint32_t crc(const std::vector<std::uint8_t>& data) {
        std::uint32_t c = 0xffffffffu;
        for (const std::uint8_t byte : data) {
            c ^= byte;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
        }
        return ~c;
    }
    static void chunk(std::vector<std::uint8_t>& file, const char* type, const std::vector<std::uint8_t>& data) {
        put32(file, static_cast<std::uint32_t>(data.size()));
        std::vector<std::uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        file.insert(file.end(), body.begin(), body.end());
        put32(file, crc(body));
    }
};

bool screenshot(HWND window, const char* path) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), bgra.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height) return false;
    std::vector<std::uint8_t> rgb;
    rgb.reserve(bgra.size() / 4 * 3);
    for (std::size_t i = 0; i < bgra.size(); i += 4) {
        rgb.push_back(bgra[i + 2]);
        rgb.push_back(bgra[i + 1]);
        rgb.push_back(bgra[i]);
    }
    return PngWriter::write(path, width, height, rgb);
}

INT_PTR CALLBACK quiet_dialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Exit status 0 when every text fits the control's width, 1 otherwise. A font
// handle belongs to the program that made it, so the control's font is read
// (WM_GETFONT) from a copy of the same dialog made here from the program's own
// template; the copy's line must be as wide as the running program's.
int text_widths(HWND live, const char* program, int count, char** texts) {
    HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("probe: cannot load %s\n", program);
        return 1;
    }
    const int id = GetDlgCtrlID(live);
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);  // the template holds a progress bar
    HWND copy = CreateDialogParamA(module, MAKEINTRESOURCEA(101), nullptr, &quiet_dialog, 0);
    HWND control = copy != nullptr ? GetDlgItem(copy, id) : nullptr;
    const auto font = control != nullptr ? reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)) : nullptr;
    int status = 0;
    if (font == nullptr) {
        std::printf("probe: no font for control %d\n", id);
        status = 1;
    } else {
        RECT client{}, live_client{};
        GetClientRect(control, &client);
        GetClientRect(live, &live_client);
        const LONG line = client.right - client.left;
        LOGFONTA description{};
        GetObjectA(font, sizeof description, &description);
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, font);
        TEXTMETRICA metrics{};
        GetTextMetricsA(dc, &metrics);
        std::printf("font face=%s height=%ld average=%ld line=%ld running-line=%ld\n",
                    quoted(description.lfFaceName).c_str(), static_cast<long>(metrics.tmHeight),
                    static_cast<long>(metrics.tmAveCharWidth), static_cast<long>(line),
                    static_cast<long>(live_client.right - live_client.left));
        if (live_client.right - live_client.left != line) status = 1;
        for (int i = 0; i < count; ++i) {
            SIZE size{};
            GetTextExtentPoint32A(dc, texts[i], static_cast<int>(std::strlen(texts[i])), &size);
            const bool fits = size.cx <= line;
            if (!fits) status = 1;
            std::printf("%s %ld/%ld %s\n", fits ? "fits" : "cut", static_cast<long>(size.cx),
                        static_cast<long>(line), quoted(texts[i]).c_str());
        }
        SelectObject(dc, old);
        ReleaseDC(control, dc);
    }
    if (copy != nullptr) DestroyWindow(copy);
    FreeLibrary(module);
    return status;
}

// Keys go to the control that has the focus, where the dialog's own keyboard
// handling sees them.
void press_key(HWND window, WPARAM vk) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HWND target = GetGUIThreadInfo(thread, &gui) && gui.hwndFocus != nullptr ? gui.hwndFocus : window;
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

DWORD wait_arg(int argc, char** argv, int index) {
    return scaled(argc > index ? static_cast<DWORD>(std::strtoul(argv[index], nullptr, 10)) : kDefaultWait);
}

int fail(const char* what, const std::string& detail) {
    std::printf("probe: %s: %s\n", what, detail.c_str());
    return 1;
}

int usage() {
    std::printf(
        "usage: probe dump|click|close|key|try-close|wait-text|wait-gone|responsive|screenshot|text-width TITLE "
        "...\n       probe open-file PATH read|write\n");
    return 2;
}

// Whether another program could open the file now, sharing everything.
int open_file(const char* path, const std::string& mode) {
    const DWORD access = mode == "write" ? GENERIC_WRITE : GENERIC_READ;
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("refused %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(file);
    std::printf("opened\n");
    return 0;
}

int run(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    const std::string title = argv[2];
    if (command == "open-file") return argc >= 4 ? open_file(argv[2], argv[3]) : usage();

    if (command == "wait-gone") {
        const DWORD wait = wait_arg(argc, argv, 3);
        const DWORD start = GetTickCount();
        while (find_window(title) != nullptr) {
            if (GetTickCount() - start >= wait) return fail("still open", quoted(title));
            Sleep(kPoll);
        }
        return 0;
    }

    DWORD wait = scaled(kDefaultWait);
    if (command == "click" || command == "key" || command == "screenshot") wait = wait_arg(argc, argv, 4);
    if (command == "dump" || command == "close" || command == "try-close") wait = wait_arg(argc, argv, 3);
    if (command == "wait-text") wait = wait_arg(argc, argv, 5);
    HWND window = wait_window(title, wait);
    if (window == nullptr) return fail("no window", quoted(title));

    if (command == "dump") {
        dump(window);
        return 0;
    }
    if (command == "click" && argc >= 4) {
        HWND button = GetDlgItem(window, std::atoi(argv[3]));
        if (button == nullptr) return fail("no control", argv[3]);
        if (!IsWindowEnabled(button) || !IsWindowVisible(button)) return fail("not clickable", argv[3]);
        PostMessageA(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == "close") {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (command == "key" && argc >= 4) {
        const std::string key = argv[3];
        const WPARAM vk = key == "escape" ? VK_ESCAPE : key == "enter" ? VK_RETURN : 0;
        if (vk == 0) return usage();
        press_key(window, vk);
        return 0;
    }
    if (command == "try-close") {
        HWND exit_button = GetDlgItem(window, 1001);
        if (exit_button != nullptr && IsWindowEnabled(exit_button)) PostMessageA(exit_button, BM_CLICK, 0, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
        press_key(window, VK_ESCAPE);
        return 0;
    }
    if (command == "wait-text" && argc >= 5) {
        HWND control = GetDlgItem(window, std::atoi(argv[3]));
        if (control == nullptr) return fail("no control", argv[3]);
        const DWORD start = GetTickCount();
        for (;;) {
            const std::string shown = text_of(control);
            if (shown == argv[4]) return 0;
            if (GetTickCount() - start >= wait) return fail("control shows", quoted(shown));
            Sleep(kPoll);
        }
    }
    if (command == "responsive" && argc >= 4) {
        const auto limit = static_cast<UINT>(std::strtoul(argv[3], nullptr, 10));
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, limit, &result)) {
            return fail("no answer within ms", argv[3]);
        }
        return 0;
    }
    if (command == "text-width" && argc >= 6) {
        HWND control = GetDlgItem(window, std::atoi(argv[3]));
        if (control == nullptr) return fail("no control", argv[3]);
        return text_widths(control, argv[4], argc - 5, argv + 5);
    }
    if (command == "screenshot" && argc >= 4) {
        SetForegroundWindow(window);
        Sleep(200);  // let it repaint
        return screenshot(window, argv[3]) ? 0 : fail("screenshot failed", argv[3]);
    }
    return usage();
}

}  // namespace

int main(int argc, char** argv) {
    const int status = run(argc, argv);
    std::fflush(stdout);
    return status;
}
