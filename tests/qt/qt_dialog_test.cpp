// The Linux dialog on Qt's offscreen platform: the program's procedures run
// against virtual printers (a virtual machine on a virtual clock) and the test
// works the window as an operator would, answering its message boxes.
#include <QAbstractButton>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/dialog/upgrade_app.h"
#include "core/dialog/upgrade_dialog.h"
#include "programs/qt/qt_dialog_window.h"
#include "sim/machine/virtual_machine.h"
#include "core/transfer/status_texts.h"

namespace fwup {
namespace {

// Answers every message box as it opens (Yes to a question, OK otherwise, or
// what the test asks for), after letting the test look at the program while
// the box is up. Records each box.
class MessageBoxes {
public:
    struct Box {
        QString text;
        QString caption;
        QMessageBox::Icon icon;
        bool owned;
    };

    MessageBoxes() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer_open_box(); });
        timer_.start();
    }

    QMessageBox::StandardButton question_answer = QMessageBox::Yes;
    std::function<void()> while_open;  // once per box, before it is answered
    std::vector<Box> boxes;

private:
    void answer_open_box() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return;
        boxes.push_back({box->text(), box->windowTitle(), box->icon(), box->parentWidget() != nullptr});
        if (while_open) while_open();
        QAbstractButton* button = box->button(QMessageBox::Ok);
        if (button == nullptr) button = box->button(question_answer);
        if (button != nullptr) button->click();
    }

    QTimer timer_;
};

// Holds the procedure in its first wait until the test opens the gate.
class GateClock final : public Clock {
public:
    explicit GateClock(Clock& inner) : inner_(inner) {}
    void sleep_ms(std::uint32_t ms) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            waiting = true;
            opened_.wait(lock, [this] { return open_; });
        }
        inner_.sleep_ms(ms);
    }
    std::uint32_t tick_ms() override { return inner_.tick_ms(); }
    void open() {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    std::atomic<bool> waiting{false};

private:
    Clock& inner_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Calls `on_sleep` on the procedure's thread before each wait.
class WatchClock final : public Clock {
public:
    explicit WatchClock(Clock& inner) : inner_(inner) {}
    void sleep_ms(std::uint32_t ms) override {
        if (on_sleep) on_sleep(ms);
        inner_.sleep_ms(ms);
    }
    std::uint32_t tick_ms() override { return inner_.tick_ms(); }
    std::function<void(std::uint32_t)> on_sleep;

private:
    Clock& inner_;
};

sim::PrinterSetup printer(int lpt, const std::string& model = "VP-1000", const std::string& version = "100") {
    sim::PrinterSetup setup;
    setup.section = lpt == 0 ? "USB" : "LPT";
    setup.lpt = lpt;
    setup.printer.device_id = "MFG:Virtual;CMD:PJL;MODEL:" + model + ";CLS:PRINTER;";
    setup.printer.version = version;
    return setup;
}

sim::MachineConfig machine(std::vector<sim::PrinterSetup> printers) {
    sim::MachineConfig config;
    config.clock = sim::ClockKind::Virtual;
    config.printers = std::move(printers);
    return config;
}

std::string write_image(const QTemporaryDir& dir, const char* name, std::size_t size) {
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 7 + i / 8192) & 0xFF));
    return path;
}

// The program around one dialog: a virtual machine, the dialog's logic and window.
class Program {
public:
    Program(const sim::MachineConfig& config, UpgradeSettings settings, Clock* clock = nullptr) {
        std::string error;
        machine_ = sim::VirtualMachine::create(config, error);
        if (!machine_) qFatal("virtual machine: %s", error.c_str());
        DialogServices services{machine_->parallel_ports(), machine_->image_files(),
                                clock != nullptr ? *clock : machine_->clock(), machine_->library_loader()};
        logic_ = std::make_unique<UpgradeDialog>(settings, detect_platform(machine_->os_version()), services);
        window_ = std::make_unique<QtDialogWindow>(*logic_);
    }

    // The program on a clock that wraps the machine's own.
    Program(const sim::MachineConfig& config, UpgradeSettings settings, std::function<Clock&(Clock&)> wrap) {
        std::string error;
        machine_ = sim::VirtualMachine::create(config, error);
        if (!machine_) qFatal("virtual machine: %s", error.c_str());
        DialogServices services{machine_->parallel_ports(), machine_->image_files(), wrap(machine_->clock()),
                                machine_->library_loader()};
        logic_ = std::make_unique<UpgradeDialog>(settings, detect_platform(machine_->os_version()), services);
        window_ = std::make_unique<QtDialogWindow>(*logic_);
    }

    QtDialogWindow& window() { return *window_; }
    sim::VirtualMachine& vm() { return *machine_; }

    void click(int id) { QTest::mouseClick(window_->control(id), Qt::LeftButton); }
    bool finished() { return QTest::qWaitFor([this] { return !window_->busy(); }, 20000); }
    QString text(int id) {
        QWidget* control = window_->control(id);
        if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
        if (auto* button = qobject_cast<QPushButton*>(control)) return button->text();
        return {};
    }
    bool enabled(int id) { return window_->control(id)->isEnabled(); }
    bool visible(int id) { return window_->control(id)->isVisible(); }

private:
    std::unique_ptr<sim::VirtualMachine> machine_;
    std::unique_ptr<UpgradeDialog> logic_;
    std::unique_ptr<QtDialogWindow> window_;
};

UpgradeSettings settings_for(const std::string& image, std::int32_t demo = 0) {
    UpgradeSettings settings;
    settings.model_name = "VP-1000";
    settings.firmware_file = image;
    settings.file_version = 106;
    settings.demo = demo;
    return settings;
}

}  // namespace

class QtDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(images_.isValid()); }

    void has_the_templates_layout_and_initial_state() {
        MessageBoxes boxes;
        Program program(machine({}), settings_for("fw.bin"));
        QtDialogWindow& window = program.window();
        QVERIFY(window.start());
        const DialogUnits& u = window.units();
        QVERIFY(u.base_x > 0 && u.base_y > 0);
        QCOMPARE(window.size(), QSize(u.x(210), u.y(157)));
        QCOMPARE(window.windowTitle(), QStringLiteral("F/W Upgrade Utility for Windows 95/98 (V1.06)"));

        struct Row {
            int id;
            QString text;
            int x, y, w, h;
            bool enabled;
            bool shown;
        };
        const std::vector<Row> rows{
            {IDC_EXIT, "Exit", 117, 113, 70, 14, true, true},
            {IDC_UPGRADE_NOW, "Upgrade Now", 25, 113, 70, 14, false, true},
            {IDC_VERIFY, "Verify Information", 37, 85, 139, 15, true, true},
            {IDC_MODEL_NAME, "VP-1000", 96, 19, 80, 8, true, true},
            {IDC_FW_FILE, "fw.bin", 96, 32, 80, 8, true, true},
            {IDC_FILE_VERSION, "1.06", 96, 45, 80, 8, true, true},
            {IDC_FW_VERSION, "...", 96, 58, 80, 8, true, true},
            {IDC_STATUS, "", 13, 143, 186, 8, true, true},
            {IDC_PROGRESS, "", 37, 85, 139, 15, true, false},
        };
        for (const Row& row : rows) {
            QWidget* control = window.control(row.id);
            QVERIFY2(control != nullptr, qPrintable(QString::number(row.id)));
            QCOMPARE(control->geometry(), QRect(u.x(row.x), u.y(row.y), u.x(row.w), u.y(row.h)));
            QCOMPARE(program.text(row.id), row.text);
            QCOMPARE(control->isEnabled(), row.enabled);
            QCOMPARE(control->isVisible(), row.shown);
        }
        // The progress bar lies exactly over "Verify Information".
        QCOMPARE(window.control(IDC_PROGRESS)->geometry(), window.control(IDC_VERIFY)->geometry());

        const auto labels = window.findChildren<QLabel*>();
        QStringList captions;
        for (const QLabel* label : labels) captions << label->text();
        for (const char* caption : {"Model Name:", "F/W File:", "File Version:", "F/W Version:"}) {
            QVERIFY2(captions.contains(QString::fromLatin1(caption)), caption);
        }
        const auto frames = window.findChildren<QGroupBox*>();
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.front()->geometry(), QRect(u.x(5), u.y(137), u.x(200), u.y(17)));
        QCOMPARE(window.palette().color(QPalette::Window), QColor(192, 192, 192));
        QVERIFY(!window.windowIcon().pixmap(32, 32).isNull());  // the program's icon

        // Tab order: Exit, Upgrade Now, Verify Information (the disabled one is passed over).
        QWidget* focusable = window.control(IDC_EXIT);
        std::vector<QWidget*> order;
        for (int i = 0; i < 3; ++i) {
            do {
                focusable = focusable->nextInFocusChain();
            } while (focusable->focusPolicy() == Qt::NoFocus);
            order.push_back(focusable);
        }
        QCOMPARE(order[0], window.control(IDC_UPGRADE_NOW));
        QCOMPARE(order[1], window.control(IDC_VERIFY));
        QCOMPARE(order[2], window.control(IDC_EXIT));
        QVERIFY(boxes.boxes.empty());
    }

    void verify_then_upgrade_over_usb_ends_the_program() {
        MessageBoxes boxes;
        const std::string image = write_image(images_, "fw.bin", 20'000);
        std::unique_ptr<WatchClock> clock;
        Program program(machine({printer(0)}), settings_for(image), [&](Clock& inner) -> Clock& {
            clock = std::make_unique<WatchClock>(inner);
            return *clock;
        });
        // What the bar shows through the wait after "Writing complete".
        struct Seen {
            bool shown = false;
            int value = -1;
            int maximum = -1;
            QString status;
        } during_wait;
        clock->on_sleep = [&](std::uint32_t ms) {
            if (ms != 20'000) return;
            QMetaObject::invokeMethod(
                &program.window(),
                [&] {
                    auto* bar = static_cast<QProgressBar*>(program.window().control(IDC_PROGRESS));
                    during_wait = {bar->isVisible(), bar->value(), bar->maximum(), program.text(IDC_STATUS)};
                },
                Qt::BlockingQueuedConnection);
        };
        QVERIFY(program.window().start());

        program.click(IDC_VERIFY);
        QVERIFY(program.finished());
        QCOMPARE(program.text(IDC_STATUS), QString::fromLatin1(text::kReadyToUpgrade));
        QCOMPARE(program.text(IDC_FW_VERSION), QStringLiteral("1.00"));
        QVERIFY(program.enabled(IDC_UPGRADE_NOW));

        bool progress_shown_during_question = false;
        boxes.while_open = [&] { progress_shown_during_question = program.visible(IDC_PROGRESS); };
        program.click(IDC_UPGRADE_NOW);
        QVERIFY(program.finished());
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Confirm upgrade"));
        QCOMPARE(boxes.boxes[0].text, QString::fromLatin1(text::kConfirmUpgrade));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Question);
        QVERIFY(boxes.boxes[0].owned);
        QVERIFY(progress_shown_during_question);

        QCOMPARE(program.text(IDC_STATUS), QString::fromLatin1(text::kWritingComplete));
        QCOMPARE(during_wait.status, QString::fromLatin1(text::kWritingComplete));
        QVERIFY(during_wait.shown);
        QCOMPARE(during_wait.maximum, 200);
        QCOMPARE(during_wait.value, 200);  // the whole image went: a full bar
        QVERIFY(!program.visible(IDC_PROGRESS));
        QVERIFY(program.window().ended());
        QCOMPARE(program.window().end_result(), kDialogResultExit);
        QCOMPARE(program.vm().printer(0).image_bytes(), std::uint64_t{20'000});
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void answering_no_leaves_the_progress_bar_at_zero() {
        MessageBoxes boxes;
        boxes.question_answer = QMessageBox::No;
        const std::string image = write_image(images_, "fw.bin", 100);
        Program program(machine({printer(0)}), settings_for(image));
        QVERIFY(program.window().start());
        program.click(IDC_VERIFY);
        QVERIFY(program.finished());
        program.click(IDC_UPGRADE_NOW);
        QVERIFY(program.finished());
        QVERIFY(program.visible(IDC_PROGRESS));
        QCOMPARE(static_cast<QProgressBar*>(program.window().control(IDC_PROGRESS))->value(), 0);
        QVERIFY(!program.window().ended());
        QCOMPARE(program.vm().printer(0).image_bytes(), std::uint64_t{0});
    }

    void demo_download_keeps_the_dialog_open() {
        MessageBoxes boxes;
        const std::string image = write_image(images_, "demo.bin", 30'000);
        Program program(machine({printer(0)}), settings_for(image, 1));
        QVERIFY(program.window().start());
        program.click(IDC_VERIFY);
        QVERIFY(program.finished());
        QCOMPARE(program.text(IDC_STATUS), QString::fromLatin1(text::kReadyToDownloadDemo));
        program.click(IDC_UPGRADE_NOW);
        QVERIFY(program.finished());
        QVERIFY(boxes.boxes.empty());  // no confirmation in Download Demo mode
        QCOMPARE(program.text(IDC_STATUS), QString::fromLatin1(text::kWritingComplete));
        QVERIFY(!program.window().ended());
        // An NT-class system: the button is usable again after a transfer.
        QVERIFY(program.enabled(IDC_UPGRADE_NOW));
        QVERIFY(program.enabled(IDC_EXIT));
        QVERIFY(program.enabled(IDC_VERIFY));
        QCOMPARE(program.vm().printer(0).image_bytes(), std::uint64_t{30'000});
    }

    void each_failure_is_shown_in_the_status_line_data() {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < failures().size(); ++i) {
            QTest::newRow(failures()[i].name) << static_cast<int>(i);
        }
    }

    void each_failure_is_shown_in_the_status_line() {
        QFETCH(int, row);
        const Failure& failure = failures()[static_cast<std::size_t>(row)];
        MessageBoxes boxes;
        sim::MachineConfig config = machine({});
        UpgradeSettings settings = settings_for(write_image(images_, "fw.bin", 20'000));
        failure.setup(config, settings, images_);
        Program program(config, settings);
        QVERIFY(program.window().start());
        program.click(IDC_VERIFY);
        QVERIFY(program.finished());
        if (failure.after_download) {
            QVERIFY(program.enabled(IDC_UPGRADE_NOW));
            program.click(IDC_UPGRADE_NOW);
            QVERIFY(program.finished());
        }
        QCOMPARE(program.text(IDC_STATUS), QString::fromStdString(failure.status));
        QVERIFY(!program.window().ended());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        if (failure.error_box) {
            QVERIFY(!boxes.boxes.empty());
            QCOMPARE(boxes.boxes.back().caption, QString::fromLatin1(text::kLastErrorCaption));
            QCOMPARE(boxes.boxes.back().icon, QMessageBox::Information);
            QVERIFY(!boxes.boxes.back().owned);
        }
        QCOMPARE(program.vm().open_lpt_ports() + program.vm().open_usb_handles() + program.vm().open_image_files(), 0);
    }

    void no_command_and_no_close_while_a_procedure_runs() {
        MessageBoxes boxes;
        const std::string image = write_image(images_, "fw.bin", 100);
        sim::MachineConfig config = machine({printer(0)});
        std::unique_ptr<GateClock> gate;
        std::string error;
        // The gate wraps the machine's own virtual clock, so the program is built by hand.
        auto vm = sim::VirtualMachine::create(config, error);
        QVERIFY(vm != nullptr);
        gate = std::make_unique<GateClock>(vm->clock());
        DialogServices services{vm->parallel_ports(), vm->image_files(), *gate, vm->library_loader()};
        UpgradeDialog logic(settings_for(image), detect_platform(vm->os_version()), services);
        QtDialogWindow window(logic);
        QVERIFY(window.start());

        QTest::mouseClick(window.control(IDC_VERIFY), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return gate->waiting.load(); }, 10000));
        // The procedure waits on its worker; the window is serviced meanwhile.
        QVERIFY(window.busy());
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        bool timer_fired = false;
        QTimer::singleShot(0, [&] { timer_fired = true; });
        QVERIFY(QTest::qWaitFor([&] { return timer_fired; }, 5000));
        QVERIFY(!window.grab().isNull());

        window.close();
        QTest::keyClick(&window, Qt::Key_Escape);
        window.reject();
        window.accept();
        QTest::mouseClick(window.control(IDC_EXIT), Qt::LeftButton);
        QTest::mouseClick(window.control(IDC_VERIFY), Qt::LeftButton);  // under the wait, still there
        QVERIFY(!window.may_end_session());  // a logout does not cut the procedure short
        QVERIFY(window.isVisible());
        QVERIFY(!window.ended());
        QVERIFY(logic.usb().loaded());

        gate->open();
        QVERIFY(QTest::qWaitFor([&] { return !window.busy(); }, 20000));
        QCOMPARE(vm->printer(0).commands().size(), std::size_t{1});  // one verify ran, not two
        QCOMPARE(static_cast<QLabel*>(window.control(IDC_STATUS))->text(), QString::fromLatin1(text::kReadyToUpgrade));
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        // Idle again: the session may end, and the close box works.
        QVERIFY(window.may_end_session());
        window.close();
        QVERIFY(window.ended());
        QCOMPARE(window.end_result(), kDialogResultCancel);
    }

    // Every status text on one line of the template's 186 units, whole, in
    // each sans-serif family a Debian desktop may give the dialog font.
    void every_status_text_fits_its_line() {
        MessageBoxes boxes;
        QStringList families{QString()};  // the system's own choice
        for (const char* family : {"DejaVu Sans", "Liberation Sans", "Noto Sans", "Cantarell", "FreeSans"}) {
            if (QFontDatabase::hasFamily(QString::fromLatin1(family))) families << QString::fromLatin1(family);
        }
        const std::string long_name(UpgradeSettings::kFirmwareFileBuffer - 1, 'f');
        for (const QString& family : families) {
            if (!family.isEmpty()) QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), family);
            {
                Program program(machine({}), settings_for("fw.bin"));
                QtDialogWindow& window = program.window();
                QVERIFY(window.start());
                auto* line = static_cast<QLabel*>(window.control(IDC_STATUS));
                QCOMPARE(line->geometry().width(), window.units().x(186));
                const int width = line->contentsRect().width();
                std::vector<std::string> texts(std::begin(text::kStatusTexts), std::end(text::kStatusTexts));
                texts.push_back(text::file_open_error("firmware-1.06.bin"));
                for (const std::string& t : texts) {
                    window.controls().set_text(IDC_STATUS, t);
                    const QString shown = QString::fromStdString(t);
                    const int needs = QFontMetrics(line->font()).horizontalAdvance(shown);
                    if (t == text::kWritingComplete) {  // the widest
                        qInfo("%s %.1fpt: %d of %d px: %s", qPrintable(QFontInfo(line->font()).family()),
                              line->font().pointSizeF(), needs, width, t.c_str());
                    }
                    QCOMPARE(line->text(), shown);
                    QVERIFY2(needs <= width, t.c_str());
                    QVERIFY(line->font().pointSizeF() >= kStatusMinimumPoints);
                }
                // The fixed texts share one font, the dialog's family.
                window.controls().set_text(IDC_STATUS, text::kWritingComplete);
                const QFont fixed = line->font();
                QCOMPARE(QFontInfo(fixed).family(), QFontInfo(window.font()).family());
                QVERIFY(fixed.pointSizeF() <= window.font().pointSizeF());
                // A name as long as FW_File takes is shown smaller, or cut in the
                // middle; the whole text stays in the tooltip.
                const std::string longest = text::file_open_error(long_name);
                window.controls().set_text(IDC_STATUS, longest);
                QVERIFY(QFontMetrics(line->font()).horizontalAdvance(line->text()) <= width);
                QCOMPARE(line->toolTip(), QString::fromStdString(longest));
                QVERIFY(line->text().startsWith(QStringLiteral("File open error...(")));
                QVERIFY(line->text().endsWith(QStringLiteral("f)")));
            }
            QFont::removeSubstitutions(QStringLiteral("MS Sans Serif"));
        }
    }

    void a_missing_library_is_reported_and_ends_the_program() {
        MessageBoxes boxes;
        sim::MachineConfig config = machine({printer(0)});
        config.library = sim::LibraryPresence::Missing;
        Program program(config, settings_for("fw.bin"));
        QVERIFY(!program.window().start());
        QVERIFY(program.window().ended());
        QCOMPARE(program.window().end_result(), kDialogResultExit);
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("Can't find 'veltport.dll' file"));
        QCOMPARE(boxes.boxes[0].caption, QStringLiteral("F/W Upgrade Utility for Windows 95/98"));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(!boxes.boxes[0].owned);
    }

    void the_program_runs_modally_from_its_settings_file() {
        MessageBoxes boxes;
        const std::string image = write_image(images_, "fw.bin", 100);
        const QString ini = images_.filePath(QStringLiteral("FWINFO.INI"));
        {
            std::ofstream out(ini.toStdString());
            out << "[Download]\nModel=VP-1000\n[VP-1000]\nFW_File=" << image << "\nFile_Ver=100\n";
        }
        std::string error;
        auto vm = sim::VirtualMachine::create(machine({printer(1, "VP-1000", "100")}), error);
        QVERIFY(vm != nullptr);
        UpgradeApp app(AppEnvironment{vm->os_version(),
                                      DialogServices{vm->parallel_ports(), vm->image_files(), vm->clock(),
                                                     vm->library_loader()},
                                      ini.toStdString()});
        QString status;
        int result = -1;
        QVERIFY(!app.init_instance([&](UpgradeDialog& logic) {
            QtDialogWindow window(logic);
            // Once the modal loop runs: verify, read the status, leave through Exit.
            QTimer::singleShot(0, [&] {
                QTest::mouseClick(window.control(IDC_VERIFY), Qt::LeftButton);
                QTimer* poll = new QTimer(&window);
                QObject::connect(poll, &QTimer::timeout, [&, poll] {
                    if (window.busy()) return;
                    poll->stop();
                    status = static_cast<QLabel*>(window.control(IDC_STATUS))->text();
                    QTest::mouseClick(window.control(IDC_EXIT), Qt::LeftButton);
                });
                poll->start(5);
            });
            result = window.run();
        }));
        QCOMPARE(status, QString::fromLatin1(text::kUpgradeNotNecessary));  // over LPT1
        QCOMPARE(result, kDialogResultExit);
        QVERIFY(!vm->library_loaded());
    }

private:
    struct Failure {
        const char* name;
        std::function<void(sim::MachineConfig&, UpgradeSettings&, const QTemporaryDir&)> setup;
        bool after_download;
        std::string status;
        bool error_box = false;
    };

    static const std::vector<Failure>& failures() {
        static const std::vector<Failure> rows{
            {"port held elsewhere", [](auto& m, auto&, auto&) { m.lpt_faults.fail_open_from = 1; }, false,
             text::kFailedToOpenLpt},
            {"nothing attached", [](auto&, auto&, auto&) {}, false, text::kDeviceNotResponding},
            {"comm state", [](auto& m, auto&, auto&) {
                 m.printers = {printer(1)};
                 m.lpt_faults.fail_timeouts_from = 1;
             }, false, text::kFailedToSetCommState},
            {"not responding", [](auto& m, auto&, auto&) {
                 m.printers = {printer(1)};
                 m.printers[0].printer.device_id_failures = 2;
             }, false, text::kDeviceNotResponding},
            {"another model", [](auto& m, auto&, auto&) { m.printers = {printer(1, "VP-2000")}; }, false,
             text::kModelNotMatched},
            {"version command lost", [](auto& m, auto&, auto&) {
                 m.printers = {printer(1)};
                 m.lpt_faults.fail_writes_from = 1;
             }, false, text::kWritingVersionCommandError},
            {"short version reply", [](auto& m, auto&, auto&) {
                 m.printers = {printer(0)};
                 m.printers[0].printer.short_replies = 1;
             }, false, text::kReadingVersionDataError},
            {"up to date over USB", [](auto& m, auto&, auto&) { m.printers = {printer(0, "VP-1000", "106")}; },
             false, text::kNoUpgradeRequired},
            {"up to date over LPT2", [](auto& m, auto& s, auto&) {
                 m.printers = {printer(2, "VP-1000", "106")};
                 s.lpt = 2;
             }, false, text::kUpgradeNotNecessary},
            {"image missing", [](auto& m, auto& s, auto&) {
                 m.printers = {printer(0)};
                 s.firmware_file = "missing.bin";
             }, true, text::file_open_error("missing.bin")},
            {"demo image too big", [](auto& m, auto& s, auto& dir) {
                 m.printers = {printer(0)};
                 s.demo = 1;
                 s.firmware_file = write_image(dir, "big.bin", 1'024'001);
             }, true, text::kDemoImageTooBig},
            {"printer busy", [](auto& m, auto&, auto&) {
                 m.printers = {printer(0)};
                 m.printers[0].printer.download_status = 1;
             }, true, text::kPrinterBusy},
            {"demo not supported", [](auto& m, auto& s, auto&) {
                 m.printers = {printer(0)};
                 m.printers[0].printer.demo_status = 2;
                 s.demo = 1;
             }, true, text::kDemoNotSupported},
            {"download command lost", [](auto& m, auto&, auto&) {
                 m.printers = {printer(1)};
                 m.lpt_faults.fail_writes_from = 2;
             }, true, text::kWritingDownloadCommandError},
            {"download reply lost", [](auto& m, auto&, auto&) {
                 m.printers = {printer(1)};
                 m.lpt_faults.fail_reads_from = 2;
             }, true, text::kReadingCommandError},
            {"image data refused over USB", [](auto& m, auto&, auto&) {
                 m.printers = {printer(0)};
                 m.printers[0].printer.fail_write_after = 8192;
             }, true, text::kWritingDataError},
            {"image data refused over LPT", [](auto& m, auto&, auto&) {
                 m.printers = {printer(1)};
                 m.lpt_faults.fail_writes_from = 3;
             }, true, text::kWritingDataError, true},
        };
        return rows;
    }

    QTemporaryDir images_;
};

}  // namespace fwup

QTEST_MAIN(fwup::QtDialogTest)
#include "qt_dialog_test.moc"
