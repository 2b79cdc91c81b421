#include "programs/qt/qt_dialog_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QThread>

#include <algorithm>
#include <climits>
#include <utility>

#include "core/dialog/dialog_template.h"
#include "core/transfer/status_texts.h"

namespace fwup {

namespace {

// The dialogs' colours: light grey with black text.
const QColor kBackground(kDialogBackground.red, kDialogBackground.green, kDialogBackground.blue);
const QColor kText(kDialogText.red, kDialogText.green, kDialogText.blue);

QString to_qt(std::string_view text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

QString to_qt(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

int to_int(std::uint32_t value) { return static_cast<int>(std::min<std::uint32_t>(value, INT_MAX)); }

QMessageBox::Icon to_qt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Information:
            break;
    }
    return QMessageBox::Information;
}

}  // namespace

QFont dialog_font() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(10);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogUnits dialog_units(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width as the dialog manager measures it, over the 52 letters.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units{(letters / 26 + 1) / 2, metrics.height()};
    // A system without any font still gets a usable window.
    if (units.base_x <= 0) units.base_x = 7;
    if (units.base_y <= 0) units.base_y = 16;
    return units;
}

namespace {

int text_width(const QFont& font, const QString& text) { return QFontMetrics(font).horizontalAdvance(text); }

// The font at the largest size from `font`'s own down to `minimum` points, in
// half points, at which `text` fits `width`; the smallest when none does.
QFont fitting(QFont font, const QString& text, int width, double minimum) {
    for (double points = font.pointSizeF(); points > minimum; points -= 0.5) {
        font.setPointSizeF(points);
        if (text_width(font, text) <= width) return font;
    }
    font.setPointSizeF(minimum);
    return font;
}

}  // namespace

QFont status_font(const QFont& dialog, int line_width) {
    QString widest;
    for (const char* text : text::kStatusTexts) {
        const QString candidate = QString::fromLatin1(text);
        if (text_width(dialog, candidate) > text_width(dialog, widest)) widest = candidate;
    }
    return fitting(dialog, widest, line_width, kStatusMinimumPoints);
}

// The control changes of the procedures, done on the window's thread. A call
// from the worker waits there until the window has done it.
class QtDialogWindow::Controls final : public DialogControls {
public:
    explicit Controls(QtDialogWindow& window) : window_(window) {}

    void set_title(const std::string& text) override {
        on_ui([&] { window_.setWindowTitle(to_qt(text)); });
    }
    void set_text(int control_id, const std::string& text) override {
        on_ui([&] {
            QWidget* control = window_.control(control_id);
            if (control_id == IDC_STATUS) {
                window_.show_status(to_qt(text));
            } else if (auto* label = qobject_cast<QLabel*>(control)) {
                label->setText(to_qt(text));
            } else if (auto* button = qobject_cast<QPushButton*>(control)) {
                button->setText(to_qt(text));
            }
        });
    }
    void enable(int control_id, bool enabled) override {
        on_ui([&] {
            if (QWidget* control = window_.control(control_id)) control->setEnabled(enabled);
        });
    }
    void show(int control_id, bool visible) override {
        on_ui([&] {
            if (QWidget* control = window_.control(control_id)) control->setVisible(visible);
        });
    }
    void set_progress_range(std::uint32_t upper) override {
        on_ui([&] { progress().setRange(0, to_int(upper)); });
    }
    void set_progress_pos(std::uint32_t pos) override {
        // Windows' progress bar keeps a position beyond the range at its end.
        on_ui([&] {
            QProgressBar& bar = progress();
            bar.setValue(std::min(to_int(pos), bar.maximum()));
        });
    }
    void begin_wait_cursor() override {
        on_ui([&] {
            if (window_.session_.wait_cursor().begin()) QApplication::setOverrideCursor(Qt::WaitCursor);
        });
    }
    void end_wait_cursor() override {
        on_ui([&] {
            if (window_.session_.wait_cursor().end()) QApplication::restoreOverrideCursor();
        });
    }
    bool ask_yes_no(const std::string& text, const std::string& caption) override {
        bool yes = false;
        on_ui([&] {
            QMessageBox box(QMessageBox::Question, to_qt(caption), to_qt(text), QMessageBox::Yes | QMessageBox::No,
                            &window_);
            box.setDefaultButton(QMessageBox::Yes);
            yes = box.exec() == QMessageBox::Yes;
        });
        return yes;
    }
    void message_box(const std::string& text, const std::string& caption, MessageIcon icon) override {
        on_ui([&] {
            QMessageBox box(to_qt(icon), to_qt(caption), to_qt(text), QMessageBox::Ok);  // no owner
            box.exec();
        });
    }
    void end_dialog(int result) override {
        on_ui([&] { window_.done(result); });
    }

private:
    template <class Call>
    void on_ui(Call&& call) {
        if (QThread::currentThread() == window_.thread()) {
            call();
            return;
        }
        QMetaObject::invokeMethod(&window_, std::forward<Call>(call), Qt::BlockingQueuedConnection);
    }

    QProgressBar& progress() { return *static_cast<QProgressBar*>(window_.control(IDC_PROGRESS)); }

    QtDialogWindow& window_;
};

QtDialogWindow::QtDialogWindow(UpgradeDialog& logic, QWidget* parent)
    : QDialog(parent),
      controls_(std::make_unique<Controls>(*this)),
      session_(logic, *controls_, [this] {
          // From the worker: the window's thread collects it when it gets there.
          QMetaObject::invokeMethod(this, [this] { session_.procedure_finished(); }, Qt::QueuedConnection);
      }) {
    build();
    // Called on the thread that runs the event loop, while the session manager waits for the answer.
    connect(
        qApp, &QGuiApplication::commitDataRequest, this,
        [this](QSessionManager& manager) {
            if (!may_end_session() && manager.allowsInteraction()) {
                manager.cancel();
                manager.release();
            }
        },
        Qt::DirectConnection);
}

QtDialogWindow::~QtDialogWindow() {
    finish_procedure();
    if (session_.wait_cursor().shown()) {
        while (session_.wait_cursor().shown()) session_.wait_cursor().end();
        QApplication::restoreOverrideCursor();
    }
}

void QtDialogWindow::build() {
    const DialogTemplate& dialog = upgrade_dialog_template();
    setWindowTitle(to_qt(dialog.caption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(QIcon(QStringLiteral(":/fwupgrade.ico")));
    setFont(dialog_font());
    units_ = dialog_units(font());
    setFixedSize(units_.x(dialog.width), units_.y(dialog.height));

    QPalette colours = palette();
    colours.setColor(QPalette::Window, kBackground);
    colours.setColor(QPalette::WindowText, kText);
    setPalette(colours);
    setAutoFillBackground(true);

    QWidget* previous_stop = nullptr;
    for (const ControlTemplate& t : dialog.controls) {
        QWidget* widget = nullptr;
        switch (t.kind) {
            case ControlKind::PushButton: {
                auto* button = new QPushButton(to_qt(t.text), this);
                // The Enter key presses the focused button, none is the default one.
                button->setAutoDefault(true);
                button->setDefault(false);
                connect(button, &QPushButton::clicked, this, [this, id = t.id] { on_button(id); });
                widget = button;
                break;
            }
            case ControlKind::Label: {
                auto* label = new QLabel(to_qt(t.text), this);
                // Texts from the settings file and the printer are shown as they are.
                label->setTextFormat(Qt::PlainText);
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
            case ControlKind::GroupBox:
                widget = new QGroupBox(to_qt(t.text), this);
                widget->lower();  // the frame stays behind the status line it frames
                break;
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(this);
                bar->setTextVisible(false);
                bar->setRange(0, 100);
                bar->setValue(0);
                widget = bar;
                break;
            }
        }
        widget->setGeometry(units_.x(t.x), units_.y(t.y), units_.x(t.width), units_.y(t.height));
        widget->setEnabled(t.enabled);
        widget->setVisible(t.visible);
        if (t.id == IDC_STATUS) {
            status_font_ = status_font(font(), units_.x(t.width));
            widget->setFont(status_font_);
        }
        if (t.id != kNoControlId) controls_by_id_[t.id] = widget;
        if (t.kind == ControlKind::PushButton) {
            if (previous_stop != nullptr) setTabOrder(previous_stop, widget);
            previous_stop = widget;
        }
    }
}

// Every fixed status text fits the line in the status font; a longer one
// (an image file's long name) is shown smaller, down to a readable size, and
// elided in the middle below that. The whole text is always the tooltip.
void QtDialogWindow::show_status(const QString& text) {
    auto* label = static_cast<QLabel*>(control(IDC_STATUS));
    const int width = label->contentsRect().width();
    const QFont font = text_width(status_font_, text) <= width
                           ? status_font_
                           : fitting(status_font_, text, width, kStatusMinimumPoints);
    label->setFont(font);
    label->setText(text_width(font, text) <= width ? text
                                                   : QFontMetrics(font).elidedText(text, Qt::ElideMiddle, width));
    label->setToolTip(text);
}

QWidget* QtDialogWindow::control(int control_id) const {
    const auto found = controls_by_id_.find(control_id);
    return found == controls_by_id_.end() ? nullptr : found->second;
}

DialogControls& QtDialogWindow::controls() { return *controls_; }

bool QtDialogWindow::busy() const { return session_.busy(); }

bool QtDialogWindow::start() {
    if (!session_.logic().initialise(*controls_) || session_.ended()) return false;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    control(IDC_EXIT)->setFocus();
    return true;
}

int QtDialogWindow::run() {
    if (start()) exec();
    finish_procedure();
    return end_result_;
}

void QtDialogWindow::finish_procedure() {
    // The worker may be waiting for this thread to do a control change.
    while (session_.busy()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtDialogWindow::on_button(int control_id) { static_cast<void>(session_.handle(DialogEvent::Button, control_id)); }

void QtDialogWindow::end_as(DialogAction action) {
    if (action == DialogAction::EndWithOk) done(kDialogResultOk);
    if (action == DialogAction::EndWithCancel) done(kDialogResultCancel);
}

void QtDialogWindow::done(int result) {
    session_.mark_ended();
    end_result_ = result;
    QDialog::done(result);
}

void QtDialogWindow::accept() { end_as(session_.handle(DialogEvent::EnterKey)); }

void QtDialogWindow::reject() { end_as(session_.handle(DialogEvent::EscapeKey)); }

bool QtDialogWindow::may_end_session() { return session_.handle(DialogEvent::EndOfSession) != DialogAction::Ignore; }

void QtDialogWindow::closeEvent(QCloseEvent* event) {
    // The close box ends the dialog through the session, which refuses while a
    // procedure runs; a dialog that has ended is hidden and may close.
    end_as(session_.handle(DialogEvent::CloseBox));
    if (isVisible()) {
        event->ignore();
    } else {
        event->accept();
    }
}

}  // namespace fwup
